#pragma once
// The privacy-mask editor's window "SHELTER": a stream player that keeps up
// to four mask rectangles in picture coordinates, as the page sets and reads
// them through Areas (in ten-thousandths of the picture, which the page
// sizes) and deletes them with DelRect. Drawing and selecting them with the
// mouse is not built yet.

#include "media/CPlayBase.h"

#include "ui/Geometry.h"

#include <array>
#include <string>

class CShelter : public CPlayBase {
public:
    static constexpr int kSlots = 4;
    // The CGI texts give coordinates in ten-thousandths of the picture.
    static constexpr int kScale = 10000;
    static constexpr int kSnapToEdge = 9960;

    // The editor draws nothing of its own over the picture.
    void DrawRgbFrame(const PictureRecord&, int, int) override { }
    void DrawYuvFrame(const PictureRecord&, int, int) override { }
    void DrawPlainFrame(const PictureRecord&, int, int) override { }

    CShelter() : CPlayBase(kShelterWindowId) { }

    void SetPictureSize(int width, int height)
    {
        m_pictureWidth = width;
        m_pictureHeight = height;
    }
    int PictureWidth() const { return m_pictureWidth; }
    int PictureHeight() const { return m_pictureHeight; }

    // The Areas text: four rectangles in ten-thousandths ("&x1_0=...").
    std::string AreasString();
    // Loads four rectangles given in ten-thousandths (already parsed).
    void LoadAreas(const std::array<RECT, kSlots>& scaled);
    // Parses the page's Areas text (a result code, then four rectangles in
    // ten-thousandths; a value left out counts as 0x01010101) and loads it.
    void LoadAreasText(const std::string& text);
    // Deleted rectangles come back when the editor is entered.
    void RestoreDeleted();
    // Deletes the selected rectangle.
    void DeleteSelected();

    RECT Rect(int slot) const { return m_rects[static_cast<std::size_t>(slot)]; }
    int Count() const { return m_count; }
    int Selected() const { return m_selected; }
    bool IsDeleted(int slot) const { return m_deleted[static_cast<std::size_t>(slot)]; }
    // For the editor's mouse handling: adds a committed rectangle and selects it.
    bool AddRect(const RECT& rect);

private:
    std::array<RECT, kSlots> m_rects {};
    std::array<bool, kSlots> m_deleted {};
    std::int16_t m_count = 0;
    int m_pictureHeight = 0;
    int m_pictureWidth = 0;
    std::int32_t m_selected = -1;
};
