#include "present/Presenter.h"

#include "present/HeadlessPresenter.h"
#include "present/SdlPresenter.h"

#include "gfx/Gdi.h"

namespace present {

std::unique_ptr<Presenter> CreatePresenter(Kind kind)
{
    gfx::InstallBackgroundEraser();
    if (kind == Kind::Headless)
        return std::make_unique<HeadlessPresenter>();
    return SdlPresenter::Create();
}

}
