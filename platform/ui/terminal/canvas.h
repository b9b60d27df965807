#pragma once
// A grid of character cells with a paint per cell: what the terminal backend draws into and then
// puts on the screen, and what tests and line output read back as text. Writes outside the grid
// are dropped, so drawing code clips for free.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/terminal/geometry.h"

namespace ui::term {

// What a cell shows, not how: the screen maps each paint to colours and attributes.
enum class Paint : uint8_t {
    Screen,         // around the dialogs
    Window,         // a dialog's face and its ordinary text
    Border,         // a dialog's frame
    Caption,        // a dialog's title in its frame
    Title,          // bold text (a heading font)
    Disabled,       // greyed controls
    Panel,          // the side picture
    PanelText,
    Button,
    DefaultButton,
    Focus,          // the control the keyboard is on
    Field,          // inside edit boxes and progress bars
    Bar,            // the filled part of a progress bar
    Done,           // green
    Failed,         // red
    Unsure,         // blue
    Busy,           // blue
    Warning,        // a message box's exclamation sign
    Hint,           // the key line
    Count
};

struct Cell {
    wchar_t ch = L' ';
    Paint paint = Paint::Screen;
    friend bool operator==(const Cell&, const Cell&) = default;
};

class Canvas {
public:
    Canvas(int cols = 0, int rows = 0) { resize(cols, rows); }
    void resize(int cols, int rows);
    int cols() const { return cols_; }
    int rows() const { return rows_; }

    const Cell& at(int col, int row) const;
    void set(int col, int row, wchar_t ch, Paint paint);
    // Writes at most `maxCols` characters (all when negative).
    void put(int col, int row, std::wstring_view text, Paint paint, int maxCols = -1);
    void fill(const CellRect& r, wchar_t ch, Paint paint);
    // A single-line box around the edge of `r`.
    void box(const CellRect& r, Paint paint);
    void hline(int col, int row, int cols, Paint paint);

    // The characters of a row, trailing blanks removed.
    std::wstring rowText(int row) const;
    // Every row as UTF-8 text, one line each.
    std::string text() const;

private:
    int cols_ = 0, rows_ = 0;
    std::vector<Cell> cells_;
};

std::string toUtf8(std::wstring_view text);

// What a terminal without UTF-8 shows for a character: frames, bars, the tick, the cross and the
// gears drawn in ASCII; any other character beyond it as "?".
wchar_t asciiFor(wchar_t ch);

}  // namespace ui::term
