#pragma once
// Privacy masks on a standard camera: the mask editor's four rectangles
// (ten-thousandths of the picture, y down, as the control's Areas text
// carries them) are the camera's Media2 masks, polygons in the camera's
// normalized coordinates (-1..1, y up). The mask commands of our CGI that
// the camera pages send reach them through the relay (CgiRelay.cpp), by
// road command 13 or over HTTP:
//
//   cmd=getPrivacyMaskConfig           isEnable and the camera's first four
//                                      masks as x1_0 .. y2_3, empty slots 0
//   cmd=setPrivacyMaskConfig&isEnable=1&x1_0=..&y2_3=..
//                                      the Areas text: the camera's masks
//                                      become these rectangles (none when
//                                      isEnable is 0)
//
// A camera without a Media2 service, or whose Media2 service has no masks,
// answers "not supported" (-3); an answer the library cannot take (a
// polygon of too many points, a coordinate that is no number in -1..1)
// gives -1.
//
// Every reader takes a pointer and a length and never reads past it.

#include "kznet/Onvif.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kz::onvif {

constexpr const char* kCgiGetPrivacyMask = "getPrivacyMaskConfig";
constexpr const char* kCgiSetPrivacyMask = "setPrivacyMaskConfig";
constexpr const char* kCgiMaskEnable = "isEnable";

constexpr int kMaskSlots = 4;       // the editor's rectangles
constexpr int kMaskScale = 10000;   // the editor's space: ten-thousandths of the picture
constexpr std::size_t kMaxMasks = 32;      // read from one answer; the rest are left out
constexpr std::size_t kMaxMaskPoints = 64; // a polygon with more is refused
constexpr std::size_t kMinMaskPoints = 3;

// A point in the camera's normalized space: -1 left or bottom, 1 right or top.
struct MaskPoint {
    double x = 0;
    double y = 0;
};

struct Mask {
    std::string token;
    std::string configuration; // the video source configuration it belongs to
    std::vector<MaskPoint> polygon;
};

// A rectangle in the editor's space, corners included; all zero: none.
struct MaskRect {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool Empty() const { return x2 <= x1 || y2 <= y1; }
    bool operator==(const MaskRect&) const = default;
};

// The bounding box of a polygon, in the editor's space.
MaskRect RectOfPolygon(const std::vector<MaskPoint>& polygon);
// The rectangle's four corners, clockwise from the top left.
std::vector<MaskPoint> PolygonOfRect(const MaskRect& rect);

// Readers of the Media2 answers. ReadMasks refuses (Malformed) the whole
// answer for one bad mask: without a token, with fewer than kMinMaskPoints
// or more than kMaxMaskPoints points, or with a coordinate that is not a
// number in -1..1.
SoapStatus ReadMasks(const char* data, std::size_t n, std::vector<Mask>& out);
SoapStatus ReadCreatedMask(const char* data, std::size_t n, std::string& token);
// Whether the Media2 service's capabilities say it has masks.
SoapStatus ReadMaskCapability(const char* data, std::size_t n, bool& masks);

// The four rectangles of an Areas text in a CGI query ("x1_0" .. "y2_3"),
// kept within the editor's space, the empty ones left out; none when the
// query's isEnable is 0.
std::vector<MaskRect> RectsOfQuery(const std::string& query);
// The fields of the answer to getPrivacyMaskConfig: isEnable, then the
// four slots, empty ones zero.
std::string MaskFields(const std::vector<MaskRect>& rects);

// getPrivacyMaskConfig and setPrivacyMaskConfig on a standard camera:
// false for any other command; otherwise the CGI result and the fields
// that follow it.
bool RelayMaskCgi(const Session& session, const std::string& command, const std::string& query, int& result, std::string& fields,
    const std::atomic<bool>* cancel);

}
