#pragma once
// What the tests of the stream players, the video windows and the editors
// share: the control window they notify, kept as a list of what was posted,
// and frames handed to a player as the network library hands them.

#include "media/CPlayBase.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace testing_support {

// Stands in for the control window: keeps the messages posted to it.
struct NotifyWindow : ui::WindowHandler {
    std::vector<MSG> posted;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message >= WM_USER)
            posted.push_back(MSG { window, message, wParam, lParam, 0 });
        return ui::CallClassProc(window, message, wParam, lParam);
    }
    int count(UINT message) const
    {
        return static_cast<int>(std::count_if(posted.begin(), posted.end(), [&](const MSG& m) { return m.message == message; }));
    }
};

// One frame of `kind` through the player's frame callback, at 25 fps.
inline void Feed(CPlayBase& player, int kind, const std::vector<std::uint8_t>& payload, bool key, int id)
{
    constexpr std::int32_t kFrameRate = 25;
    FrameRecord frame {};
    frame.frameRate = kFrameRate;
    frame.size = static_cast<std::int32_t>(payload.size());
    frame.keyFrame = key ? 1 : 0;
    frame.payload = payload.data();
    CPlayBase::FrameCallback(kind, &frame, &player, id);
}

}
