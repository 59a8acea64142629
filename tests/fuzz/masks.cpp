// Fuzz entry point: the readers of a standard camera's Media2 mask answers
// (its masks' polygons, a created mask's token, the mask capability), each
// given the whole input as an answer's body, and the rectangles of a page's
// Areas text given the input as a CGI query.

#include "kznet/OnvifMasks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::onvif;
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<Mask> masks;
    if (ReadMasks(text, size, masks) == SoapStatus::Ok)
        for (const Mask& mask : masks)
            PolygonOfRect(RectOfPolygon(mask.polygon));
    std::string token;
    ReadCreatedMask(text, size, token);
    bool has = false;
    ReadMaskCapability(text, size, has);
    MaskFields(RectsOfQuery(std::string(text, size)));
    return 0;
}
