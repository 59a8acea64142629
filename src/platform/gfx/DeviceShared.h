#pragma once
// What a device shares with its surfaces; not for callers outside gfx.

#include "gfx/DirectDraw.h"

#include <mutex>
#include <vector>

namespace gfx {

struct DirectDraw::Shared {
    std::mutex mutex;
    std::vector<Surface*> surfaces; // live surfaces, guarded by mutex
};

namespace detail {

DriverRules CurrentDriverRules();
// A device context drawing on `surface` (which it holds a reference on).
HDC CreateSurfaceDC(Surface* surface);
bool DeleteSurfaceDC(HDC dc, Surface* surface);

}

}
