#pragma once
// The control's property page. A host that offers the control's pages
// shows it with its caption, the string table's general-page text; it has
// no controls, so it neither reads nor changes the control.

#include "com/Automation.h"

#include <string>
#include <vector>

namespace control {

class CTiravexPropPage {
public:
    CTiravexPropPage();

    static const CLSID& Clsid();
    const std::u16string& Caption() const { return m_caption; }

private:
    std::u16string m_caption;
};

// The pages the control offers, by class identifier.
std::vector<CLSID> ControlPropPages();

}
