#pragma once
// Where a dialog's controls go when its client area has fewer cells than the template asks for
// (an 80 x 24 terminal), by one rule at every size: at the natural size it is exactly the scale
// rule of geometry.h.
//
// Across: a side panel (a picture at the dialog's left edge, as high as the dialog) narrows to
// no less than kMinPanelCols before the rest shrinks; the rest scales evenly. Down: controls that
// overlap in the template's rows form a band; bands keep their order and scaled places, a band
// grows to the rows its texts need (a static that needs more rows first widens to the right, up
// to its neighbour or one column short of the edge), later bands move down, and when the rows run
// out the gaps close from the bottom and the growable boxes (edit boxes, child dialogs) give up
// rows down to a few lines of text.
#include <string>
#include <vector>

#include "platform/ui/model.h"
#include "platform/ui/terminal/geometry.h"

namespace ui::term {

inline constexpr int kMinPanelCols = 20;

struct LayoutItem {
    Kind kind = Kind::Static;
    std::string text;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

struct Placed {
    CellRect cells;    // relative to the client area's top-left
    int naturalCols = 0, naturalRows = 0;  // child dialogs: the cells they have at the natural size
};

// `cx` x `cy`: the dialog's size in dialog units; `naturalCols` x `naturalRows`: its client
// cells at the natural scale; `cols` x `rows`: the cells it gets (at most the natural ones).
std::vector<Placed> layoutDialog(int cx, int cy, int naturalCols, int naturalRows, const std::vector<LayoutItem>& items,
                                 int cols, int rows);

// The rows a text control needs at a width (statics, check boxes with their box).
int rowsNeeded(const LayoutItem& item, int cols);

}  // namespace ui::term
