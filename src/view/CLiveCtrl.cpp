#include "view/CLiveCtrl.h"

#include <algorithm>

namespace {

// A picture this size or smaller is a small one.
constexpr std::uint32_t kSmallPictureWidth = 320;
constexpr std::uint32_t kSmallPictureHeight = 240;

}

CLiveCtrl::CLiveCtrl() : CPlayCtrl(kLiveWindowId)
{
    m_keepRatio = true;
}

void CLiveCtrl::ToggleScreenPtz(int, int)
{
    m_screenPtz = !m_screenPtz;
}

int CLiveCtrl::BeginPtzMove()
{
    m_ptzMoving = true;
    return m_ptzDirection;
}

void CLiveCtrl::SetAudioBlockLength(std::int32_t length)
{
    KzHandle channel = GetChannel();
    if (!channel || length == 0)
        return;
    m_audioLength = length;
    kz_post_media_msg(channel, kz::kMediaMsgAudioLength, length, 0);
}

void CLiveCtrl::SetStreamInfo(const std::uint8_t* info, std::size_t size)
{
    std::size_t n = std::min(size, sizeof m_streamInfo);
    std::copy(info, info + n, m_streamInfo);
    if (GetPictureWidth() <= kSmallPictureWidth && GetPictureHeight() <= kSmallPictureHeight)
        m_smallVideo = true;
}
