#pragma once
// The motion-detection grid editor's window "MOTION": the live picture with
// the camera's motion grid laid over it (a blue dash-dot grid, the marked
// cells hatched red), on which a drag with the left button flips the cells
// it covers (or, with inverted selection, marks every cell but those). The
// grid holds one 16-bit mask per row; the page reads and loads the masks
// through MotionAreas.
//
// Threads: as CAreaEditor. Masks and the drag rectangle are changed on the
// page's thread and read by the drawing threads, under the area lock.

#include "editors/CAreaEditor.h"

#include <array>
#include <string>

class CMotion : public CAreaEditor {
public:
    // The grid's storage: 20 rows of 16 columns; the camera's counts are
    // kept within them.
    static constexpr int kMaxRows = 20;
    static constexpr int kMaxCols = 16;
    static constexpr int kDefaultGrid = 10;

    CMotion();
    ~CMotion() override;

    // Also resets the grid to 10 x 10 (the camera's counts follow).
    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;

    // The camera's motion grid, kept within 1..20 rows and 1..16 columns.
    void SetGridSize(int rows, int cols);
    int GetGridRows() const { return m_rows; }
    int GetGridCols() const { return m_cols; }

    // The mask string: "&area%d=%d" for each row, the mask as a signed 16-bit number.
    std::string MaskString() const;
    // Twenty numbers, each followed by a comma; missing numbers count as 0;
    // row i takes the low 16 bits of number i for the grid's rows.
    void LoadMasks(const std::string& text);
    std::uint16_t Mask(int row) const;
    void SetInvertedSelection(bool on) { m_inverted = on ? 1 : 0; }
    std::int32_t InvertedSelection() const { return m_inverted; }
    // The drag rectangle (x0, y0, x1, y1) in window coordinates; empty when
    // no drag is under way.
    RECT DragRect() const;

protected:
    void DrawOverlay(HDC dc) override;
    void OnDragBegin(POINT p) override;
    void OnDragMove(POINT p) override;
    void OnDragEnd(POINT p) override;

private:
    // The drag ends at (x, y): the cells it covers are flipped (or, with
    // inverted selection, every cell but those is marked). Under the area lock.
    void finishDrag(int x, int y);

    std::array<std::uint16_t, kMaxRows> m_masks {}; // guarded by m_areaLock
    RECT m_drag {};                                  // guarded by m_areaLock
    gfx::HPEN m_gridPen = nullptr;
    gfx::HPEN m_dragPen = nullptr;
    gfx::HBRUSH m_cellBrush = nullptr;
    std::atomic<std::int32_t> m_inverted { 0 };
    std::atomic<int> m_cols { kDefaultGrid };
    std::atomic<int> m_rows { kDefaultGrid };
};
