#pragma once
// The motion-detection grid editor's window "MOTION": a stream player that
// keeps the camera's motion grid, its size (from the camera's product
// information) and one 16-bit mask per row, as the page sets and reads them
// through MotionAreas. Editing the grid with the mouse is not built yet.

#include "media/CPlayBase.h"

#include "ui/Geometry.h"

#include <array>
#include <string>

class CMotion : public CPlayBase {
public:
    // The editor draws nothing of its own over the picture.
    void DrawRgbFrame(const PictureRecord&, int, int) override { }
    void DrawYuvFrame(const PictureRecord&, int, int) override { }
    void DrawPlainFrame(const PictureRecord&, int, int) override { }

    CMotion() : CPlayBase(kMotionWindowId) { }

    // The rectangle the grid is laid over, in window coordinates.
    void SetWorkRect(const RECT& rect) { m_workRect = rect; }
    RECT GetWorkRect() const { return m_workRect; }

    // The camera's motion grid: rows and columns.
    void SetGridSize(int rows, int cols)
    {
        m_gridRows = rows;
        m_gridCols = cols;
    }
    int GetGridRows() const { return m_gridRows; }
    int GetGridCols() const { return m_gridCols; }

    static constexpr int kMaxRows = 20;

    // The mask string: "&area%d=%d" for each row, the mask as a signed 16-bit number.
    std::string MaskString() const;
    // Twenty numbers, each followed by a comma; missing numbers count as 0;
    // row i takes the low 16 bits of number i for the grid's rows.
    void LoadMasks(const std::string& text);
    std::uint16_t Mask(int row) const { return row >= 0 && row < kMaxRows ? m_masks[static_cast<std::size_t>(row)] : 0; }
    void SetInvertedSelection(bool on) { m_inverted = on ? 1 : 0; }
    std::int32_t InvertedSelection() const { return m_inverted; }

private:
    std::array<std::uint16_t, kMaxRows> m_masks {};
    std::int32_t m_inverted = 0;
    RECT m_workRect {};
    int m_gridRows = kDefaultGrid;
    int m_gridCols = kDefaultGrid;
    static constexpr int kDefaultGrid = 10;
};
