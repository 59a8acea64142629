#include "host/PageSite.h"

namespace host {

com::ComPtr<PageSite> PageSite::Create() { return com::ComPtr<PageSite>(new PageSite); }

HRESULT PageSite::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
        *object = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleContainer)
        *object = static_cast<IOleContainer*>(this);
    else if (iid == IID_IHTMLDocument || iid == IID_IDispatch)
        *object = static_cast<IHTMLDocument*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG PageSite::Release()
{
    ULONG left = --m_refs;
    if (left == 0)
        delete this;
    return left;
}

HRESULT PageSite::GetContainer(IOleContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = static_cast<IOleContainer*>(this);
    AddRef();
    return S_OK;
}

HRESULT PageSite::GetTypeInfoCount(UINT* count)
{
    if (count)
        *count = 0;
    return S_OK;
}

HRESULT PageSite::get_Script(IDispatch** script)
{
    if (!script)
        return E_POINTER;
    ++m_scriptReads;
    *script = m_script.Get();
    if (!*script)
        return E_FAIL;
    (*script)->AddRef();
    return S_OK;
}

}
