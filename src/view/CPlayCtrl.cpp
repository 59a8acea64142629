#include "view/CPlayCtrl.h"

CPlayCtrl::~CPlayCtrl()
{
    DestroyMenu();
}

void CPlayCtrl::DestroyMenu()
{
    if (m_menu)
        ui::DestroyMenu(m_menu);
    m_menu = nullptr;
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

CPbCtrl::CPbCtrl() : CPlayCtrl(kPlaybackWindowId)
{
    m_keepRatio = true;
}
