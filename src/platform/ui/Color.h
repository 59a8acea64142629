#pragma once
// Colours as 0x00BBGGRR, the Windows COLORREF layout.

#include "sys/Types.h"

using COLORREF = DWORD;

constexpr COLORREF RGB(int r, int g, int b) { return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16)); }
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }

// A class background that is not painted at all.
constexpr COLORREF kNoBackground = 0xFF000000u;
