#include "platform/ui/terminal/model_view.h"

#include "platform/ui/afxwin.h"

namespace ui::term {
namespace {

// As in Win32, a control looks disabled by its own state only, not by its parent's.
void drawChildren(Canvas& canvas, const Window& parent, int col, int row, HWND focus, std::vector<Hit>& hits) {
    for (HWND h : parent.children) {
        const Window* w = window(h);
        if (!w || !w->visible()) continue;
        CellRect cells = toCells(w->rect.left, w->rect.top, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top);
        cells.col += col;
        cells.row += row;
        if (w->kind == Kind::Dialog) {
            canvas.fill(cells, L' ', Paint::Window);
            drawChildren(canvas, *w, cells.col, cells.row, focus, hits);
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
        v.focused = h == focus;
        const FontInfo* font = w->font ? CFont::FromHandle(w->font) : nullptr;
        v.bold = font && font->weight >= FW_BOLD;
        v.rangeLow = w->rangeLow;
        v.rangeHigh = w->rangeHigh;
        v.position = w->position;
        v.firstVisibleLine = w->firstVisibleLine;
        v.image = w->image;
        drawControl(canvas, v);
        hits.push_back({cells, h});
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
    drawChildren(canvas, *d, client.col, client.row, focus, hits);
    return hits;
}

HWND hitTest(const std::vector<Hit>& hits, int col, int row) {
    for (auto it = hits.rbegin(); it != hits.rend(); ++it) {
        if (it->cells.contains(col, row)) return it->control;
    }
    return nullptr;
}

}  // namespace ui::term
