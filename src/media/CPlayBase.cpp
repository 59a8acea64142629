#include "media/CPlayBase.h"

#include "audio/CMediaHub.h"
#include "view/CPlayView.h"

CPlayBase::~CPlayBase()
{
    CloseStream();
}

void CPlayBase::Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub)
{
    m_notifyWindow = notifyWindow;
    m_screenWidth = screenWidth;
    m_screenHeight = screenHeight;
    m_hub = hub;
    m_view = hub ? hub->GetView() : nullptr;
}

bool CPlayBase::IsViewReady()
{
    return m_view && m_view->IsReady();
}

void CPlayBase::CloseStream()
{
    sys::Locker lock(m_channelLock);
    if (KzHandle channel = m_channel.exchange(nullptr))
        kz_close_device(channel);
    m_width = 0;
    m_height = 0;
}
