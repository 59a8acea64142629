#pragma once
// Rectangles, points and sizes, with the Windows layout (right and bottom
// exclusive).

#include "sys/Types.h"

#include <algorithm>

struct POINT {
    LONG x;
    LONG y;
    bool operator==(const POINT&) const = default;
};

struct SIZE {
    LONG cx;
    LONG cy;
    bool operator==(const SIZE&) const = default;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
    bool operator==(const RECT&) const = default;
};

namespace ui {

constexpr LONG Width(const RECT& r) { return r.right - r.left; }
constexpr LONG Height(const RECT& r) { return r.bottom - r.top; }
constexpr bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
constexpr bool Contains(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

constexpr RECT Intersect(const RECT& a, const RECT& b)
{
    RECT r { std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom) };
    if (IsEmpty(r))
        return RECT { 0, 0, 0, 0 };
    return r;
}

constexpr RECT Union(const RECT& a, const RECT& b)
{
    if (IsEmpty(a))
        return b;
    if (IsEmpty(b))
        return a;
    return RECT { std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom) };
}

constexpr RECT Offset(const RECT& r, LONG dx, LONG dy) { return RECT { r.left + dx, r.top + dy, r.right + dx, r.bottom + dy }; }

}
