#pragma once
// The page's side of an embedded control: the client site, its container
// and the HTML document whose `Script` property is the page's script object.
// One PageSite serves every control of a page.
//
// Threads: page's thread only.

#include "com/ComPtr.h"
#include "com/OleSite.h"

#include <atomic>

namespace host {

class PageSite final : public IOleClientSite, public IOleContainer, public IHTMLDocument {
public:
    static com::ComPtr<PageSite> Create();

    // The object the document's `Script` property gives; null for a page
    // without script.
    void SetScript(IDispatch* script) { m_script = script; }
    IDispatch* GetScript() const { return m_script.Get(); }
    // How often the document's `Script` property was read.
    int ScriptReads() const { return m_scriptReads; }

    // IUnknown (one object, three interfaces).
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override;

    // IOleClientSite.
    HRESULT GetContainer(IOleContainer** container) override;

    // IDispatch of the document: nothing is scriptable on it here.
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return DISP_E_MEMBERNOTFOUND; }

    // IHTMLDocument.
    HRESULT get_Script(IDispatch** script) override;

private:
    PageSite() = default;
    ~PageSite() override = default;

    std::atomic<ULONG> m_refs { 0 };
    com::ComPtr<IDispatch> m_script;
    int m_scriptReads = 0;
};

}
