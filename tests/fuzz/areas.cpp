// Fuzz entry point: the editors' texts as the page sets and reads them. The
// input gives the picture size the page entered the mask editor with (any
// 32-bit numbers, as a page may pass), the camera's motion grid, the Areas
// text and the MotionAreas text.

#include "FuzzInput.h"

#include "editors/CMotion.h"
#include "editors/CShelter.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CShelter* shelter = new CShelter;
    static CMotion* motion = new CMotion;

    fuzz::Input in(data, size);
    int width = static_cast<std::int32_t>(in.U32());
    int height = static_cast<std::int32_t>(in.U32());
    int rows = static_cast<std::int8_t>(in.U8());
    int cols = static_cast<std::int8_t>(in.U8());
    auto areas = in.Piece();
    std::string masks = in.RestText();

    shelter->SetPictureSize(width, height);
    shelter->LoadAreasText(std::string(areas.begin(), areas.end()).c_str());
    shelter->AreasString();
    shelter->DeleteSelected();
    shelter->AreasString();
    shelter->RestoreDeleted();

    motion->SetGridSize(rows, cols);
    motion->LoadMasks(masks.c_str());
    motion->MaskString();
    return 0;
}
