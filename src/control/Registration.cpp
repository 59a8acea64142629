#include "control/Registration.h"

#include "com/CodePage.h"
#include "resources/StringTable.h"
#include "sys/Registry.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <functional>

namespace control {

namespace {

constexpr const char* kThreadingModel = "Apartment";
// The longest resource text read.
constexpr std::size_t kResourceTextCapacity = 256;
// The type library's flags: it describes a control.
constexpr int kLibFlagControl = 2;
// The type library's platform under its version key.
constexpr const char* kTypeLibPlatform = "linux64";
// The system's proxy for dispatch interfaces.
constexpr GUID kDispatchProxy { 0x00020420, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };

std::string clsidKey(const GUID& clsid) { return "CLSID\\" + StringFromGuid(clsid); }
std::string typeLibKey() { return "TypeLib\\" + StringFromGuid(kTypeLibId); }
std::string versionText() { return std::to_string(kTypeLibMajor) + "." + std::to_string(kTypeLibMinor); }
std::string interfaceKey(const IID& iid) { return "Interface\\" + StringFromGuid(iid); }
std::string categoryKey(const GUID& catid) { return "Component Categories\\" + StringFromGuid(catid); }
std::string implementedKey(const GUID& catid) { return clsidKey(kControlClsid) + "\\Implemented Categories\\" + StringFromGuid(catid); }

std::string hexText(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

std::string resourceText(int id) { return com::WideToMultiByte(resources::LoadString(id, kResourceTextCapacity), com::kCodePageUtf8); }

// The store's failure as a result.
HRESULT resultOf(int error)
{
    switch (error) {
    case 0: return S_OK;
    case EACCES:
    case EPERM:
    case EROFS: return E_ACCESSDENIED;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return STG_E_MEDIUMFULL;
    default: return E_FAIL;
    }
}

// One step: the store read, changed and written back; the store's failure as a result.
HRESULT updateStore(const std::function<void(sys::RegistryStore&)>& change)
{
    sys::RegistryStore store(sys::RegistryPath());
    if (int error = store.Load())
        return resultOf(error);
    change(store);
    return resultOf(store.Save());
}

// The component-categories manager's work on the store.
HRESULT registerCategory(const GUID& catid, const char* description)
{
    std::string text(description);
    if (text.size() > kCategoryTextMax)
        text.resize(kCategoryTextMax);
    return updateStore([&](sys::RegistryStore& store) { store.SetValue(categoryKey(catid), hexText(kCategoryLocale), text); });
}

HRESULT registerImplementedCategory(const GUID& catid)
{
    return updateStore([&](sys::RegistryStore& store) { store.CreateKey(implementedKey(catid)); });
}

HRESULT unregisterImplementedCategory(const GUID& catid)
{
    return updateStore([&](sys::RegistryStore& store) {
        store.DeleteTree(implementedKey(catid));
        std::string parent = clsidKey(kControlClsid) + "\\Implemented Categories";
        if (store.SubKeys(parent).empty())
            store.DeleteTree(parent);
    });
}

void writeTypeLib(sys::RegistryStore& store, const std::string& module)
{
    const std::string version = typeLibKey() + "\\" + versionText();
    store.SetValue(version, sys::kDefaultValueName, resourceText(resources::kStringTypeName));
    store.SetValue(version + "\\0\\" + kTypeLibPlatform, sys::kDefaultValueName, module);
    store.SetValue(version + "\\FLAGS", sys::kDefaultValueName, std::to_string(kLibFlagControl));
    store.SetValue(version + "\\HELPDIR", sys::kDefaultValueName, module.substr(0, module.rfind('/') + 1));
    for (auto [iid, name] : { std::pair { kDispatchIid, kDispatchName }, std::pair { kEventsIid, kEventsName } }) {
        const std::string key = interfaceKey(iid);
        store.SetValue(key, sys::kDefaultValueName, name);
        store.SetValue(key + "\\ProxyStubClsid32", sys::kDefaultValueName, StringFromGuid(kDispatchProxy));
        store.SetValue(key + "\\TypeLib", sys::kDefaultValueName, StringFromGuid(kTypeLibId));
        store.SetValue(key + "\\TypeLib", "Version", versionText());
    }
}

void eraseTypeLib(sys::RegistryStore& store)
{
    store.DeleteTree(typeLibKey() + "\\" + versionText());
    if (store.SubKeys(typeLibKey()).empty())
        store.DeleteTree(typeLibKey());
    store.DeleteTree(interfaceKey(kDispatchIid));
    store.DeleteTree(interfaceKey(kEventsIid));
}

void writeClass(sys::RegistryStore& store, const CLSID& clsid, const char* progId, const std::string& name, const std::string& module)
{
    const std::string key = clsidKey(clsid);
    store.SetValue(key, sys::kDefaultValueName, name);
    store.SetValue(key + "\\InprocServer32", sys::kDefaultValueName, module);
    store.SetValue(key + "\\InprocServer32", "ThreadingModel", kThreadingModel);
    store.SetValue(key + "\\ProgID", sys::kDefaultValueName, progId);
    store.SetValue(progId, sys::kDefaultValueName, name);
    store.SetValue(std::string(progId) + "\\CLSID", sys::kDefaultValueName, StringFromGuid(clsid));
}

void writeClasses(sys::RegistryStore& store, const std::string& module)
{
    writeClass(store, kControlClsid, kControlProgId, resourceText(resources::kStringTypeName), module);
    const std::string control = clsidKey(kControlClsid);
    store.CreateKey(control + "\\Control");
    store.SetValue(control + "\\ToolboxBitmap32", sys::kDefaultValueName, module + ", " + std::to_string(kToolboxBitmap));
    store.SetValue(control + "\\MiscStatus", sys::kDefaultValueName, "0");
    store.SetValue(control + "\\MiscStatus\\1", sys::kDefaultValueName, std::to_string(kControlMiscStatus));
    store.SetValue(control + "\\TypeLib", sys::kDefaultValueName, StringFromGuid(kTypeLibId));
    store.SetValue(control + "\\Version", sys::kDefaultValueName, versionText());
    writeClass(store, kPropPageClsid, kPropPageProgId, resourceText(resources::kStringPropertyPage), module);
}

void eraseClasses(sys::RegistryStore& store)
{
    for (auto [clsid, progId] : { std::pair { kControlClsid, kControlProgId }, std::pair { kPropPageClsid, kPropPageProgId } }) {
        store.DeleteTree(clsidKey(clsid));
        store.DeleteTree(progId);
    }
}

}

std::string StringFromGuid(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
        guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string ModulePath()
{
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

}

extern "C" HRESULT DllRegisterServer()
{
    using namespace control;
    const std::string module = ModulePath();
    if (updateStore([&](sys::RegistryStore& store) { writeTypeLib(store, module); }) != S_OK)
        return SELFREG_E_TYPELIB;
    if (updateStore([&](sys::RegistryStore& store) { writeClasses(store, module); }) != S_OK)
        return SELFREG_E_CLASS;
    if (HRESULT hr = registerCategory(kCatidSafeForInitializing, kSafeForInitializingText); hr != S_OK)
        return hr;
    if (HRESULT hr = registerImplementedCategory(kCatidSafeForInitializing); hr != S_OK)
        return hr;
    if (HRESULT hr = registerCategory(kCatidSafeForScripting, kSafeForScriptingText); hr != S_OK)
        return hr;
    if (HRESULT hr = registerImplementedCategory(kCatidSafeForScripting); hr != S_OK)
        return hr;
    return S_OK;
}

extern "C" HRESULT DllUnregisterServer()
{
    using namespace control;
    if (updateStore(eraseTypeLib) != S_OK)
        return SELFREG_E_TYPELIB;
    if (updateStore(eraseClasses) != S_OK)
        return SELFREG_E_CLASS;
    HRESULT first = unregisterImplementedCategory(kCatidSafeForInitializing);
    HRESULT second = unregisterImplementedCategory(kCatidSafeForScripting);
    return first != S_OK ? first : second;
}
