#pragma once
// The presenter that shows nothing: the screen exists in memory only and is
// saved as PNG on request. Costs nothing; the default for tests.

#include "present/Presenter.h"

namespace present {

class HeadlessPresenter final : public Presenter {
public:
    Kind GetKind() const override { return Kind::Headless; }
    std::uint64_t FramesShown() const override { return 0; }
};

}
