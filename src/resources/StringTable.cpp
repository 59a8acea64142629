#include "resources/StringTable.h"

#include <iterator>

namespace resources {

namespace {

struct Entry {
    int id;
    const char16_t* text;
};

constexpr Entry kTable[] = {
    { kStringTypeName, u"Tiravex Control" },
    { kStringPropertyPage, u"常规" },
    { kStringKeepRatio, u"保持比例" },
    { kStringFullScreen, u"全屏" },
    { kStringScreenPtz, u"屏幕云台" },
    { kStringZoomUp, u"放大" },
    { kStringZoomDown, u"缩小" },
    { kStringConnecting, u"正在连接" },
    { kStringConnectFail, u"连接失败" },
    { kStringSaveChinese, u"保存" },
    { kStringSave, u"Save" },
    { kLanguageTraditionalChinese + kStringKeepRatio, u"保持比例" },
    { kLanguageTraditionalChinese + kStringFullScreen, u"全螢幕" },
    { kLanguageTraditionalChinese + kStringScreenPtz, u"螢幕雲台" },
    { kLanguageTraditionalChinese + kStringZoomUp, u"放大" },
    { kLanguageTraditionalChinese + kStringZoomDown, u"縮小" },
    { kLanguageTraditionalChinese + kStringConnecting, u"正在連接" },
    { kLanguageTraditionalChinese + kStringConnectFail, u"連接失敗" },
    { kLanguageEnglish + kStringKeepRatio, u"Keep ratio" },
    { kLanguageEnglish + kStringFullScreen, u"Full Screen" },
    { kLanguageEnglish + kStringScreenPtz, u"Screen PTZ" },
    { kLanguageEnglish + kStringZoomUp, u"Zoom up" },
    { kLanguageEnglish + kStringZoomDown, u"Zoom down" },
    { kLanguageEnglish + kStringConnecting, u"connecting" },
    { kLanguageEnglish + kStringConnectFail, u"connect fail" },
};

}

const char16_t* LoadStringW(int id)
{
    for (const auto& e : kTable)
        if (e.id == id)
            return e.text;
    return nullptr;
}

std::u16string LoadString(int id, std::size_t capacity)
{
    const char16_t* text = LoadStringW(id);
    if (!text || capacity == 0)
        return {};
    std::u16string s(text);
    if (s.size() > capacity - 1)
        s.resize(capacity - 1);
    return s;
}

}
