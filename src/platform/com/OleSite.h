#pragma once
// What a control sees of the page that holds it: its client site, the
// site's container, the container's HTML document and the document's
// `Script` object (the page's global script scope as an IDispatch).

#include "com/Automation.h"

class IOleContainer : public IUnknown {
};

class IOleClientSite : public IUnknown {
public:
    // The container of the site, with a reference for the caller.
    virtual HRESULT GetContainer(IOleContainer** container) = 0;
};

class IHTMLDocument : public IDispatch {
public:
    // The page's script object, with a reference for the caller.
    virtual HRESULT get_Script(IDispatch** script) = 0;
};
