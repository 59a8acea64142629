#include "gfx/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

namespace gfx {

namespace {

// The cell height of a font made with height 0.
constexpr int kDefaultCellHeight = 16;
// Faces that fill in for characters the chosen face lacks.
constexpr const char* kCjkFamily = "sans-serif";
constexpr const char* kCjkLanguageSimplified = "zh-cn";
constexpr const char* kCjkLanguageTraditional = "zh-tw";
constexpr const char* kLastResortFamily = "sans-serif";
constexpr double kFixed26Dot6 = 64.0;

struct FaceFile {
    std::string path;
    int index = 0;
    std::string family;
    bool operator<(const FaceFile& o) const { return std::tie(path, index) < std::tie(o.path, o.index); }
};

struct Library {
    std::mutex mutex;
    FT_Library ft = nullptr;
    bool fontconfig = false;
    std::map<std::tuple<std::string, int, int, int>, std::unique_ptr<Font::SizedFace>> faces;
    std::map<std::string, FaceFile> matches; // fontconfig answers by query
};

Library& library()
{
    static Library* lib = [] {
        auto* l = new Library;
        FT_Init_FreeType(&l->ft);
        l->fontconfig = FcInit() == FcTrue;
        return l;
    }();
    return *lib;
}

}

struct Font::SizedFace {
    FT_Face face = nullptr;
    std::string family;
    int cellHeight = 0;
    int ascent = 0;
    std::unordered_map<char32_t, std::shared_ptr<const GlyphImage>> glyphs;
    std::unordered_map<char32_t, int> advances; // in pixels, 26.6
};

namespace {

// Under library().mutex.
bool matchFace(const std::string& family, const char* language, bool bold, bool italic, FaceFile& out)
{
    Library& lib = library();
    std::string key = family + "|" + (language ? language : "") + (bold ? "|b" : "|r") + (italic ? "i" : "");
    if (auto it = lib.matches.find(key); it != lib.matches.end()) {
        out = it->second;
        return !out.path.empty();
    }
    FaceFile found;
    if (lib.fontconfig) {
        FcPattern* pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        if (language)
            FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>(language));
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
            FcChar8* file = nullptr;
            FcChar8* name = nullptr;
            int index = 0;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
                found.path = reinterpret_cast<const char*>(file);
                FcPatternGetInteger(match, FC_INDEX, 0, &index);
                found.index = index;
                if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
                    found.family = reinterpret_cast<const char*>(name);
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    lib.matches[key] = found;
    out = found;
    return !found.path.empty();
}

// GDI's sizing: the em in pixels for a cell height (or, negative, an em
// height) and the horizontal em for an average character width.
Font::SizedFace* sizedFace(const FaceFile& file, int height, int width)
{
    Library& lib = library();
    auto key = std::make_tuple(file.path, file.index, height, width);
    if (auto it = lib.faces.find(key); it != lib.faces.end())
        return it->second.get();
    FT_Face face = nullptr;
    if (!lib.ft || FT_New_Face(lib.ft, file.path.c_str(), file.index, &face) != 0)
        return nullptr;
    const double units = face->units_per_EM ? face->units_per_EM : 2048;
    double ascender = face->ascender;
    double descender = -face->descender;
    double avgWidth = units / 2;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2))) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            ascender = os2->usWinAscent;
            descender = os2->usWinDescent;
        }
        if (os2->xAvgCharWidth > 0)
            avgWidth = os2->xAvgCharWidth;
    }
    const int cell = height == 0 ? kDefaultCellHeight : height;
    const double emY = cell > 0 ? cell * units / (ascender + descender) : -cell;
    const double emX = width > 0 ? width * units / avgWidth : emY;
    FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(emX * kFixed26Dot6)), static_cast<FT_F26Dot6>(std::lround(emY * kFixed26Dot6)), 72, 72);
    auto sized = std::make_unique<Font::SizedFace>();
    sized->face = face;
    sized->family = file.family;
    sized->ascent = static_cast<int>(std::lround(ascender * emY / units));
    sized->cellHeight = cell > 0 ? cell : static_cast<int>(std::lround((ascender + descender) * emY / units));
    Font::SizedFace* raw = sized.get();
    lib.faces[key] = std::move(sized);
    return raw;
}

// Under library().mutex.
std::shared_ptr<const GlyphImage> glyphOf(Font::SizedFace& sized, char32_t c, int& advance26)
{
    if (auto it = sized.glyphs.find(c); it != sized.glyphs.end()) {
        advance26 = sized.advances[c];
        return it->second;
    }
    auto image = std::make_shared<GlyphImage>();
    advance26 = 0;
    if (FT_Load_Char(sized.face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
        FT_GlyphSlot slot = sized.face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        image->left = slot->bitmap_left;
        image->top = slot->bitmap_top;
        image->width = static_cast<int>(bitmap.width);
        image->rows = static_cast<int>(bitmap.rows);
        image->coverage.resize(static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->rows));
        for (int y = 0; y < image->rows; ++y) {
            const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
            for (int x = 0; x < image->width; ++x)
                image->coverage[static_cast<std::size_t>(y * image->width + x)] = bitmap.pixel_mode == FT_PIXEL_MODE_MONO ? ((row[x / 8] >> (7 - x % 8)) & 1) * 255 : row[x];
        }
        advance26 = static_cast<int>(slot->advance.x);
    }
    sized.glyphs[c] = image;
    sized.advances[c] = advance26;
    return image;
}

}

std::shared_ptr<Font> Font::Create(const FontRequest& request)
{
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    std::shared_ptr<Font> font(new Font);
    font->m_request = request;
    const bool bold = request.weight >= kBoldWeight;
    FaceFile file;
    const char* cjkLanguage = request.charset == kCharsetBig5 ? kCjkLanguageTraditional : kCjkLanguageSimplified;
    if (matchFace(request.face.empty() ? kLastResortFamily : request.face, nullptr, bold, request.italic, file)) {
        if (SizedFace* f = sizedFace(file, request.height, request.width))
            font->m_faces.push_back(f);
    }
    if (matchFace(kCjkFamily, cjkLanguage, bold, false, file)) {
        if (SizedFace* f = sizedFace(file, request.height, request.width))
            font->m_faces.push_back(f);
    }
    if (matchFace(kLastResortFamily, nullptr, bold, false, file)) {
        if (SizedFace* f = sizedFace(file, request.height, request.width))
            font->m_faces.push_back(f);
    }
    if (font->m_faces.empty())
        return nullptr;
    font->m_primaryFamily = font->m_faces.front()->family;
    font->m_height = font->m_faces.front()->cellHeight;
    font->m_ascent = font->m_faces.front()->ascent;
    return font;
}

const Font::SizedFace* Font::faceFor(char32_t c) const
{
    for (SizedFace* f : m_faces) {
        if (FT_Get_Char_Index(f->face, c) != 0)
            return f;
    }
    return m_faces.front();
}

std::string Font::FamilyFor(char32_t c) const
{
    std::lock_guard lock(library().mutex);
    return faceFor(c)->family;
}

TextLayout Font::Layout(const char16_t* text, int count) const
{
    TextLayout layout;
    layout.height = m_height;
    layout.ascent = m_ascent;
    std::lock_guard lock(library().mutex);
    long pen26 = 0;
    for (int i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        auto* face = const_cast<SizedFace*>(faceFor(c));
        int advance26 = 0;
        PlacedGlyph placed;
        placed.image = glyphOf(*face, c, advance26);
        placed.penX = static_cast<int>(std::lround(pen26 / kFixed26Dot6));
        layout.glyphs.push_back(std::move(placed));
        pen26 += advance26;
    }
    layout.width = static_cast<int>(std::lround(pen26 / kFixed26Dot6));
    return layout;
}

}
