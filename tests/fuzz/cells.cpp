// Fuzz entry point: a standard camera's motion cells. The first two bytes
// are a cell layout (columns, rows, 1 to 256 each); the rest is taken as
// ActiveCells text (base64 of PackBits) into the editor's masks and back,
// as raw PackBits, and as the analytics answers (profiles, modules, rules).

#include "kznet/OnvifAnalytics.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::onvif;
    if (size < 2)
        return 0;
    CellLayout layout { data[0] + 1, data[1] + 1 };
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::vector<std::uint16_t> masks;
    if (CellsToMasks(rest, layout, masks)) {
        std::vector<std::uint16_t> again;
        if (!CellsToMasks(MasksToCells(masks, layout), layout, again) || again != masks)
            std::abort(); // the editor's grid goes to the camera and back unchanged
    }
    std::string bytes;
    if (UnpackBits(rest, 1 << 16, bytes)) {
        std::string back;
        if (!UnpackBits(PackBits(bytes), bytes.size(), back) || back != bytes)
            std::abort();
    }
    std::string token;
    ReadAnalyticsToken(rest.data(), rest.size(), token);
    CellLayout read;
    ReadCellLayout(rest.data(), rest.size(), read);
    CellRule rule;
    ReadCellRule(rest.data(), rest.size(), rule);
    return 0;
}
