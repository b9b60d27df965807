#pragma once
// Where a template's dialog units land on a terminal, and how a text fills its rectangle there.
//
// The scale rule: one column is 3 horizontal dialog units and one row is 8 vertical ones (a
// character cell is as tall as the template font's line and about three quarters of its average
// width, so every static of the templates holds its whole text, wrapped at word boundaries). A
// rectangle's edges are rounded down to whole cells; a control with any extent keeps at least one
// column and one row. The wizard frame (319 x 222) thus needs 107 x 28 cells inside its border.
#include <string>
#include <string_view>
#include <vector>

namespace ui::term {

inline constexpr int kDuPerColumn = 3;
inline constexpr int kDuPerRow = 8;

struct CellRect {
    int col = 0, row = 0, cols = 0, rows = 0;
    int right() const { return col + cols; }
    int bottom() const { return row + rows; }
    bool contains(int c, int r) const { return c >= col && c < right() && r >= row && r < bottom(); }
    friend bool operator==(const CellRect&, const CellRect&) = default;
};

// A rectangle in dialog units (x, y, width, height) as cells relative to the same origin.
CellRect toCells(int x, int y, int cx, int cy);
// The cells a dialog of cx x cy dialog units needs for its client area (edges rounded up).
CellRect clientCells(int cx, int cy);

// Template and model texts are 8-bit (the Windows code page's Latin range); control characters
// other than line feed and tab are dropped, a carriage return included.
std::wstring widen(std::string_view bytes);

// Lines of at most `width` cells: "\n" breaks, other breaks fall on spaces (which are dropped at
// the break); a word longer than the width is cut.
std::vector<std::wstring> wrapText(std::wstring_view text, int width, bool* cutWord = nullptr);
// The whole text shows in the rectangle: no word is cut and the lines fit its rows.
bool textFits(std::wstring_view text, const CellRect& cells);

}  // namespace ui::term
