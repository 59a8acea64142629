#pragma once
// The snapshot window class: the control holds fifty of them. None is
// opened in this build: pictures the camera sends are not shown yet.

#include "media/CNPWnd.h"

class CPicShowWnd : public CNPWnd {
public:
    CPicShowWnd() = default;

    bool IsOpen() const { return m_hWnd != nullptr; }
};
