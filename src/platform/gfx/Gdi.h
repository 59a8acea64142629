#pragma once
// Device contexts and drawing objects, with GDI's names, values and
// behaviour, on any display-format surface, on a window (which draws onto
// the screen, clipped to its visible part, or for BeginPaint also to its
// update rectangle) and on a memory device context's bitmap.
//
// Objects: pens (solid, dash, dot, dash-dot, dash-dot-dot, null; any width;
// styles scale with the width), brushes (solid, hatched, null), fonts (see
// Font.h) and 32-bit bitmaps. Whoever creates an object deletes it with
// DeleteObject; stock objects are never deleted.
//
// Threads: a device context is used by one thread at a time; objects may be
// shared once made.

#include "gfx/Forward.h"

#include "ui/Window.h"

namespace gfx {

using HGDIOBJ = struct HGDIOBJ__*;
using HPEN = struct HPEN__*;
using HBRUSH = struct HBRUSH__*;
using HFONT = struct HFONT__*;
using HBITMAP = struct HBITMAP__*;

constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;

constexpr int HS_HORIZONTAL = 0;
constexpr int HS_VERTICAL = 1;
constexpr int HS_FDIAGONAL = 2;
constexpr int HS_BDIAGONAL = 3;
constexpr int HS_CROSS = 4;
constexpr int HS_DIAGCROSS = 5;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Stretch modes.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD BI_RGB = 0;
constexpr int GDI_ERROR = -1;

// Font weights, character sets and precisions of CreateFont.
constexpr int FW_DONTCARE = 0;
constexpr int FW_THIN = 100;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr DWORD ANSI_CHARSET = 0;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD GB2312_CHARSET = 134;
constexpr DWORD CHINESEBIG5_CHARSET = 136;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD OUT_CHARACTER_PRECIS = 2;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD CLIP_CHARACTER_PRECIS = 1;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD FF_DONTCARE = 0x00;
constexpr DWORD FF_ROMAN = 0x10;
constexpr DWORD FF_SWISS = 0x20;
constexpr DWORD FF_MODERN = 0x30;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; // negative: rows top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
constexpr DWORD kBitmapInfoHeaderSize = 40;
static_assert(sizeof(BITMAPINFOHEADER) == kBitmapInfoHeaderSize);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
};

// Device contexts.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// Erases the background when asked to (WM_ERASEBKGND), validates the
// window and returns a device context clipped to the update rectangle.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// A memory device context, holding a 1 x 1 bitmap until one is selected.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);

// Objects.
HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateHatchBrush(int hatch, COLORREF color);
HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline, DWORD strikeOut, DWORD charset, DWORD outPrecision, DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char16_t* face);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline, DWORD strikeOut, DWORD charset, DWORD outPrecision, DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* face);
// A 32-bit bitmap; `bits` (rows top-down, 4 bytes a pixel, B G R X) may be
// null for a black one.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// Describes a bitmap object in a BITMAP (`size` bytes at `out`): returns
// the bytes written, 0 for other objects or too small a buffer. bmBits is
// null, as for a bitmap not made by CreateDIBSection.
int GetObjectW(HGDIOBJ object, int size, void* out);
HGDIOBJ GetStockObject(int object);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
// The font object's FreeType face chain (null for other objects).
const Font* FontOf(HFONT font);

// State.
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
int SetStretchBltMode(HDC dc, int mode);

// Drawing; coordinates are the device context's.
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
// Draws from the current position up to, not including, (x, y).
BOOL LineTo(HDC dc, int x, int y);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Text with its cell's top-left corner at (x, y).
BOOL TextOutW(HDC dc, int x, int y, const char16_t* text, int count);
BOOL GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, SIZE* size);
// Only 32-bit BI_RGB pictures; returns the rows drawn, 0 on failure.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSource, int ySource, int sourceWidth, int sourceHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);
BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC source, int xSource, int ySource, DWORD rop);
// The colour at (x, y) as a COLORREF; CLR_INVALID outside the clip.
COLORREF GetPixel(HDC dc, int x, int y);
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// Makes ui's background erasing fill windows through a window device
// context. Idempotent; the drawing layer's users call it once at start.
void InstallBackgroundEraser();

}
