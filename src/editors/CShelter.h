#pragma once
// The privacy-mask editor's window "SHELTER": the live picture with up to
// four mask rectangles laid over it in green, the selected one in red. A
// drag with the left button draws a rectangle, a click into one selects it,
// and DelRect deletes the selected one. The page reads and loads them
// through Areas, in ten-thousandths of the picture; mouse points are
// picture points (the page sizes the editor to the picture).
//
// Threads: as CAreaEditor. The slots are changed on the page's thread and
// read by the drawing threads, under the area lock.

#include "editors/CAreaEditor.h"

#include <array>
#include <string>

class CShelter : public CAreaEditor {
public:
    static constexpr int kSlots = 4;
    // The CGI texts give coordinates in ten-thousandths of the picture.
    static constexpr int kScale = 10000;
    static constexpr int kSnapToEdge = 9960;

    CShelter();
    ~CShelter() override;

    // Also clears every rectangle.
    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;

    // The picture's size the page gives on entering (the overlay's size).
    void SetPictureSize(int width, int height) { SetOverlaySize(width, height); }
    int PictureWidth() const { return OverlayWidth(); }
    int PictureHeight() const { return OverlayHeight(); }

    // The Areas text: four rectangles in ten-thousandths ("&x1_0=...");
    // deleted rectangles are forgotten first.
    std::string AreasString();
    // Parses the page's Areas text (a result code, then four rectangles in
    // ten-thousandths) and stores the rectangles wider and higher than 2
    // pixels, in order; a rectangle with a missing value is not stored.
    void LoadAreasText(const std::string& text);
    // Deleted rectangles come back when the editor is entered.
    void RestoreDeleted();
    // Deletes the selected rectangle: it moves to the end, the others keep
    // their order.
    void DeleteSelected();

    RECT Rect(int slot) const;
    int Count() const;
    int Selected() const;
    bool IsDeleted(int slot) const;

protected:
    void DrawOverlay(HDC dc) override;
    void OnDragBegin(POINT p) override;
    void OnDragMove(POINT p) override;
    // Snaps, normalises and commits; a click selects the rectangle under it.
    void OnDragEnd(POINT p) override;

private:
    // The mouse's steps, under the area lock.
    POINT snap(int x, int y) const;
    void begin(POINT p);
    void stretch(POINT p);
    void normalise();
    // Commits the drawn rectangle; false when it was a click.
    bool commit();
    void selectAt(POINT p);
    // Moves slot `from` to index count - 1, the slots after it moving up.
    void moveToEnd(int from);

    std::array<RECT, kSlots> m_rects {};    // guarded by m_areaLock
    std::array<bool, kSlots> m_deleted {};  // guarded by m_areaLock
    std::int16_t m_count = 0;               // guarded by m_areaLock
    std::int32_t m_selected = 0;            // guarded by m_areaLock
    gfx::HPEN m_selectionPen = nullptr;
    gfx::HPEN m_rectanglePen = nullptr;
};
