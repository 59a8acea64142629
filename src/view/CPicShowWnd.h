#pragma once
// A snapshot window: shows one picture that the camera sent, and can save
// it as a JPEG file. The control holds fifty of them.

#include "media/CNPWnd.h"

class CPicShowWnd : public CNPWnd {
public:
    CPicShowWnd() = default;

    bool IsOpen() const { return m_hWnd != nullptr; }
};
