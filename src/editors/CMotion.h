#pragma once
// The motion-detection grid editor: a video window over which the grid of
// the camera's motion areas is edited.

#include "media/CPlayBase.h"

#include "ui/Geometry.h"

class CMotion : public CPlayBase {
public:
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

private:
    RECT m_workRect {};
    int m_gridRows = kDefaultGrid;
    int m_gridCols = kDefaultGrid;
    static constexpr int kDefaultGrid = 10;
};
