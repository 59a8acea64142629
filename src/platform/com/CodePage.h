#pragma once
// Conversion between the control's 8-bit texts, which are in the system
// code page, and Automation's UTF-16 strings. The system code page is a
// setting of the process (default 936, simplified Chinese); conversions go
// through iconv. Bytes or characters that the other side cannot represent
// become '?', and a broken multibyte sequence never reads past its text.

#include "com/Automation.h"

#include <string>
#include <string_view>

namespace com {

constexpr UINT kDefaultCodePage = 936;
constexpr UINT kCodePageUtf8 = 65001;

UINT GetACP();
// False (and nothing changes) when iconv does not know the code page.
bool SetSystemCodePage(UINT codePage);

// 8-bit text in `codePage` (system code page by default) to UTF-16.
std::u16string MultiByteToWide(std::string_view text, UINT codePage = 0);
// UTF-16 to 8-bit text in `codePage` (system code page by default).
std::string WideToMultiByte(std::u16string_view text, UINT codePage = 0);

// A new BSTR of an 8-bit text in the system code page; the caller frees it.
BSTR AnsiToBstr(std::string_view text);
// A BSTR as 8-bit text in the system code page (null gives "").
std::string BstrToAnsi(BSTR text);

std::string BstrToUtf8(BSTR text);
BSTR Utf8ToBstr(std::string_view text);

}
