#include "host/PageHost.h"

#include "com/CodePage.h"
#include "com/Unknown.h"
#include "control/TiravexCtrl.h"
#include "ui/Dialogs.h"
#include "ui/Input.h"
#include "ui/Menu.h"
#include "ui/Monitor.h"

#include "gfx/Gdi.h"
#include "present/Presenter.h"

#include <duktape.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace host {

namespace {

constexpr const char* kPageClass = "TiravexPage";
constexpr const char* kTimerClass = "TiravexPageTimers";
constexpr const char* kHostKey = "\xFF" "host";
constexpr const char* kTimersKey = "\xFF" "timers";
// Without a time limit, the loop looks for the end this often.
constexpr DWORD kUnlimitedSliceMs = 60000;
constexpr DISPID kFirstPageId = 1;

// Wraps a control in a proxy whose members are looked up by name on the
// control's IDispatch: methods become functions, properties values.
constexpr const char* kPrelude = R"JS(
var __tvWrap = function (handle) {
    return new Proxy({}, {
        get: function (target, name) {
            if (typeof name !== 'string') return undefined;
            var kind = __tvKind(handle, name);
            if (kind === 1) return function () { return __tvCall(handle, name, Array.prototype.slice.call(arguments)); };
            if (kind === 2) return __tvGet(handle, name);
            return undefined;
        },
        set: function (target, name, value) { __tvSet(handle, name, value); return true; }
    });
};
)JS";

}

// The page's script object as the controls see it: its global functions.
class ScriptObject final : public com::RefCounted<IDispatch> {
public:
    explicit ScriptObject(PageHost& host) : m_host(host) { }

    HRESULT QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!names || !ids || count != 1)
            return E_INVALIDARG;
        std::string name = com::WideToMultiByte(names[0], com::kCodePageUtf8);
        duk_context* ctx = m_host.m_duk;
        bool isFunction = ctx && duk_get_global_string(ctx, name.c_str()) && duk_is_function(ctx, -1);
        if (ctx)
            duk_pop(ctx);
        if (!isFunction) {
            *ids = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        for (std::size_t i = 0; i < m_names.size(); ++i)
            if (m_names[i] == name) {
                *ids = kFirstPageId + static_cast<DISPID>(i);
                return S_OK;
            }
        m_names.push_back(name);
        *ids = kFirstPageId + static_cast<DISPID>(m_names.size() - 1);
        return S_OK;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        duk_context* ctx = m_host.m_duk;
        std::size_t index = static_cast<std::size_t>(id - kFirstPageId);
        if (!ctx || id < kFirstPageId || index >= m_names.size())
            return DISP_E_MEMBERNOTFOUND;
        const std::string name = m_names[index];
        duk_get_global_string(ctx, name.c_str());
        if (!duk_is_function(ctx, -1)) {
            duk_pop(ctx);
            return DISP_E_MEMBERNOTFOUND;
        }
        UINT count = params ? params->cArgs : 0;
        duk_require_stack(ctx, static_cast<duk_idx_t>(count) + 1); // the login report has 133
        for (UINT i = count; i-- > 0;)
            PushVariant(ctx, params->rgvarg[i]); // the first argument is the last one packed
        if (duk_pcall(ctx, static_cast<duk_idx_t>(count)) != DUK_EXEC_SUCCESS)
            m_host.reportError(name); // reported here; the control does not call again
        else if (result)
            *result = ToVariant(ctx, -1);
        duk_pop(ctx);
        return S_OK;
    }

private:
    PageHost& m_host;
    std::vector<std::string> m_names;
};

struct PageHost::TimerHandler final : ui::WindowHandler {
    PageHost* host = nullptr;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_TIMER) {
            host->fireTimer(wParam);
            return 0;
        }
        return ui::DefWindowProc(window, message, wParam, lParam);
    }
};

void PushVariant(duk_context* ctx, const VARIANT& v)
{
    switch (v.vt) {
    case VT_I4:
    case VT_INT: duk_push_int(ctx, v.lVal); break;
    case VT_I2: duk_push_int(ctx, v.iVal); break;
    case VT_UI4: duk_push_uint(ctx, v.ulVal); break;
    case VT_R8: duk_push_number(ctx, v.dblVal); break;
    case VT_BOOL: duk_push_boolean(ctx, v.boolVal != VARIANT_FALSE); break;
    case VT_BSTR: {
        std::string text = com::BstrToUtf8(v.bstrVal);
        duk_push_lstring(ctx, text.data(), text.size());
        break;
    }
    case VT_NULL: duk_push_null(ctx); break;
    default: duk_push_undefined(ctx); break;
    }
}

VARIANT ToVariant(duk_context* ctx, int index)
{
    VARIANT v;
    VariantInit(&v);
    if (duk_is_boolean(ctx, index)) {
        v.vt = VT_BOOL;
        v.boolVal = duk_get_boolean(ctx, index) ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (duk_is_number(ctx, index)) {
        double n = duk_get_number(ctx, index);
        if (std::floor(n) == n && n >= -2147483648.0 && n <= 2147483647.0) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(n);
        } else {
            v.vt = VT_R8;
            v.dblVal = n;
        }
    } else if (duk_is_string(ctx, index)) {
        duk_size_t length = 0;
        const char* text = duk_get_lstring(ctx, index, &length);
        v.vt = VT_BSTR;
        v.bstrVal = com::Utf8ToBstr(std::string_view(text, length));
    } else if (duk_is_null(ctx, index)) {
        v.vt = VT_NULL;
    }
    return v;
}

PageHost::PageHost(PageOptions options) : m_options(std::move(options))
{
    if (!ui::IsClassRegistered(kPageClass)) {
        WNDCLASS page;
        page.lpszClassName = kPageClass;
        page.background = RGB(255, 255, 255);
        ui::RegisterClass(page);
        WNDCLASS timers;
        timers.lpszClassName = kTimerClass;
        ui::RegisterClass(timers);
    }
    m_page = ui::CreateWindowEx(0, kPageClass, "page", WS_POPUP | WS_VISIBLE, 0, 0, ui::GetSystemMetrics(SM_CXSCREEN), ui::GetSystemMetrics(SM_CYSCREEN), nullptr);
    m_timerHandler = std::make_unique<TimerHandler>();
    m_timerHandler->host = this;
    ui::CreateWindowEx(0, kTimerClass, "timers", WS_POPUP, 0, 0, 0, 0, nullptr, m_timerHandler.get());

    gfx::InstallBackgroundEraser();
    m_presenter = present::CreatePresenter(present::Kind::Headless);
    m_duk = duk_create_heap_default();
    m_script = new ScriptObject(*this);
    m_site = PageSite::Create();
    m_site->SetScript(m_script);
    install();
}

PageHost::~PageHost()
{
    for (auto* c : m_controls)
        c->Release();
    m_controls.clear();
    m_site->SetScript(nullptr);
    if (m_duk)
        duk_destroy_heap(m_duk);
    m_duk = nullptr;
    m_script->Release();
    m_keptAlive.clear();
    for (HWND w : ui::GetTopLevelWindows())
        if (ui::GetClassName(w) == kTimerClass && ui::GetWindowHandler(w) == m_timerHandler.get())
            ui::DestroyWindow(w);
    ui::DestroyWindow(m_page);
}

PageHost* PageHost::From(duk_context* ctx)
{
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kHostKey);
    auto* host = static_cast<PageHost*>(duk_get_pointer(ctx, -1));
    duk_pop_2(ctx);
    return host;
}

void PageHost::install()
{
    duk_context* ctx = m_duk;
    duk_push_global_stash(ctx);
    duk_push_pointer(ctx, this);
    duk_put_prop_string(ctx, -2, kHostKey);
    duk_push_object(ctx);
    duk_put_prop_string(ctx, -2, kTimersKey);
    duk_pop(ctx);

    struct Native {
        const char* name;
        duk_c_function function;
        duk_idx_t args;
    };
    const Native globals[] = {
        { "createControl", jsCreateControl, 1 }, { "__tvKind", jsMemberKind, 2 }, { "__tvGet", jsMemberGet, 2 },
        { "__tvSet", jsMemberSet, 3 }, { "__tvCall", jsMemberCall, 3 }, { "setTimeout", jsSetTimeout, DUK_VARARGS },
        { "clearTimeout", jsClearTimeout, 1 },
    };
    for (const auto& n : globals) {
        duk_push_c_function(ctx, n.function, n.args);
        duk_put_global_string(ctx, n.name);
    }
    duk_push_object(ctx);
    duk_push_c_function(ctx, jsConsoleLog, DUK_VARARGS);
    duk_put_prop_string(ctx, -2, "log");
    duk_put_global_string(ctx, "console");

    duk_push_object(ctx);
    const Native hostFunctions[] = {
        { "exit", jsExit, 1 }, { "screenshot", jsScreenshot, 1 }, { "mouse", jsMouse, 4 }, { "key", jsKey, 2 }, { "chooseMenu", jsChooseMenu, 1 }, { "chooseFile", jsChooseFile, 1 }, { "answerDialog", jsAnswerDialog, 1 },
    };
    for (const auto& n : hostFunctions) {
        duk_push_c_function(ctx, n.function, n.args);
        duk_put_prop_string(ctx, -2, n.name);
    }
    duk_push_string(ctx, m_options.outputFolder.c_str());
    duk_put_prop_string(ctx, -2, "outputFolder");
    duk_push_object(ctx);
    for (const auto& [key, value] : m_options.args) {
        duk_push_string(ctx, value.c_str());
        duk_put_prop_string(ctx, -2, key.c_str());
    }
    duk_put_prop_string(ctx, -2, "args");
    duk_put_global_string(ctx, "host");

    if (duk_peval_string(ctx, kPrelude) != 0)
        reportError("prelude");
    duk_pop(ctx);
}

void PageHost::reportError(const std::string& where)
{
    std::string message = duk_safe_to_stacktrace(m_duk, -1);
    std::fprintf(stderr, "tiravex-page: script error in %s: %s\n", where.c_str(), message.c_str());
}

bool PageHost::Eval(const std::string& source)
{
    if (duk_peval_lstring(m_duk, source.data(), source.size()) != 0) {
        reportError("page");
        duk_pop(m_duk);
        return false;
    }
    duk_pop(m_duk);
    return true;
}

bool PageHost::RunUntil(const std::function<bool()>& done, unsigned timeoutMs)
{
    return ui::RunUntil([&] { return m_exitCode.has_value() || done(); }, timeoutMs) && done();
}

int PageHost::RunFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tiravex-page: cannot read %s\n", path.c_str());
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    return run(text.str(), path);
}

int PageHost::RunText(const std::string& source, const std::string& name) { return run(source, name); }

int PageHost::run(const std::string& source, const std::string& name)
{
    for (auto& installer : m_installers)
        installer(m_duk);
    duk_push_string(m_duk, name.c_str());
    if (duk_pcompile_lstring_filename(m_duk, 0, source.data(), source.size()) != 0 || duk_pcall(m_duk, 0) != DUK_EXEC_SUCCESS) {
        reportError(name);
        duk_pop(m_duk);
        return 1;
    }
    duk_pop(m_duk);
    // The page ends when it exits, or when the person closes its window.
    auto finished = [&] { return m_exitCode.has_value() || (m_presenter && m_presenter->WindowClosed()); };
    // The exit comes from the page's own script, a closed window with a
    // message, so the loop sleeps between messages.
    bool ended;
    if (m_options.timeoutMs == kNoTimeLimit) {
        while (!(ended = ui::RunUntil(finished, kUnlimitedSliceMs, ui::kRunNoPoll))) { }
    } else {
        ended = ui::RunUntil(finished, m_options.timeoutMs, ui::kRunNoPoll);
    }
    if (!ended) {
        std::fprintf(stderr, "tiravex-page: the page did not finish within %u ms\n", m_options.timeoutMs);
        return 2;
    }
    return m_exitCode.value_or(0);
}

void PageHost::fireTimer(UINT_PTR id)
{
    HWND window = nullptr;
    for (HWND w : ui::GetTopLevelWindows())
        if (ui::GetWindowHandler(w) == m_timerHandler.get())
            window = w;
    ui::KillTimer(window, id);
    duk_context* ctx = m_duk;
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kTimersKey);
    duk_push_uint(ctx, static_cast<duk_uint_t>(id));
    duk_get_prop(ctx, -2); // [stash timers fn]
    duk_push_uint(ctx, static_cast<duk_uint_t>(id));
    duk_del_prop(ctx, -3);
    if (duk_is_function(ctx, -1)) {
        if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS)
            reportError("a timer");
    }
    duk_pop_3(ctx);
}

namespace {

control::CTiravexCtrl* controlOf(duk_context* ctx, int index)
{
    PageHost* host = PageHost::From(ctx);
    duk_uint_t handle = duk_require_uint(ctx, index);
    if (!host || handle >= host->Controls().size())
        return nullptr;
    return host->Controls()[handle];
}

DISPID idOf(control::CTiravexCtrl* c, const char* name)
{
    std::u16string wide = com::MultiByteToWide(name, com::kCodePageUtf8);
    LPOLESTR names[] = { wide.data() };
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(c->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return DISPID_UNKNOWN;
    return id;
}

void pushResult(duk_context* ctx, HRESULT hr, VARIANT& result, const char* name)
{
    if (FAILED(hr)) {
        std::fprintf(stderr, "tiravex-page: %s failed (0x%08X)\n", name, static_cast<unsigned>(hr));
        duk_push_undefined(ctx);
    } else {
        PushVariant(ctx, result);
    }
    VariantClear(&result);
}

LONG intProperty(duk_context* ctx, int index, const char* name, LONG fallback)
{
    LONG value = fallback;
    if (duk_get_prop_string(ctx, index, name) && duk_is_number(ctx, -1))
        value = static_cast<LONG>(duk_get_int(ctx, -1));
    duk_pop(ctx);
    return value;
}

}

int PageHost::jsCreateControl(duk_context* ctx)
{
    PageHost* host = From(ctx);
    if (!duk_is_object(ctx, 0))
        duk_push_object(ctx), duk_replace(ctx, 0);
    control::PropertyBag bag;
    if (duk_get_prop_string(ctx, 0, "Self") && !duk_is_undefined(ctx, -1))
        bag["Self"] = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    LONG x = intProperty(ctx, 0, "x", 0), y = intProperty(ctx, 0, "y", 0);
    LONG width = intProperty(ctx, 0, "width", 640), height = intProperty(ctx, 0, "height", 480);

    auto* c = control::CTiravexCtrl::Create();
    c->LoadProperties(bag);
    c->SetClientSite(host->m_site.Get());
    c->CreateControlWindow(host->m_page, RECT { x, y, x + width, y + height });
    host->m_controls.push_back(c);

    duk_get_global_string(ctx, "__tvWrap");
    duk_push_uint(ctx, static_cast<duk_uint_t>(host->m_controls.size() - 1));
    duk_call(ctx, 1);
    return 1;
}

int PageHost::jsMemberKind(duk_context* ctx)
{
    control::CTiravexCtrl* c = controlOf(ctx, 0);
    const char* name = duk_require_string(ctx, 1);
    int kind = 0;
    if (c) {
        DISPID id = idOf(c, name);
        MemberKind k = MemberKind::Unknown;
        if (id != DISPID_UNKNOWN && SUCCEEDED(c->GetMemberKind(id, &k)))
            kind = k == MemberKind::Method ? 1 : k == MemberKind::Property ? 2 : 0;
    }
    duk_push_int(ctx, kind);
    return 1;
}

int PageHost::jsMemberGet(duk_context* ctx)
{
    control::CTiravexCtrl* c = controlOf(ctx, 0);
    const char* name = duk_require_string(ctx, 1);
    VARIANT result;
    VariantInit(&result);
    DISPID id = c ? idOf(c, name) : DISPID_UNKNOWN;
    HRESULT hr = id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : c->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr);
    pushResult(ctx, hr, result, name);
    return 1;
}

int PageHost::jsMemberSet(duk_context* ctx)
{
    control::CTiravexCtrl* c = controlOf(ctx, 0);
    const char* name = duk_require_string(ctx, 1);
    DISPID id = c ? idOf(c, name) : DISPID_UNKNOWN;
    if (id == DISPID_UNKNOWN) {
        std::fprintf(stderr, "tiravex-page: the control has no property %s\n", name);
        return 0;
    }
    VARIANT value = ToVariant(ctx, 2);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params { &value, &named, 1, 1 };
    HRESULT hr = c->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    if (FAILED(hr))
        std::fprintf(stderr, "tiravex-page: setting %s failed (0x%08X)\n", name, static_cast<unsigned>(hr));
    VariantClear(&value);
    return 0;
}

int PageHost::jsMemberCall(duk_context* ctx)
{
    control::CTiravexCtrl* c = controlOf(ctx, 0);
    const char* name = duk_require_string(ctx, 1);
    duk_size_t count = duk_get_length(ctx, 2);
    std::vector<VARIANT> args(count);
    for (duk_size_t i = 0; i < count; ++i) {
        duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
        args[count - 1 - i] = ToVariant(ctx, -1); // last argument first
        duk_pop(ctx);
    }
    DISPPARAMS params { args.data(), nullptr, static_cast<UINT>(count), 0 };
    VARIANT result;
    VariantInit(&result);
    DISPID id = c ? idOf(c, name) : DISPID_UNKNOWN;
    HRESULT hr = id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : c->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    for (auto& a : args)
        VariantClear(&a);
    pushResult(ctx, hr, result, name);
    return 1;
}

int PageHost::jsSetTimeout(duk_context* ctx)
{
    PageHost* host = From(ctx);
    if (!duk_is_function(ctx, 0))
        return DUK_RET_TYPE_ERROR;
    double delay = duk_get_top(ctx) > 1 ? duk_to_number(ctx, 1) : 0;
    if (!(delay >= 0))
        delay = 0;
    UINT_PTR id = host->m_nextTimer++;
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kTimersKey);
    duk_push_uint(ctx, static_cast<duk_uint_t>(id));
    duk_dup(ctx, 0);
    duk_put_prop(ctx, -3);
    duk_pop_2(ctx);
    HWND window = nullptr;
    for (HWND w : ui::GetTopLevelWindows())
        if (ui::GetWindowHandler(w) == host->m_timerHandler.get())
            window = w;
    ui::SetTimer(window, id, static_cast<UINT>(delay));
    duk_push_uint(ctx, static_cast<duk_uint_t>(id));
    return 1;
}

int PageHost::jsClearTimeout(duk_context* ctx)
{
    PageHost* host = From(ctx);
    if (!duk_is_number(ctx, 0))
        return 0;
    UINT_PTR id = duk_get_uint(ctx, 0);
    for (HWND w : ui::GetTopLevelWindows())
        if (ui::GetWindowHandler(w) == host->m_timerHandler.get())
            ui::KillTimer(w, id);
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kTimersKey);
    duk_push_uint(ctx, static_cast<duk_uint_t>(id));
    duk_del_prop(ctx, -2);
    duk_pop_2(ctx);
    return 0;
}

int PageHost::jsConsoleLog(duk_context* ctx)
{
    PageHost* host = From(ctx);
    std::string line;
    duk_idx_t n = duk_get_top(ctx);
    for (duk_idx_t i = 0; i < n; ++i) {
        if (i)
            line += ' ';
        line += duk_safe_to_string(ctx, i);
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    host->m_console.push_back(line);
    return 0;
}

int PageHost::jsExit(duk_context* ctx)
{
    PageHost* host = From(ctx);
    host->m_exitCode = duk_is_number(ctx, 0) ? duk_get_int(ctx, 0) : 0;
    return 0;
}

int PageHost::jsMouse(duk_context* ctx)
{
    static const std::map<std::string, ui::MouseAction> kinds = {
        { "move", ui::MouseAction::Move }, { "down", ui::MouseAction::LeftDown }, { "up", ui::MouseAction::LeftUp },
        { "leftdown", ui::MouseAction::LeftDown }, { "leftup", ui::MouseAction::LeftUp },
        { "rightdown", ui::MouseAction::RightDown }, { "rightup", ui::MouseAction::RightUp },
        { "middledown", ui::MouseAction::MiddleDown }, { "middleup", ui::MouseAction::MiddleUp },
        { "wheelup", ui::MouseAction::Wheel }, { "wheeldown", ui::MouseAction::Wheel },
    };
    std::string kind = duk_safe_to_string(ctx, 0);
    auto it = kinds.find(kind);
    if (it == kinds.end()) {
        std::fprintf(stderr, "tiravex-page: unknown mouse action %s\n", kind.c_str());
        return 0;
    }
    UINT modifiers = ui::ModNone;
    if (duk_is_number(ctx, 3))
        modifiers = static_cast<UINT>(duk_get_int(ctx, 3));
    else if (duk_is_string(ctx, 3)) {
        std::string m = duk_get_string(ctx, 3);
        if (m.find("shift") != std::string::npos)
            modifiers |= ui::ModShift;
        if (m.find("ctrl") != std::string::npos || m.find("control") != std::string::npos)
            modifiers |= ui::ModControl;
    }
    constexpr int kWheelStep = 120;
    int wheel = kind == "wheelup" ? kWheelStep : kind == "wheeldown" ? -kWheelStep : 0;
    ui::InjectMouse(it->second, POINT { duk_to_int(ctx, 1), duk_to_int(ctx, 2) }, modifiers, wheel);
    return 0;
}

int PageHost::jsKey(duk_context* ctx)
{
    std::string kind = duk_safe_to_string(ctx, 0);
    UINT key = ui::VirtualKeyFromName(duk_safe_to_string(ctx, 1));
    if (!key) {
        std::fprintf(stderr, "tiravex-page: unknown key %s\n", duk_safe_to_string(ctx, 1));
        return 0;
    }
    if (kind == "down" || kind == "press")
        ui::InjectKey(true, key);
    if (kind == "up" || kind == "press")
        ui::InjectKey(false, key);
    return 0;
}

bool PageHost::ShowOnDisplay()
{
    auto window = present::CreatePresenter(present::Kind::Window);
    if (!window)
        return false;
    m_presenter = std::move(window);
    return true;
}

std::string PageHost::OutputPath(const std::string& path) const
{
    if (path.empty() || path[0] == '/' || m_options.outputFolder.empty())
        return path;
    return m_options.outputFolder + "/" + path;
}

int PageHost::jsScreenshot(duk_context* ctx)
{
    PageHost* host = From(ctx);
    std::string path = host->OutputPath(duk_safe_to_string(ctx, 0));
    ui::PumpPending(); // what is waiting to be painted is painted first
    bool saved = host->m_presenter ? host->m_presenter->SaveScreenshot(path) : present::SaveScreenPng(path);
    if (!saved)
        std::fprintf(stderr, "tiravex-page: cannot write the screenshot %s\n", path.c_str());
    duk_push_boolean(ctx, saved);
    return 1;
}

int PageHost::jsChooseMenu(duk_context* ctx)
{
    ui::SetNextMenuChoice(static_cast<UINT_PTR>(duk_to_int(ctx, 0)));
    return 0;
}

int PageHost::jsChooseFile(duk_context* ctx)
{
    if (duk_is_null_or_undefined(ctx, 0))
        ui::SetNextChooserAnswer(std::nullopt);
    else
        ui::SetNextChooserAnswer(std::string(duk_safe_to_string(ctx, 0)));
    return 0;
}

int PageHost::jsAnswerDialog(duk_context* ctx)
{
    ui::SetNextDialogAnswer(duk_to_int(ctx, 0));
    return 0;
}

}
