#pragma once
// The module's identity and its registration. The identifiers are fixed:
// pages name the control class in their object tag and hosts find the type
// library, its interfaces and the property page through them.
//
// Registration writes to the registration store (sys/Registry.h): the type
// library with its two interfaces, the control class and its property page
// with their program identifiers, and the two component categories the
// control implements (safe to initialise from persistent data, safe to
// script). Each step reads the store, changes it and saves it; the first
// step that fails ends the work with its result, and earlier steps stay.

#include "com/Automation.h"

#include <string>

namespace control {

constexpr CLSID kControlClsid { 0xFE4F5263, 0x11D5, 0x4724, { 0x95, 0xBA, 0xA9, 0x78, 0x98, 0x3B, 0x63, 0x69 } };
constexpr GUID kTypeLibId { 0xDDC012F8, 0xA786, 0x4584, { 0x85, 0x6D, 0x04, 0x4B, 0xC1, 0xF4, 0x94, 0x14 } };
constexpr IID kDispatchIid { 0xDE2BA9C8, 0xCF2E, 0x41DF, { 0x8B, 0x64, 0x44, 0x1C, 0x51, 0x6B, 0x64, 0xAE } };
constexpr IID kEventsIid { 0xBC322BD5, 0x6359, 0x47D4, { 0x99, 0x26, 0x36, 0x3F, 0xE6, 0xA1, 0x10, 0x24 } };
constexpr CLSID kPropPageClsid { 0xA222643E, 0x744A, 0x46F8, { 0x85, 0xFE, 0x02, 0x88, 0x3E, 0xC5, 0xC2, 0xE3 } };
// The system's component categories.
constexpr GUID kCatidSafeForInitializing { 0x7DD95802, 0x9882, 0x11CF, { 0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4 } };
constexpr GUID kCatidSafeForScripting { 0x7DD95801, 0x9882, 0x11CF, { 0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4 } };

constexpr const char* kControlProgId = "TIRAVEX.TiravexCtrl.1";
constexpr const char* kPropPageProgId = "TIRAVEX.TiravexPropPage.1";
constexpr const char* kDispatchName = "_DTiravex";
constexpr const char* kEventsName = "_DTiravexEvents";
constexpr const char* kSafeForInitializingText = "Controls safely initializable from persistent data!";
constexpr const char* kSafeForScriptingText = "Controls safely scriptable!";

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
// The locale the category descriptions are written for (US English).
constexpr LCID kCategoryLocale = 0x409;
// A category description keeps at most this many characters.
constexpr std::size_t kCategoryTextMax = 127;
// The toolbox bitmap's resource number.
constexpr int kToolboxBitmap = 1;

// The control's miscellaneous status bits, registered and reported alike.
constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1;
constexpr DWORD OLEMISC_CANTLINKINSIDE = 0x10;
constexpr DWORD OLEMISC_INSIDEOUT = 0x80;
constexpr DWORD OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
constexpr DWORD OLEMISC_SETCLIENTSITEFIRST = 0x20000;
constexpr DWORD kControlMiscStatus = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;

// Registration results.
constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070u);

// "{FE4F5263-11D5-4724-95BA-A978983B6369}".
std::string StringFromGuid(const GUID& guid);

// The file the module was loaded from.
std::string ModulePath();

}

// The module's two registration entry points: 0 on success, otherwise the
// result of the step that failed.
extern "C" HRESULT DllRegisterServer();
extern "C" HRESULT DllUnregisterServer();
