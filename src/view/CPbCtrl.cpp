#include "view/CPbCtrl.h"

CPbCtrl::CPbCtrl() : CPlayCtrl(kPlaybackWindowId)
{
    m_keepRatio = true;
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
