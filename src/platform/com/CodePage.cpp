#include "com/CodePage.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>

namespace com {

namespace {

std::atomic<UINT> g_codePage{kDefaultCodePage};

std::string iconvName(UINT codePage)
{
    switch (codePage) {
    case kCodePageUtf8: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + std::to_string(codePage);
    }
}

// Converts `in` (of `inUnit`-byte units) between two iconv encodings. An
// input unit that cannot be converted is replaced by `replacement` and
// skipped, so the output always holds something for every input.
std::string convert(const char* from, const char* to, const char* in, std::size_t size, std::size_t inUnit, std::string_view replacement)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::string out;
    out.resize(size * 4 + 16);
    char* inPtr = const_cast<char*>(in);
    std::size_t inLeft = size;
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (r != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            std::size_t used = static_cast<std::size_t>(outPtr - out.data());
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // EILSEQ or EINVAL (a sequence cut off at the end): replace one unit.
        std::size_t skip = inLeft < inUnit ? inLeft : inUnit;
        inPtr += skip;
        inLeft -= skip;
        if (outLeft < replacement.size() + 8) {
            std::size_t used = static_cast<std::size_t>(outPtr - out.data());
            out.resize(out.size() * 2 + replacement.size());
            outPtr = out.data() + used;
            outLeft = out.size() - used;
        }
        std::memcpy(outPtr, replacement.data(), replacement.size());
        outPtr += replacement.size();
        outLeft -= replacement.size();
    }
    out.resize(static_cast<std::size_t>(outPtr - out.data()));
    iconv_close(cd);
    return out;
}

UINT pick(UINT codePage) { return codePage ? codePage : g_codePage.load(); }

}

UINT GetACP() { return g_codePage.load(); }

bool SetSystemCodePage(UINT codePage)
{
    iconv_t cd = iconv_open("UTF-16LE", iconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    g_codePage.store(codePage);
    return true;
}

std::u16string MultiByteToWide(std::string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    static constexpr char kQuestion[] = { '?', 0 };
    std::string bytes = convert(iconvName(pick(codePage)).c_str(), "UTF-16LE", text.data(), text.size(), 1, std::string_view(kQuestion, 2));
    std::u16string out(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

std::string WideToMultiByte(std::u16string_view text, UINT codePage)
{
    if (text.empty())
        return {};
    return convert("UTF-16LE", iconvName(pick(codePage)).c_str(), reinterpret_cast<const char*>(text.data()), text.size() * 2, 2, "?");
}

BSTR AnsiToBstr(std::string_view text)
{
    std::u16string wide = MultiByteToWide(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string BstrToAnsi(BSTR text) { return WideToMultiByte(std::u16string_view(text ? text : u"", SysStringLen(text))); }

std::string BstrToUtf8(BSTR text) { return WideToMultiByte(std::u16string_view(text ? text : u"", SysStringLen(text)), kCodePageUtf8); }

BSTR Utf8ToBstr(std::string_view text)
{
    std::u16string wide = MultiByteToWide(text, kCodePageUtf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}
