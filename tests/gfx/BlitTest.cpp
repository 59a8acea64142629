// The blit routines: the fast ones against the plain reference on tiny and
// odd sizes, with every kind of rectangle a caller can hand in, and with
// guard words around every surface to catch reads and writes outside it.

#include "gfx/Blit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kGuard = 0xDEADBEEF;
constexpr int kGuardRows = 2;
constexpr int kGuardColumns = 3;

// Display-format pixels with guard words above, below and right of them.
struct GuardedPicture {
    GuardedPicture(int w, int h) : width(w), height(h), stride(w + kGuardColumns), words(static_cast<std::size_t>(stride) * (h + 2 * kGuardRows), kGuard)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                at(x, y) = 0;
    }
    std::uint32_t& at(int x, int y) { return words[static_cast<std::size_t>((y + kGuardRows) * stride + x)]; }
    gfx::PixelView view()
    {
        return gfx::PixelView { gfx::PixelFormat::Xrgb8888, reinterpret_cast<std::uint8_t*>(&at(0, 0)), width, height, stride * 4 };
    }
    bool guardsIntact() const
    {
        for (int y = -kGuardRows; y < height + kGuardRows; ++y) {
            for (int x = 0; x < stride; ++x) {
                bool inside = y >= 0 && y < height && x < width;
                if (!inside && words[static_cast<std::size_t>((y + kGuardRows) * stride + x)] != kGuard)
                    return false;
            }
        }
        return true;
    }
    int width;
    int height;
    int stride;
    std::vector<std::uint32_t> words;
};

// A YUV picture in surface layout, with guard bytes after it.
struct YuvPicture {
    YuvPicture(gfx::PixelFormat f, int w, int h, std::mt19937& random) : format(f), width(w), height(h)
    {
        pitch = f == gfx::PixelFormat::Yv12 ? (w + 15) / 16 * 16 : (w + 1) / 2 * 4 + 8;
        std::size_t size = f == gfx::PixelFormat::Yv12 ? static_cast<std::size_t>(pitch) * h + 2 * static_cast<std::size_t>(pitch / 2) * ((h + 1) / 2) : static_cast<std::size_t>(pitch) * h;
        bytes.resize(size);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
    }
    gfx::PixelView view() { return gfx::PixelView { format, bytes.data(), width, height, pitch }; }
    gfx::PixelFormat format;
    int width;
    int height;
    LONG pitch;
    std::vector<std::uint8_t> bytes;
};

int channelDifference(std::uint32_t a, std::uint32_t b)
{
    int worst = 0;
    for (int shift = 0; shift <= 16; shift += 8)
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return worst;
}

// Mostly well-formed rectangles reaching past the surface; one in ten inverted.
RECT randomRect(std::mt19937& random, int w, int h)
{
    std::uniform_int_distribution<int> xs(-3, w + 3);
    std::uniform_int_distribution<int> ys(-3, h + 3);
    RECT r { xs(random), ys(random), xs(random), ys(random) };
    if (random() % 10 != 0) {
        r = RECT { std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right) + 1, std::max(r.top, r.bottom) + 1 };
    }
    return r;
}

const SIZE kSizes[] = { { 1, 1 }, { 2, 2 }, { 3, 5 }, { 5, 3 }, { 4, 4 }, { 5, 5 }, { 7, 3 }, { 13, 11 } };

TEST(BlitTest, FastMatchesReferenceAndStaysInsideForAnyRectangles)
{
    std::mt19937 random(7);
    int drawn = 0;
    for (SIZE sourceSize : kSizes) {
        for (SIZE destSize : kSizes) {
            GuardedPicture source(sourceSize.cx, sourceSize.cy);
            for (int y = 0; y < source.height; ++y)
                for (int x = 0; x < source.width; ++x)
                    source.at(x, y) = (random() & 0x3) ? (random() & 0x00FFFFFF) : 0x00102030; // a quarter are the key colour
            for (int round = 0; round < 60; ++round) {
                gfx::BlitParams p;
                p.dest = randomRect(random, destSize.cx, destSize.cy);
                p.source = randomRect(random, sourceSize.cx, sourceSize.cy);
                p.destClip = RECT { 0, 0, destSize.cx, destSize.cy };
                if (round % 2)
                    p.destClip = ui::Intersect(randomRect(random, destSize.cx, destSize.cy), p.destClip);
                p.colorKey = round % 3 == 0;
                p.key = gfx::DDCOLORKEY { 0x00102030, 0x00102030 };
                GuardedPicture fast(destSize.cx, destSize.cy);
                GuardedPicture reference(destSize.cx, destSize.cy);
                for (std::size_t i = 0; i < fast.words.size(); ++i)
                    if (fast.words[i] != kGuard)
                        fast.words[i] = reference.words[i] = 0x00ABCDEF;
                const std::vector<std::uint32_t> before = fast.words;
                HRESULT a = gfx::FastBlit(fast.view(), source.view(), p, nullptr);
                HRESULT b = gfx::ReferenceBlit(reference.view(), source.view(), p);
                ASSERT_EQ(a, b);
                ASSERT_EQ(fast.words, reference.words) << "source " << sourceSize.cx << "x" << sourceSize.cy << " dest " << destSize.cx << "x" << destSize.cy << " round " << round;
                ASSERT_TRUE(fast.guardsIntact());
                for (int y = 0; y < fast.height; ++y)
                    for (int x = 0; x < fast.width; ++x)
                        ASSERT_NE(fast.at(x, y), kGuard) << "a guard word was read";
                if (fast.words != before)
                    ++drawn;
            }
        }
    }
    EXPECT_GT(drawn, 64 * 60 / 10); // enough of the random rectangles really drew
}

// Long rows copied one to one (a present onto the screen) go around the
// caches from the first 64-byte boundary on: every start within a line and
// every length about the vectors' own gives the reference's pixels and no
// word outside the rectangle.
TEST(BlitTest, LongRowsCopiedOneToOneMatchTheReferenceAtEveryAlignment)
{
    constexpr int kWidth = 400, kHeight = 3;
    std::mt19937 random(11);
    GuardedPicture source(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            source.at(x, y) = random() & 0x00FFFFFF;
    for (int left = 0; left < 16; ++left) {
        for (int width : { 255, 256, 257, 271, 300, 383 }) {
            gfx::BlitParams p;
            p.dest = RECT { left, 0, left + width, kHeight };
            p.source = RECT { kWidth - width, 0, kWidth, kHeight };
            p.destClip = RECT { 0, 0, kWidth, kHeight };
            GuardedPicture fast(kWidth, kHeight), reference(kWidth, kHeight);
            ASSERT_EQ(gfx::FastBlit(fast.view(), source.view(), p, nullptr), gfx::ReferenceBlit(reference.view(), source.view(), p));
            ASSERT_EQ(fast.words, reference.words) << "left " << left << " width " << width;
        }
    }
}

TEST(BlitTest, InvertedOrEmptyRectanglesAreRefusedAndDrawNothing)
{
    GuardedPicture source(4, 4);
    GuardedPicture dest(4, 4);
    const RECT bad[] = { { 3, 0, 1, 4 }, { 0, 3, 4, 1 }, { 2, 2, 2, 4 }, { -2147483647, 0, 2147483647, 4 } };
    for (const RECT& r : bad) {
        gfx::BlitParams p { r, RECT { 0, 0, 4, 4 }, RECT { 0, 0, 4, 4 } };
        EXPECT_EQ(gfx::FastBlit(dest.view(), source.view(), p, nullptr), gfx::DDERR_INVALIDRECT);
        p = gfx::BlitParams { RECT { 0, 0, 4, 4 }, r, RECT { 0, 0, 4, 4 } };
        EXPECT_EQ(gfx::FastBlit(dest.view(), source.view(), p, nullptr), gfx::DDERR_INVALIDRECT);
    }
    EXPECT_TRUE(dest.guardsIntact());
}

TEST(BlitTest, ColourKeyedBlitsLeaveKeyPixelsOfTheSourceOut)
{
    // 1:1 and stretched, the destination keeps its colour where the source holds the key.
    GuardedPicture source(4, 2);
    const std::uint32_t row[4] = { 0x000000, 0xFF0000, 0x000000, 0x00FF00 };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            source.at(x, y) = row[x];
    for (int scale : { 1, 2 }) {
        GuardedPicture dest(4 * scale, 2 * scale);
        for (int y = 0; y < dest.height; ++y)
            for (int x = 0; x < dest.width; ++x)
                dest.at(x, y) = 0x123456;
        gfx::BlitParams p { RECT { 0, 0, 4 * scale, 2 * scale }, RECT { 0, 0, 4, 2 }, RECT { 0, 0, 4 * scale, 2 * scale }, true, { 0, 0 } };
        ASSERT_EQ(gfx::FastBlit(dest.view(), source.view(), p, nullptr), gfx::DD_OK);
        for (int y = 0; y < dest.height; ++y) {
            for (int x = 0; x < dest.width; ++x) {
                std::uint32_t s = row[x / scale];
                EXPECT_EQ(dest.at(x, y), s == 0 ? 0x123456u : s) << x << "," << y << " scale " << scale;
            }
        }
    }
}

TEST(BlitTest, ShrinkingAndEnlargingPickTheNearestPixel)
{
    GuardedPicture source(4, 1);
    for (int x = 0; x < 4; ++x)
        source.at(x, 0) = static_cast<std::uint32_t>(x + 1);
    GuardedPicture half(2, 1);
    gfx::BlitParams p { RECT { 0, 0, 2, 1 }, RECT { 0, 0, 4, 1 }, RECT { 0, 0, 2, 1 } };
    gfx::FastBlit(half.view(), source.view(), p, nullptr);
    EXPECT_EQ(half.at(0, 0), 2u); // centres at 1 and 3 of 0..3
    EXPECT_EQ(half.at(1, 0), 4u);
    GuardedPicture twice(8, 1);
    p = gfx::BlitParams { RECT { 0, 0, 8, 1 }, RECT { 0, 0, 4, 1 }, RECT { 0, 0, 8, 1 } };
    gfx::FastBlit(twice.view(), source.view(), p, nullptr);
    const std::uint32_t expected[8] = { 1, 1, 2, 2, 3, 3, 4, 4 };
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(twice.at(x, 0), expected[x]);
}

TEST(BlitTest, ZoomRectangleThatLeftThePictureShowsOnlyThePictureInPlace)
{
    // Source (-2, 0, 2, 1) of a 4-pixel row onto 4 pixels: the left half
    // maps outside and stays untouched; the right half shows pixels 0 and 1.
    GuardedPicture source(4, 1);
    for (int x = 0; x < 4; ++x)
        source.at(x, 0) = static_cast<std::uint32_t>(x + 1);
    GuardedPicture dest(4, 1);
    gfx::BlitParams p { RECT { 0, 0, 4, 1 }, RECT { -2, 0, 2, 1 }, RECT { 0, 0, 4, 1 } };
    ASSERT_EQ(gfx::FastBlit(dest.view(), source.view(), p, nullptr), gfx::DD_OK);
    const std::uint32_t expected[4] = { 0, 0, 1, 2 };
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(dest.at(x, 0), expected[x]);
}

TEST(BlitTest, ReferenceConversionGivesTheKnownColours)
{
    struct Case {
        int y, u, v;
        std::uint32_t rgb;
    };
    const Case cases[] = { { 16, 128, 128, 0x000000 }, { 235, 128, 128, 0xFFFFFF }, { 81, 90, 240, 0xFE0000 }, { 145, 54, 34, 0x00FF01 }, { 41, 240, 110, 0x0000FF } };
    for (const Case& c : cases)
        EXPECT_LE(channelDifference(gfx::YuvToXrgb(c.y, c.u, c.v), c.rgb), 1) << c.y << " " << c.u << " " << c.v;
}

TEST(BlitTest, YuvConversionStaysWithinTheReferenceRoundingOnEveryPath)
{
    std::mt19937 random(11);
    const SIZE sizes[] = { { 2, 2 }, { 3, 3 }, { 5, 5 }, { 16, 9 }, { 33, 17 }, { 64, 32 } };
    for (gfx::PixelFormat format : { gfx::PixelFormat::Yv12, gfx::PixelFormat::Uyvy }) {
        for (SIZE size : sizes) {
            YuvPicture source(format, size.cx, size.cy, random);
            gfx::ConverterCache cache;
            // Whole picture at the left edge (straight conversion), at an
            // offset (through the scratch picture), from an odd source
            // corner (pixel by pixel) and stretched.
            const RECT whole { 0, 0, size.cx, size.cy };
            const RECT odd { 1, 1, size.cx, size.cy };
            struct Shot {
                RECT dest;
                RECT source;
            };
            const Shot shots[] = {
                { whole, whole },
                { ui::Offset(whole, 3, 2), whole },
                { ui::Offset(odd, 2, 0), odd },
                { RECT { 0, 0, size.cx * 2 - 1, size.cy + 1 }, whole },
            };
            for (const Shot& shot : shots) {
                const int w = size.cx * 2 + 4;
                const int h = size.cy + 4;
                GuardedPicture fast(w, h);
                GuardedPicture reference(w, h);
                gfx::BlitParams p { shot.dest, shot.source, RECT { 0, 0, w, h } };
                ASSERT_EQ(gfx::FastBlit(fast.view(), source.view(), p, &cache), gfx::DD_OK);
                ASSERT_EQ(gfx::ReferenceBlit(reference.view(), source.view(), p), gfx::DD_OK);
                ASSERT_TRUE(fast.guardsIntact());
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        const std::uint32_t f = fast.at(x, y) & 0x00FFFFFF;
                        const std::uint32_t r = reference.at(x, y);
                        if (r == 0) {
                            ASSERT_EQ(f, 0u) << "wrote outside the destination rectangle at " << x << "," << y;
                        }
                        ASSERT_LE(channelDifference(f, r), gfx::kYuvTolerance) << x << "," << y << " of " << size.cx << "x" << size.cy;
                    }
                }
            }
            gfx::FreeConverter(cache);
        }
    }
}

}

namespace {

// A decoded picture with every plane in a buffer of its own, exactly as
// large as its rows (so a sanitizer sees any read past a plane).
struct PlanarPicture {
    PlanarPicture(int w, int h, int shiftX, int shiftY, bool full, std::mt19937& random)
    {
        picture.width = w;
        picture.height = h;
        picture.chromaShiftX = shiftX;
        picture.chromaShiftY = shiftY;
        picture.fullRange = full;
        for (int plane = 0; plane < 3; ++plane) {
            const int pw = plane ? (w + (1 << shiftX) - 1) >> shiftX : w;
            const int ph = plane ? (h + (1 << shiftY) - 1) >> shiftY : h;
            const int stride = pw + static_cast<int>(random() % 3) * 16; // tight or padded rows
            planes[plane].resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(ph));
            for (auto& b : planes[plane]) {
                const unsigned pick = random() % 8;
                b = static_cast<std::uint8_t>(pick == 0 ? 0 : pick == 1 ? 255 : random()); // extremes saturate
            }
            picture.planes[plane] = planes[plane].data();
            picture.strides[plane] = stride;
        }
    }
    gfx::YuvPicture picture;
    std::vector<std::uint8_t> planes[3];
};

}

// Every vector path the conversions have, the widest first: on a machine
// with the wider instructions the narrower paths run too.
constexpr gfx::VectorLevel kVectorLevels[] = { gfx::VectorLevel::Avx512, gfx::VectorLevel::Avx2, gfx::VectorLevel::Ssse3, gfx::VectorLevel::Plain };

// Runs `check` at each vector level, and leaves the widest in place.
template<typename Check>
void atEveryVectorLevel(Check check)
{
    for (gfx::VectorLevel level : kVectorLevels) {
        SCOPED_TRACE(testing::Message() << "vector level " << static_cast<int>(level));
        gfx::LimitVectorLevel(level);
        check();
    }
    gfx::LimitVectorLevel(gfx::VectorLevel::Avx512);
}

TEST(BlitTest, PicturesConvertWithinTheReferenceRoundingForEveryLayoutAndRectangle)
{
    atEveryVectorLevel([] {
        std::mt19937 random(11);
        const SIZE sources[] = { { 1, 1 }, { 3, 5 }, { 13, 11 }, { 40, 30 }, { 97, 61 }, { 160, 90 } };
        const SIZE dests[] = { { 2, 2 }, { 17, 13 }, { 64, 36 }, { 200, 120 } };
        const int layouts[][2] = { { 1, 1 }, { 1, 0 }, { 0, 0 } };
        int compared = 0;
        for (SIZE sourceSize : sources) {
            for (const auto& layout : layouts) {
                for (bool full : { false, true }) {
                    PlanarPicture source(sourceSize.cx, sourceSize.cy, layout[0], layout[1], full, random);
                    for (SIZE destSize : dests) {
                        for (int round = 0; round < 6; ++round) {
                            gfx::BlitParams p;
                            // Whole pictures (the usual case), then any rectangles.
                            p.dest = round == 0 ? RECT { 0, 0, destSize.cx, destSize.cy } : randomRect(random, destSize.cx, destSize.cy);
                            p.source = round == 0 ? RECT { 0, 0, sourceSize.cx, sourceSize.cy } : randomRect(random, sourceSize.cx, sourceSize.cy);
                            p.destClip = round % 2 ? ui::Intersect(randomRect(random, destSize.cx, destSize.cy), RECT { 0, 0, destSize.cx, destSize.cy }) : RECT { 0, 0, destSize.cx, destSize.cy };
                            GuardedPicture fast(destSize.cx, destSize.cy);
                            GuardedPicture reference(destSize.cx, destSize.cy);
                            constexpr std::uint32_t kUnwritten = 0x01ABCDEF; // no conversion gives a top byte
                            for (int y = 0; y < destSize.cy; ++y)
                                for (int x = 0; x < destSize.cx; ++x)
                                    fast.at(x, y) = reference.at(x, y) = kUnwritten;
                            HRESULT a = gfx::FastPictureBlit(fast.view(), source.picture, p);
                            HRESULT b = gfx::ReferencePictureBlit(reference.view(), source.picture, p);
                            ASSERT_EQ(a, b);
                            ASSERT_TRUE(fast.guardsIntact());
                            for (int y = 0; y < destSize.cy; ++y) {
                                for (int x = 0; x < destSize.cx; ++x) {
                                    ASSERT_EQ(fast.at(x, y) == kUnwritten, reference.at(x, y) == kUnwritten) << "written where the reference did not write, or the reverse";
                                    ASSERT_LE(channelDifference(fast.at(x, y), reference.at(x, y)), gfx::kYuvTolerance)
                                        << x << "," << y << " of " << sourceSize.cx << "x" << sourceSize.cy << " -> " << destSize.cx << "x" << destSize.cy << " layout " << layout[0] << layout[1] << " full " << full;
                                }
                            }
                            ++compared;
                        }
                    }
                }
            }
        }
        EXPECT_EQ(compared, 6 * 3 * 2 * 4 * 6);
    });
}

TEST(BlitTest, AViewsShrunkPictureMatchesTheReferenceAtEveryPlaceOnAWideSurface)
{
    // 720p shown in a quarter-width view of a 1080p surface: the shuffle
    // groups run to the end of tight rows, and rows start on and off the
    // boundaries where the conversion streams its stores.
    std::mt19937 random(23);
    PlanarPicture source(1280, 720, 1, 1, false, random);
    atEveryVectorLevel([&] {
        for (int left = 0; left < 8; ++left) {
            GuardedPicture fast(1920, 540), reference(1920, 540);
            const RECT view { 480 + left, 0, 960 + left, 540 };
            const gfx::BlitParams p { RECT { view.left, 135, view.right, 405 }, RECT { 0, 0, 1280, 720 }, view };
            ASSERT_EQ(gfx::FastPictureBlit(fast.view(), source.picture, p), gfx::DD_OK);
            ASSERT_EQ(gfx::ReferencePictureBlit(reference.view(), source.picture, p), gfx::DD_OK);
            ASSERT_TRUE(fast.guardsIntact());
            for (int y = 0; y < 540; ++y)
                for (int x = 0; x < 1920; ++x)
                    ASSERT_LE(channelDifference(fast.at(x, y), reference.at(x, y)), gfx::kYuvTolerance) << x << "," << y << " at " << left;
        }
    });
}

TEST(BlitTest, AMirroredPictureBlitWritesTheSamePixelsInBothPlaces)
{
    // A view showing its picture on the screen at once writes each row to
    // its composition surface and to the screen: both must hold what the
    // plain blit writes, wherever the two places start within a vector and
    // when rows are shown twice (enlarged, rows split between two threads).
    struct Case {
        SIZE source;
        RECT dest; // on a 1920x540 surface
        LONG dx, dy;
    };
    const Case cases[] = {
        { { 1280, 720 }, { 0, 135, 480, 405 }, 480, 0 },
        { { 1280, 720 }, { 5, 135, 485, 405 }, 963, 100 },
        { { 1280, 720 }, { 17, 0, 497, 270 }, -17, 7 },
        { { 320, 240 }, { 100, 0, 900, 540 }, 1, 0 },
    };
    std::mt19937 random(29);
    atEveryVectorLevel([&] {
        for (const Case& c : cases) {
            PlanarPicture source(c.source.cx, c.source.cy, 1, 1, false, random);
            const gfx::BlitParams p { c.dest, RECT { 0, 0, c.source.cx, c.source.cy }, c.dest };
            GuardedPicture plain(1920, 540), dest(1920, 540), mirror(1920, 1080);
            ASSERT_EQ(gfx::FastPictureBlit(plain.view(), source.picture, p), gfx::DD_OK);
            const gfx::PictureMirror second { mirror.view(), c.dx, c.dy };
            ASSERT_EQ(gfx::FastPictureBlitMirrored(dest.view(), source.picture, p, second), gfx::DD_OK);
            ASSERT_TRUE(dest.guardsIntact());
            ASSERT_TRUE(mirror.guardsIntact());
            ASSERT_EQ(dest.words, plain.words) << "at " << c.dest.left << "," << c.dest.top;
            for (int y = 0; y < 1080; ++y)
                for (int x = 0; x < 1920; ++x) {
                    const bool inside = x >= c.dest.left + c.dx && x < c.dest.right + c.dx && y >= c.dest.top + c.dy && y < c.dest.bottom + c.dy;
                    ASSERT_EQ(mirror.at(x, y), inside ? plain.at(x - c.dx, y - c.dy) : 0u) << x << "," << y << " mirroring " << c.dest.left << "," << c.dest.top;
                }
        }
    });
}

TEST(BlitTest, PicturesOfAnotherLayoutThroughTheSameRectanglesMatchTheReference)
{
    // A thread keeps its last blit's mappings and gathers; pictures of the
    // same size but other rows or chroma, drawn through the same rectangles
    // one after another, must not be read through the last one's.
    std::mt19937 random(31);
    const int layouts[][2] = { { 1, 1 }, { 0, 0 }, { 1, 0 } };
    std::vector<std::unique_ptr<PlanarPicture>> pictures;
    // Four of each layout in a row, with tight or padded rows at random: a
    // tight picture read through a padded one's gathers would read past its
    // rows, which a sanitizer sees.
    for (int round = 0; round < 12; ++round)
        pictures.push_back(std::make_unique<PlanarPicture>(320, 180, layouts[round / 4][0], layouts[round / 4][1], false, random));
    // Narrower and taller, so that columns are gathered and the last row is read.
    const gfx::BlitParams p { RECT { 0, 0, 120, 200 }, RECT { 0, 0, 320, 180 }, RECT { 0, 0, 120, 200 } };
    for (const auto& picture : pictures) {
        GuardedPicture fast(120, 200), reference(120, 200);
        ASSERT_EQ(gfx::FastPictureBlit(fast.view(), picture->picture, p), gfx::DD_OK);
        ASSERT_EQ(gfx::ReferencePictureBlit(reference.view(), picture->picture, p), gfx::DD_OK);
        ASSERT_TRUE(fast.guardsIntact());
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 120; ++x)
                ASSERT_LE(channelDifference(fast.at(x, y), reference.at(x, y)), gfx::kYuvTolerance) << x << "," << y;
    }
}

TEST(BlitTest, LargePicturesConvertedByTwoThreadsAndByViewsAtOnceMatchTheReference)
{
    // Large pictures have their rows split between two threads; a view
    // finding the second thread busy converts all of its rows. Shrinking
    // and enlarging (rows shown twice across the split), three views at once.
    struct Case {
        SIZE source;
        SIZE dest;
    };
    const Case cases[] = { { { 1920, 1080 }, { 1280, 720 } }, { { 320, 240 }, { 800, 601 } }, { { 1280, 720 }, { 1024, 768 } } };
    std::vector<std::unique_ptr<PlanarPicture>> sources;
    std::mt19937 random(5);
    for (const Case& c : cases)
        sources.push_back(std::make_unique<PlanarPicture>(c.source.cx, c.source.cy, 1, 1, false, random));
    std::vector<std::unique_ptr<GuardedPicture>> fast, reference;
    for (const Case& c : cases) {
        fast.push_back(std::make_unique<GuardedPicture>(c.dest.cx, c.dest.cy));
        reference.push_back(std::make_unique<GuardedPicture>(c.dest.cx, c.dest.cy));
    }
    auto params = [&](std::size_t i) {
        const Case& c = cases[i];
        return gfx::BlitParams { RECT { 0, 0, c.dest.cx, c.dest.cy }, RECT { 0, 0, c.source.cx, c.source.cy }, RECT { 0, 0, c.dest.cx, c.dest.cy } };
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        ASSERT_EQ(gfx::ReferencePictureBlit(reference[i]->view(), sources[i]->picture, params(i)), gfx::DD_OK);
    auto compare = [&](std::size_t i) {
        const Case& c = cases[i];
        ASSERT_TRUE(fast[i]->guardsIntact());
        for (int y = 0; y < c.dest.cy; ++y)
            for (int x = 0; x < c.dest.cx; ++x)
                ASSERT_LE(channelDifference(fast[i]->at(x, y), reference[i]->at(x, y)), gfx::kYuvTolerance) << x << "," << y << " of case " << i;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_EQ(gfx::FastPictureBlit(fast[i]->view(), sources[i]->picture, params(i)), gfx::DD_OK);
        compare(i);
    }
    for (std::size_t i = 0; i < std::size(cases); ++i)
        for (int y = 0; y < cases[i].dest.cy; ++y)
            for (int x = 0; x < cases[i].dest.cx; ++x)
                fast[i]->at(x, y) = 0x00FF00FF; // no row may be left as it was
    constexpr int kRounds = 20;
    std::vector<std::thread> views;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        views.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round)
                gfx::FastPictureBlit(fast[i]->view(), sources[i]->picture, params(i));
        });
    for (auto& v : views)
        v.join();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        compare(i);
}

TEST(BlitTest, PictureConversionGivesTheKnownColoursOfBothRanges)
{
    // Video-range black, white and the primaries' neighbours; JPEG range's black and white.
    const std::uint8_t y[] = { 16, 235, 82, 145, 41, 0, 255 };
    const std::uint8_t u[] = { 128, 128, 90, 54, 240, 128, 128 };
    const std::uint8_t v[] = { 128, 128, 240, 34, 110, 128, 128 };
    for (int i = 0; i < 7; ++i) {
        gfx::YuvPicture picture;
        picture.planes[0] = &y[i];
        picture.planes[1] = &u[i];
        picture.planes[2] = &v[i];
        picture.strides[0] = picture.strides[1] = picture.strides[2] = 1;
        picture.width = picture.height = 1;
        picture.fullRange = i >= 5;
        GuardedPicture out(1, 1);
        gfx::BlitParams p { RECT { 0, 0, 1, 1 }, RECT { 0, 0, 1, 1 }, RECT { 0, 0, 1, 1 } };
        ASSERT_EQ(gfx::FastPictureBlit(out.view(), picture, p), gfx::DD_OK);
        const std::uint32_t expected = picture.fullRange ? gfx::FullRangeYuvToXrgb(y[i], u[i], v[i]) : gfx::YuvToXrgb(y[i], u[i], v[i]);
        EXPECT_LE(channelDifference(out.at(0, 0), expected), 1) << i;
    }
    EXPECT_EQ(gfx::YuvToXrgb(16, 128, 128), 0x000000u);
    EXPECT_EQ(gfx::YuvToXrgb(235, 128, 128), 0xFFFFFFu);
    EXPECT_EQ(gfx::FullRangeYuvToXrgb(255, 128, 128), 0xFFFFFFu);
}

TEST(BlitTest, DestPixelsReadingABoxAreExactlyThoseWhoseSourceIsInIt)
{
    std::mt19937 random(5);
    auto sourceOf = [](std::int64_t d, LONG dl, LONG dh, LONG sl, LONG sh) { return sl + ((d - dl) * 2 + 1) * (sh - sl) / (2 * (dh - dl)); };
    for (int round = 0; round < 400; ++round) {
        RECT dest = randomRect(random, 50, 40), source = randomRect(random, 30, 60), box = randomRect(random, 30, 60);
        if (ui::IsEmpty(dest) || ui::IsEmpty(source))
            continue;
        RECT got = gfx::DestPixelsReading(dest, source, box);
        for (LONG y = dest.top; y < dest.bottom; ++y) {
            for (LONG x = dest.left; x < dest.right; ++x) {
                const std::int64_t sx = sourceOf(x, dest.left, dest.right, source.left, source.right);
                const std::int64_t sy = sourceOf(y, dest.top, dest.bottom, source.top, source.bottom);
                const bool reads = sx >= box.left && sx < box.right && sy >= box.top && sy < box.bottom;
                ASSERT_EQ(reads, ui::Contains(got, POINT { x, y })) << round << ": " << x << "," << y;
            }
        }
    }
}
