#pragma once
// A standard camera's cell motion detector as our motion grid. The grid's
// size is the cell layout (tt:CellLayout Columns and Rows) of the camera's
// cell motion engine (GetAnalyticsModules); the marked cells are the
// ActiveCells of its cell motion detector rule (GetRules, ModifyRules):
// one bit a cell, the first the top left one, row by row, the first cell
// in a byte's highest bit, PackBits-compressed and in base64.
//
// The grid editor has at most 20 rows and 16 columns. A larger layout is
// shown scaled: each editor cell stands for a block of the camera's cells,
// marked when any of them is active, and marking it activates all of them,
// so a grid read and saved unchanged leaves the camera's cells as they were
// wherever a block was all on or all off.
//
// Threads: any; the session calls are blocking exchanges.

#include "kznet/Onvif.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kz::onvif {

constexpr int kMaxGridRows = 20;
constexpr int kMaxGridColumns = 16;
// A layout of more cells than this is refused (a camera's grids are a few hundred cells).
constexpr long kMaxLayoutCells = 1L << 16;

// PackBits (TIFF): false for a run cut short or a result longer than `limit`.
bool UnpackBits(const std::string& packed, std::size_t limit, std::string& out);
std::string PackBits(const std::string& bytes);

struct CellLayout {
    int columns = 0;
    int rows = 0;
};

// The editor's grid for a layout: at most 20 rows and 16 columns.
CellLayout EditorGrid(const CellLayout& layout);
// ActiveCells (base64 of PackBits) as the editor's row masks (bit j of
// mask i: row i, column j). Missing cells at the end are off; false for
// text that is not base64, runs that are cut short, or more cells than the
// layout has.
bool CellsToMasks(const std::string& activeCells, const CellLayout& layout, std::vector<std::uint16_t>& masks);
std::string MasksToCells(const std::vector<std::uint16_t>& masks, const CellLayout& layout);

// The cell motion detector rule: its name and parameters as the camera gave them.
struct CellRule {
    std::string name;
    std::vector<std::pair<std::string, std::string>> parameters;
    std::string ActiveCells() const;
};

// The readers of the answers.
SoapStatus ReadAnalyticsToken(const char* data, std::size_t n, std::string& token); // GetProfiles: the first profile's analytics configuration
SoapStatus ReadCellLayout(const char* data, std::size_t n, CellLayout& out);         // GetAnalyticsModules
SoapStatus ReadCellRule(const char* data, std::size_t n, CellRule& out);             // GetRules

// The camera's grid through a logged-in session.
enum class GridResult { Ok, Unsupported, Refused, Failed, BadCells };
struct MotionGrid {
    CellLayout editor;                 // rows and columns the editor shows
    std::vector<std::uint16_t> masks;  // one a row of `editor`
};
// With cells that cannot be read (BadCells) the editor's size is still
// set when the layout could be read.
GridResult ReadMotionGrid(const Session& session, MotionGrid& out, const std::atomic<bool>* cancel);
// Saves the rows marked in `given` (one flag a mask); the other rows stay
// as the camera has them (off when its cells cannot be read). Masks beyond
// the editor's rows are ignored.
GridResult WriteMotionGrid(const Session& session, const std::vector<std::uint16_t>& masks, const std::vector<bool>& given,
    const std::atomic<bool>* cancel);

}
