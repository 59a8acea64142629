#pragma once
// A window handler for tests that act while a modal loop (an open popup
// menu) runs on their own thread: each tick of its timer runs the next step,
// as a person's next move would come.

#include "ui/Window.h"

#include <deque>
#include <functional>

namespace testing_support {

constexpr UINT_PTR kStepTimer = 1;

struct StepScript final : ui::WindowHandler {
    std::deque<std::function<void()>> steps;
    std::function<void(UINT)> seen; // when set, told of every message

    LRESULT WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) override
    {
        if (m == WM_TIMER && wp == kStepTimer && !steps.empty()) {
            auto step = std::move(steps.front());
            steps.pop_front();
            step();
        }
        if (seen)
            seen(m);
        return ui::DefWindowProc(w, m, wp, lp);
    }
};

}
