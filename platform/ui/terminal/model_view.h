#pragma once
// Draws a live dialog of the window model: its frame and caption, then every shown control of
// it and of its shown child dialogs (the wizard's page), and remembers where each control went
// so a mouse click finds it.
#include <vector>

#include "platform/ui/model.h"
#include "platform/ui/terminal/draw.h"

namespace ui::term {

struct Hit {
    CellRect cells;
    HWND control = nullptr;
};

// The cells of `dialog`'s client area at the natural scale, at the origin.
CellRect dialogCells(HWND dialog);

// Draws `dialog` into `client` (at most its natural cells; the layout fits it to fewer); `focus`
// is the control the keyboard is on (or null).
std::vector<Hit> drawDialog(Canvas& canvas, HWND dialog, const CellRect& client, HWND focus);

// The control drawn under a cell, last drawn first; null when none.
HWND hitTest(const std::vector<Hit>& hits, int col, int row);

}  // namespace ui::term
