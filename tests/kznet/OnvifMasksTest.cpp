// A standard camera's privacy masks as the mask editor's rectangles: the
// Media2 answer's polygons read by local names into the editor's space (y
// turned over), back again without drift, and every answer the library
// cannot take refused whole.

#include "kznet/OnvifMasks.h"

#include <gtest/gtest.h>

using namespace kz::onvif;

namespace {

std::string masksAnswer(const std::string& points, const std::string& token = "m1")
{
    return "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope' xmlns:m='http://www.onvif.org/ver20/media/wsdl' "
           "xmlns:s='http://www.onvif.org/ver10/schema'><e:Body><m:GetMasksResponse>"
           "<m:Masks token='" + token + "'><m:ConfigurationToken> vsc </m:ConfigurationToken><m:Polygon>" + points
        + "</m:Polygon><m:Type>Color</m:Type></m:Masks></m:GetMasksResponse></e:Body></e:Envelope>";
}

std::string point(const char* x, const char* y)
{
    return std::string("<s:Point x='") + x + "' y='" + y + "'/>";
}

}

TEST(kznetOnvifMasks, PolygonsBecomeTheEditorsRectanglesAndBadOnesAreRefused)
{
    // A triangle: its bounding box, the camera's top (y = 0.5) the
    // editor's smaller y.
    const std::string triangle = masksAnswer(point("-0.5", "0.5") + point("0.25", "-0.5") + point("-1", "0"));
    std::vector<Mask> masks;
    ASSERT_EQ(ReadMasks(triangle.data(), triangle.size(), masks), SoapStatus::Ok);
    ASSERT_EQ(masks.size(), 1u);
    EXPECT_EQ(masks[0].token, "m1");
    EXPECT_EQ(masks[0].configuration, "vsc");
    EXPECT_EQ(RectOfPolygon(masks[0].polygon), (MaskRect { 0, 2500, 6250, 7500 }));

    // Rectangles go to the camera and come back unchanged, edges included.
    for (MaskRect r : { MaskRect { 0, 0, kMaskScale, kMaskScale }, MaskRect { 1, 9999, 3, 10000 }, MaskRect { 796, 1062, 3140, 3145 } })
        EXPECT_EQ(RectOfPolygon(PolygonOfRect(r)), r);

    std::string tooMany;
    for (std::size_t i = 0; i <= kMaxMaskPoints; ++i)
        tooMany += point("0.1", "0.1");
    struct Case {
        const char* what;
        std::string answer;
    } refused[] = {
        { "more points than a mask may have", masksAnswer(tooMany) },
        { "two points", masksAnswer(point("0", "0") + point("1", "1")) },
        { "outside -1..1", masksAnswer(point("0", "0") + point("1.5", "1") + point("0", "1")) },
        { "not a number", masksAnswer(point("0", "0") + point("nan", "1") + point("0", "1")) },
        { "a number and more", masksAnswer(point("0", "0") + point("0.5x", "1") + point("0", "1")) },
        { "no coordinate", masksAnswer(point("0", "0") + "<s:Point x='1'/>" + point("0", "1")) },
        { "no token", masksAnswer(point("0", "0") + point("1", "1") + point("0", "1"), "") },
    };
    for (const auto& c : refused)
        EXPECT_EQ(ReadMasks(c.answer.data(), c.answer.size(), masks), SoapStatus::Malformed) << c.what;

    // The page's Areas text: values kept within the editor's space, empty
    // rectangles left out.
    auto rects = RectsOfQuery("cmd=setPrivacyMaskConfig&x1_0=-5&y1_0=10&x2_0=99999&y2_0=20&x1_1=5&y1_1=5&x2_1=5&y2_1=9&x1_2=1&y1_2=2&x2_2=3&y2_2=4");
    EXPECT_EQ(rects, (std::vector<MaskRect> { { 0, 10, kMaskScale, 20 }, { 1, 2, 3, 4 } }));
}
