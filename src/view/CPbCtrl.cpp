#include "view/CPbCtrl.h"

#include "view/Notifications.h"

#include "media/CMediaHub.h"

#include "resources/StringTable.h"

#include "com/CodePage.h"
#include "gfx/DirectDraw.h"
#include "gfx/Surface.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// The status texts are the control's own, in code page 936.
constexpr UINT kStatusTextCodePage = 936;
constexpr const char16_t* kPausedSimplified = u"暂停";
constexpr const char16_t* kPausedTraditional = u"暫停";
constexpr const char16_t* kPausedEnglish = u"PAUSE";
constexpr const char16_t* kBufferingChinese = u"等待...%.2d%%";
constexpr const char16_t* kBufferingEnglish = u"WAITING...%.2d%%";
constexpr COLORREF kStatusTextColour = RGB(255, 0, 0);
// Where the text goes: centred on a character cell of 18 pixels; at row
// 345 of a 960-line picture, else 30 pixels above the middle.
constexpr int kStatusCellWidth = 18;
constexpr int kStatusRowAt960 = 345;
constexpr LONG kStatusPictureHeight = 960;
constexpr int kStatusRaise = 30;
// After a status text is drawn the library's thread waits this long.
constexpr auto kStatusPause = std::chrono::milliseconds(20);
// The silence counter after a close: past the black mark.
constexpr std::int32_t kSilenceAfterClose = 300;

}

CPbCtrl::CPbCtrl() : CPlayCtrl(kPlaybackWindowId)
{
    m_font = MakeWindowFont();
    m_keepRatio = true;
    m_reopenAllowed = true;
    m_streamParam = kPlaybackStreamParam;
    m_picture.width = kPlaybackPictureWidth;
    m_picture.height = kPlaybackPictureHeight;
}

void CPbCtrl::Pause()
{
    if (KzHandle channel = GetChannel())
        kz_pause_media(channel);
}

void CPbCtrl::Resume()
{
    if (KzHandle channel = GetChannel())
        kz_resume_media(channel);
}

HRESULT CPbCtrl::OnTick()
{
    std::int32_t t = m_silence.fetch_add(1) + 1;
    sys::Locker render(m_renderLock);
    if (!m_view)
        return S_OK;
    if (t > kPlaybackSilenceBlack && m_paused) {
        // Paused: the last picture and its text stay; the counter waits at
        // the mark, so that a resume without frames goes black at once.
        m_silence.compare_exchange_strong(t, kPlaybackSilenceBlack);
    } else if (t > kPlaybackSilenceBlack) {
        sys::Locker lock(m_windowLock);
        m_view->ClearComposition();
        m_silence.compare_exchange_strong(t, kPlaybackSilenceParked);
    }
    return present();
}

void CPbCtrl::DrawRgbFrame(const PictureRecord& picture, int width, int height)
{
    CPlayCtrl::DrawRgbFrame(picture, width, height);
    m_frameDrawn = true;
}

void CPbCtrl::DrawYuvFrame(const PictureRecord& picture, int width, int height)
{
    CPlayCtrl::DrawYuvFrame(picture, width, height);
    m_frameDrawn = true;
}

std::u16string CPbCtrl::statusText(int code, int value, std::size_t& bytes)
{
    const int base = languageBase();
    const bool chinese = base == resources::kLanguageSimplifiedChinese || base == resources::kLanguageTraditionalChinese;
    std::u16string wide;
    if (code == kPlaybackStatusPaused) {
        wide = base == resources::kLanguageSimplifiedChinese ? kPausedSimplified : base == resources::kLanguageTraditionalChinese ? kPausedTraditional : kPausedEnglish;
    } else {
        // The format is applied to the multibyte text, within its field.
        std::string format = com::WideToMultiByte(chinese ? kBufferingChinese : kBufferingEnglish, kStatusTextCodePage);
        char formatted[kStatusTextBytes] = {};
        std::snprintf(formatted, sizeof formatted, format.c_str(), value);
        wide = com::MultiByteToWide(formatted, kStatusTextCodePage);
    }
    std::string multibyte = com::WideToMultiByte(wide, kStatusTextCodePage);
    if (multibyte.size() >= kStatusTextBytes)
        multibyte.resize(kStatusTextBytes - 1);
    std::memset(m_statusText, 0, sizeof m_statusText);
    std::memcpy(m_statusText, multibyte.data(), multibyte.size());
    bytes = multibyte.size();
    return com::MultiByteToWide(multibyte, kStatusTextCodePage);
}

std::string CPbCtrl::StatusText() const
{
    sys::Locker lock(m_renderLock);
    return std::string(m_statusText, strnlen(m_statusText, sizeof m_statusText));
}

void CPbCtrl::drawStatusText(gfx::Surface* surface, const std::u16string& text, std::size_t bytes)
{
    if (!surface)
        return;
    const SIZE picture = PictureSize();
    const int y = picture.cy == kStatusPictureHeight ? kStatusRowAt960 : (picture.cy - kStatusRaise) / 2;
    const int x = (picture.cx - kStatusCellWidth * (static_cast<int>(bytes) + 1)) / 2;
    HDC dc = nullptr;
    if (FAILED(surface->GetDC(&dc)))
        return;
    gfx::HGDIOBJ oldFont = m_font ? gfx::SelectObject(dc, reinterpret_cast<gfx::HGDIOBJ>(m_font)) : nullptr;
    gfx::SetTextColor(dc, kStatusTextColour);
    gfx::SetBkMode(dc, gfx::TRANSPARENT);
    gfx::TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
    if (oldFont)
        gfx::SelectObject(dc, oldFont);
    surface->ReleaseDC(dc);
}

void CPbCtrl::ShowStatus(int code, int value)
{
    if (code != kPlaybackStatusPaused && code != kPlaybackStatusBuffering)
        return;
    m_paused = code == kPlaybackStatusPaused;
    m_silence = 0;
    if (value == 0)
        ui::PostMessage(m_notifyWindow, view::kNotifyPlaybackState, 0, 0);
    sys::Locker render(m_renderLock);
    if (!m_view)
        return;
    std::size_t bytes = 0;
    std::u16string text = statusText(code, value, bytes);
    if (!m_surface) {
        sys::Locker lock(m_windowLock);
        drawStatusText(m_view->Composition(), text, bytes);
        return;
    }
    if (!m_back)
        return;
    if (m_frameDrawn) {
        m_back->BltFast(0, 0, m_surface, nullptr, gfx::DDBLTFAST_WAIT);
    } else {
        gfx::DDBLTFX fx {};
        fx.dwSize = sizeof fx;
        m_back->Blt(nullptr, nullptr, nullptr, gfx::DDBLT_COLORFILL | gfx::DDBLT_WAIT, &fx);
    }
    drawStatusText(m_back, text, bytes);
    compose();
}

void CPbCtrl::CloseStream()
{
    CPlayCtrl::CloseStream();
    m_frameDrawn = false;
    m_paused = false;
    m_silence = kSilenceAfterClose;
    {
        sys::Locker lock(m_renderLock);
        if (m_surface && m_view)
            m_view->FillBlack(m_surface);
    }
    ui::PostMessage(m_notifyWindow, view::kNotifyPlaybackStopped, 0, 0);
}

void CPbCtrl::OnAudioFrame(const FrameRecord& frame, int id)
{
    if (m_audioOut)
        OnAudioData(frame.payload, static_cast<std::size_t>(frame.size), id);
}

void CPbCtrl::OnAudioData(const std::uint8_t* data, std::size_t size, int id)
{
    if (!m_hub || !data || size == 0)
        return;
    // The recording's sound is 16-bit PCM: played as it is.
    if (m_audioCopy.size() < size)
        m_audioCopy.resize(size);
    std::memcpy(m_audioCopy.data(), data, size);
    if (id == m_hub->ActiveWindow())
        m_hub->PlayAudioPcm(m_audioCopy.data(), size & ~static_cast<std::size_t>(1));
}

void CPbCtrl::OnLinkEvent(int type, int* data, int value)
{
    if (type != kz::kStatusPlayback || !data)
        return;
    const int code = *data;
    switch (code) {
    case kz::kPbRecordMissing:
    case kz::kPbRecordBroken:
        if (m_hub)
            m_hub->Request(GetId(), CMediaHub::WatchdogRequest::CloseB);
        break;
    case kz::kPbBuffering:
    case kz::kPbPaused:
        ShowStatus(code, value);
        std::this_thread::sleep_for(kStatusPause);
        break;
    case kz::kPbPlaying:
    case kz::kPbResumed:
    case kz::kPbSeeked:
        m_paused = false;
        [[fallthrough]];
    case kz::kPbLength:
        ui::PostMessage(m_notifyWindow, view::kNotifyPlaybackState, static_cast<WPARAM>(code - kz::kPbPlaying), value);
        break;
    case kz::kPbPosition:
        ui::PostMessage(m_notifyWindow, view::kNotifyPlaybackProgress, 0, value);
        break;
    case kz::kPbEnd:
        ui::PostMessage(m_notifyWindow, view::kNotifyPlaybackEnd, 0, value);
        if (m_hub)
            m_hub->Request(GetId(), CMediaHub::WatchdogRequest::CloseB);
        break;
    default:
        break;
    }
}
