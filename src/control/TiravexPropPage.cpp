#include "control/TiravexPropPage.h"

#include "control/Registration.h"
#include "resources/StringTable.h"

namespace control {

namespace {
// The longest caption a page shows.
constexpr std::size_t kCaptionCapacity = 256;
}

CTiravexPropPage::CTiravexPropPage()
    : m_caption(resources::LoadString(resources::kStringPropertyPage, kCaptionCapacity))
{
}

const CLSID& CTiravexPropPage::Clsid() { return kPropPageClsid; }

std::vector<CLSID> ControlPropPages() { return { CTiravexPropPage::Clsid() }; }

}
