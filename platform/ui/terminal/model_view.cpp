#include "platform/ui/terminal/model_view.h"

#include "platform/ui/afxwin.h"
#include "platform/ui/terminal/layout.h"

namespace ui::term {
namespace {

// As in Win32, a control looks disabled by its own state only, not by its parent's. Hidden
// controls keep their place in the layout, so nothing moves when one shows.
void drawChildren(Canvas& canvas, const Window& parent, const CellRect& area, int natCols, int natRows, HWND focus,
                  std::vector<Hit>& hits) {
    std::vector<LayoutItem> items;
    std::vector<const Window*> children;
    for (HWND h : parent.children) {
        const Window* w = window(h);
        if (!w) continue;
        children.push_back(w);
        items.push_back({w->kind, w->text, w->style, w->rect.left, w->rect.top, w->rect.right - w->rect.left,
                         w->rect.bottom - w->rect.top});
    }
    std::vector<Placed> placed = layoutDialog(parent.rect.right - parent.rect.left, parent.rect.bottom - parent.rect.top,
                                              natCols, natRows, items, area.cols, area.rows);
    for (size_t i = 0; i < children.size(); ++i) {
        const Window* w = children[i];
        if (!w->visible()) continue;
        CellRect cells = placed[i].cells;
        cells.col += area.col;
        cells.row += area.row;
        if (w->kind == Kind::Dialog) {
            canvas.fill(cells, L' ', Paint::Window);
            drawChildren(canvas, *w, cells, placed[i].naturalCols, placed[i].naturalRows, focus, hits);
            continue;
        }
        ControlView v;
        v.kind = w->kind;
        v.id = w->id;
        v.text = w->text;
        v.style = w->style;
        v.cells = cells;
        v.enabled = w->enabled();
        v.checked = w->checked;
        v.focused = w->handle == focus;
        const FontInfo* font = w->font ? CFont::FromHandle(w->font) : nullptr;
        v.bold = font && font->weight >= FW_BOLD;
        v.rangeLow = w->rangeLow;
        v.rangeHigh = w->rangeHigh;
        v.position = w->position;
        v.firstVisibleLine = w->firstVisibleLine;
        v.image = w->image;
        drawControl(canvas, v);
        hits.push_back({cells, w->handle});
    }
}

}  // namespace

CellRect dialogCells(HWND dialog) {
    const Window* d = window(dialog);
    if (!d) return {};
    return clientCells(d->rect.right - d->rect.left, d->rect.bottom - d->rect.top);
}

std::vector<Hit> drawDialog(Canvas& canvas, HWND dialog, const CellRect& client, HWND focus) {
    std::vector<Hit> hits;
    const Window* d = window(dialog);
    if (!d) return hits;
    drawDialogFrame(canvas, client, d->text);
    CellRect natural = dialogCells(dialog);
    drawChildren(canvas, *d, client, natural.cols, natural.rows, focus, hits);
    return hits;
}

HWND hitTest(const std::vector<Hit>& hits, int col, int row) {
    for (auto it = hits.rbegin(); it != hits.rend(); ++it) {
        if (it->cells.contains(col, row)) return it->control;
    }
    return nullptr;
}

}  // namespace ui::term
