#pragma once
// Fonts through FreeType and fontconfig. A request names a face the way a
// Windows program does ("Arial", "Garamond"); fontconfig picks the closest
// installed face, and characters that face lacks (Chinese, for example)
// come from a CJK face chosen for the request's character set, then from
// a general sans face.
//
// Sizes follow GDI: a positive height is the cell height (ascent plus
// descent), a negative one the em height; a non-zero width is the average
// character width, stretching the glyphs horizontally.
//
// Threads: any. Faces and glyphs are cached for the process under one lock.

#include "sys/Types.h"

#include <memory>
#include <string>
#include <vector>

namespace gfx {

// GDI character sets that choose the CJK face's language.
constexpr DWORD kCharsetAnsi = 0;
constexpr DWORD kCharsetGb2312 = 134;
constexpr DWORD kCharsetBig5 = 136;
// Weights from this one up are bold; lighter ones map to the regular face.
constexpr int kBoldWeight = 600;

struct FontRequest {
    std::string face;
    int height = 0;
    int width = 0;
    int weight = 400;
    bool italic = false;
    DWORD charset = kCharsetAnsi;
};

// One rendered glyph: 8-bit coverage, placed relative to the pen position
// on the baseline.
struct GlyphImage {
    int left = 0; // from the pen position to the first column
    int top = 0; // from the baseline up to the first row
    int width = 0;
    int rows = 0;
    std::vector<std::uint8_t> coverage; // width * rows
};

struct PlacedGlyph {
    std::shared_ptr<const GlyphImage> image;
    int penX = 0; // from the start of the text
};

struct TextLayout {
    std::vector<PlacedGlyph> glyphs;
    int width = 0; // advance of the whole text
    int height = 0; // cell height
    int ascent = 0; // from the cell top to the baseline
};

class Font {
public:
    // Null when no face at all could be loaded.
    static std::shared_ptr<Font> Create(const FontRequest& request);

    const FontRequest& Request() const { return m_request; }
    // The family fontconfig chose for the request (for diagnostics and tests).
    const std::string& PrimaryFamily() const { return m_primaryFamily; }
    int Height() const { return m_height; }
    int Ascent() const { return m_ascent; }

    // Lays out UTF-16 text (surrogate pairs joined).
    TextLayout Layout(const char16_t* text, int count) const;
    // The family of the face that draws `c` (tests: Chinese falls back to CJK).
    std::string FamilyFor(char32_t c) const;

    struct SizedFace;

private:
    Font() = default;
    const SizedFace* faceFor(char32_t c) const;

    FontRequest m_request;
    std::vector<SizedFace*> m_faces; // owned by the process-wide cache
    std::string m_primaryFamily;
    int m_height = 0;
    int m_ascent = 0;
};

}
