#pragma once
// Draws dialogs and their controls into a Canvas. The input is a plain description of each
// control (its kind, text, state and cell rectangle), so the same code draws from the live
// window model and from a bare template.
#include <string>
#include <vector>

#include "platform/ui/model.h"
#include "platform/ui/terminal/canvas.h"

namespace ui::term {

struct ControlView {
    Kind kind = Kind::Static;
    int id = 0;
    std::string text;
    DWORD style = 0;
    CellRect cells;  // absolute, on the canvas
    bool enabled = true;
    bool checked = false;
    bool focused = false;
    bool bold = false;
    int rangeLow = 0, rangeHigh = 100, position = 0;
    int firstVisibleLine = 0;
    int image = 0;  // bitmap or icon id
};

void drawControl(Canvas& canvas, const ControlView& control);

// A dialog's face and border with its caption in the top edge; `client` is the area inside.
void drawDialogFrame(Canvas& canvas, const CellRect& client, const std::string& caption);
// The outer rectangle a client area needs for its border.
CellRect frameAround(const CellRect& client);

// The visible controls of a template laid out in `client` (cells of its natural size or fewer,
// see layout.h; `natural`: its cells at the natural scale); hidden ones are left out and disabled
// ones shown disabled, as the template starts them.
std::vector<ControlView> viewsFromTemplate(const DialogTemplate& tmpl, const CellRect& client, const CellRect& natural);

// The rows an edit box shows: its text in lines (CR LF or LF end a line) wrapped to `width`,
// starting at the logical line `firstVisibleLine` but never leaving rows empty below the end.
std::vector<std::wstring> editRows(const std::string& text, int firstVisibleLine, int width, int height);

// A message box: caption, the sign of its MB_ICON* type, wrapped text and buttons, centred on the
// canvas. Returns the cell rectangle of each button, for mouse clicks.
struct BoxButton {
    std::string label;
    bool isDefault = false;
};
std::vector<CellRect> drawMessageBox(Canvas& canvas, const std::string& caption, const std::string& text,
                                     UINT icon, const std::vector<BoxButton>& buttons, int focused);

}  // namespace ui::term
