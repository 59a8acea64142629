#pragma once
// Where the device link hands its typed events: the control implements it
// and turns them into page events and state.
//
// Threads: OnLinkEvent runs on the page's thread, from the link's mailbox
// window (never on a library thread).

#include "link/LinkEvents.h"

namespace devlink {

class LinkSink {
public:
    virtual void OnLinkEvent(const LinkEvent& event) = 0;

protected:
    ~LinkSink() = default;
};

}
