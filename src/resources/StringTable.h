#pragma once
// The module's string table: the control's texts in three languages. An
// identifier is a base number plus the language base (0 Simplified
// Chinese, 100 Traditional Chinese, 200 English).

#include <string>

namespace resources {

// Language bases, added to a text's base number.
constexpr int kLanguageSimplifiedChinese = 0;
constexpr int kLanguageTraditionalChinese = 100;
constexpr int kLanguageEnglish = 200;

constexpr int kStringTypeName = 1;
constexpr int kStringKeepRatio = 127;
constexpr int kStringFullScreen = 128;
constexpr int kStringScreenPtz = 129;
constexpr int kStringZoomUp = 130;
constexpr int kStringZoomDown = 131;
constexpr int kStringConnecting = 132;
constexpr int kStringConnectFail = 133;
constexpr int kStringPropertyPage = 200;
// The snapshot window's one menu item: a text of its own per language,
// Simplified Chinese and the other two.
constexpr int kStringSaveChinese = 334;
constexpr int kStringSave = 335;

// The text of an identifier, or null when the table has none.
const char16_t* LoadStringW(int id);

// As LoadStringW, cut to `capacity` - 1 characters; "" when absent.
std::u16string LoadString(int id, std::size_t capacity);

}
