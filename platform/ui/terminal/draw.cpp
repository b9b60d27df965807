#include "platform/ui/terminal/draw.h"

#include <algorithm>

#include "platform/ui/terminal/layout.h"

namespace ui::term {
namespace {

std::wstring centred(std::wstring_view text, int width) {
    int pad = std::max(0, (width - int(text.size())) / 2);
    return std::wstring(size_t(pad), L' ') + std::wstring(text);
}

void drawText(Canvas& canvas, const CellRect& r, const std::wstring& text, DWORD align, Paint paint) {
    std::vector<std::wstring> lines = wrapText(text, r.cols);
    for (int i = 0; i < r.rows && i < int(lines.size()); ++i) {
        const std::wstring& line = lines[size_t(i)];
        int col = r.col;
        if (align == SS_CENTER) col += std::max(0, (r.cols - int(line.size())) / 2);
        if (align == SS_RIGHT) col += std::max(0, r.cols - int(line.size()));
        canvas.put(col, r.row + i, line, paint, r.right() - col);
    }
}

void drawStatic(Canvas& canvas, const ControlView& c) {
    Paint paint = !c.enabled ? Paint::Disabled : c.bold ? Paint::Title : Paint::Window;
    canvas.fill(c.cells, L' ', Paint::Window);
    drawText(canvas, c.cells, widen(c.text), c.style & 0x3, paint);
}

void drawFrame(Canvas& canvas, const ControlView& c) {
    if (c.cells.rows == 1) {
        canvas.hline(c.cells.col, c.cells.row, c.cells.cols, Paint::Border);
    } else {
        canvas.box(c.cells, Paint::Border);
    }
}

void drawPicture(Canvas& canvas, const ControlView& c) {
    // The side bitmap: a coloured panel with the maker's and the product's name.
    canvas.fill(c.cells, L' ', Paint::Panel);
    const CellRect& r = c.cells;
    canvas.put(r.col, r.row + 2, centred(L"Zantir", r.cols), Paint::PanelText, r.cols);
    canvas.put(r.col, r.row + 4, centred(L"K O R A L", r.cols), Paint::PanelText, r.cols);
    canvas.put(r.col, r.bottom() - 3, centred(L"Firmware Upload", r.cols), Paint::PanelText, r.cols);
    for (int x = r.col + 2; x < r.right() - 2; ++x) canvas.set(x, r.row + 6, L'─', Paint::PanelText);
}

void drawIcon(Canvas& canvas, const ControlView& c) {
    struct Sign {
        int image;
        wchar_t ch;
        const wchar_t* word;
        Paint paint;
    };
    static const Sign signs[] = {{162, L'✔', L"done", Paint::Done},
                                 {163, L'✘', L"failed", Paint::Failed},
                                 {164, L'?', L"unsure", Paint::Unsure},
                                 {165, L'⚙', L"busy", Paint::Busy}};
    for (const Sign& s : signs) {
        if (s.image != c.image) continue;
        canvas.fill(c.cells, L' ', Paint::Window);
        canvas.put(c.cells.col, c.cells.row, centred(std::wstring(1, s.ch), c.cells.cols), s.paint, c.cells.cols);
        if (c.cells.rows > 1) canvas.put(c.cells.col, c.cells.row + 1, centred(s.word, c.cells.cols), s.paint, c.cells.cols);
    }
}

void drawButton(Canvas& canvas, const ControlView& c) {
    bool isDefault = (c.style & 0xF) == BS_DEFPUSHBUTTON;
    std::wstring label = widen(c.text);
    label = isDefault ? L"[[ " + label + L" ]]" : L"[ " + label + L" ]";
    Paint paint = !c.enabled   ? Paint::Disabled
                  : c.focused  ? Paint::Focus
                  : isDefault  ? Paint::DefaultButton
                               : Paint::Button;
    int pad = std::max(0, (c.cells.cols - int(label.size())) / 2);
    canvas.put(c.cells.col + pad, c.cells.row, label, paint, c.cells.cols - pad);
}

void drawCheckBox(Canvas& canvas, const ControlView& c) {
    Paint paint = c.enabled ? Paint::Window : Paint::Disabled;
    canvas.fill(c.cells, L' ', Paint::Window);
    canvas.put(c.cells.col, c.cells.row, c.checked ? L"[x]" : L"[ ]", c.focused && c.enabled ? Paint::Focus : paint);
    CellRect text{c.cells.col + 4, c.cells.row, c.cells.cols - 4, c.cells.rows};
    drawText(canvas, text, widen(c.text), SS_LEFT, paint);
}

struct EditView {
    std::vector<std::wstring> rows;  // every line of the text, wrapped
    size_t top = 0;                  // the first row shown
};

EditView layoutEdit(const std::string& text, int firstVisibleLine, int width, int height) {
    EditView view;
    size_t firstRow = 0;
    int line = 0;
    for (size_t start = 0;; ++line) {
        size_t nl = text.find('\n', start);
        if (line <= firstVisibleLine) firstRow = view.rows.size();
        std::string_view part(text.data() + start, (nl == text.npos ? text.size() : nl) - start);
        for (std::wstring& r : wrapText(widen(part), width)) view.rows.push_back(std::move(r));
        if (nl == text.npos) break;
        start = nl + 1;
    }
    size_t last = view.rows.size() > size_t(std::max(0, height)) ? view.rows.size() - size_t(height) : 0;
    view.top = std::min(firstRow, last);
    return view;
}

void drawEdit(Canvas& canvas, const ControlView& c) {
    CellRect inner = c.cells;
    if ((c.style & WS_BORDER) && inner.cols > 2 && inner.rows > 2) {
        canvas.box(c.cells, c.enabled ? Paint::Border : Paint::Disabled);
        inner = CellRect{inner.col + 1, inner.row + 1, inner.cols - 2, inner.rows - 2};
    }
    canvas.fill(inner, L' ', Paint::Field);
    EditView view = layoutEdit(c.text, c.firstVisibleLine, inner.cols, inner.rows);
    for (int i = 0; i < inner.rows && view.top + size_t(i) < view.rows.size(); ++i) {
        canvas.put(inner.col, inner.row + i, view.rows[view.top + size_t(i)], Paint::Field);
    }
    int total = int(view.rows.size());
    if ((c.style & WS_VSCROLL) && inner.rows > 1 && total > inner.rows) {
        // The thumb in the right edge shows where the first shown row lies in the whole text.
        int thumb = int(view.top) * (inner.rows - 1) / (total - inner.rows);
        for (int y = 0; y < inner.rows; ++y) canvas.set(inner.right(), inner.row + y, y == thumb ? L'█' : L'░', Paint::Border);
    }
}

void drawProgress(Canvas& canvas, const ControlView& c) {
    CellRect inner = c.cells;
    if ((c.style & WS_BORDER) && inner.rows > 2 && inner.cols > 2) {
        canvas.box(c.cells, Paint::Border);
        inner = CellRect{inner.col + 1, inner.row + 1, inner.cols - 2, inner.rows - 2};
    }
    long long span = std::max(1LL, (long long)c.rangeHigh - c.rangeLow);
    long long done = std::clamp((long long)c.position - c.rangeLow, 0LL, span);
    long long eighths = done * inner.cols * 8 / span;
    static const wchar_t partial[] = L" ▏▎▍▌▋▊▉";
    for (int y = inner.row; y < inner.bottom(); ++y) {
        for (int x = 0; x < inner.cols; ++x) {
            long long cell = eighths - 8LL * x;
            if (cell >= 8) {
                canvas.set(inner.col + x, y, L'█', Paint::Bar);
            } else if (cell > 0) {
                canvas.set(inner.col + x, y, partial[cell], Paint::Bar);
            } else {
                canvas.set(inner.col + x, y, L'░', Paint::Field);
            }
        }
    }
}

}  // namespace

void drawControl(Canvas& canvas, const ControlView& c) {
    switch (c.kind) {
    case Kind::Static: drawStatic(canvas, c); break;
    case Kind::Frame: drawFrame(canvas, c); break;
    case Kind::Picture: drawPicture(canvas, c); break;
    case Kind::Icon: drawIcon(canvas, c); break;
    case Kind::PushButton: drawButton(canvas, c); break;
    case Kind::CheckBox: drawCheckBox(canvas, c); break;
    case Kind::Edit: drawEdit(canvas, c); break;
    case Kind::Progress: drawProgress(canvas, c); break;
    case Kind::Dialog: break;
    }
}

CellRect frameAround(const CellRect& client) {
    return CellRect{client.col - 1, client.row - 1, client.cols + 2, client.rows + 2};
}

void drawDialogFrame(Canvas& canvas, const CellRect& client, const std::string& caption) {
    CellRect outer = frameAround(client);
    canvas.fill(outer, L' ', Paint::Window);
    canvas.box(outer, Paint::Border);
    std::wstring title = widen(caption);
    if (!title.empty()) canvas.put(outer.col + 2, outer.row, L" " + title + L" ", Paint::Caption, outer.cols - 4);
}

std::vector<ControlView> viewsFromTemplate(const DialogTemplate& tmpl, const CellRect& client, const CellRect& natural) {
    std::vector<LayoutItem> items;
    for (const ControlTemplate& t : tmpl.controls) items.push_back({t.kind, t.text ? t.text : "", t.style, t.x, t.y, t.cx, t.cy});
    std::vector<Placed> placed = layoutDialog(tmpl.cx, tmpl.cy, natural.cols, natural.rows, items, client.cols, client.rows);
    std::vector<ControlView> views;
    for (size_t i = 0; i < tmpl.controls.size(); ++i) {
        const ControlTemplate& t = tmpl.controls[i];
        if (!(t.style & WS_VISIBLE)) continue;
        ControlView v;
        v.kind = t.kind;
        v.id = t.id;
        v.text = items[i].text;
        v.style = t.style;
        v.cells = placed[i].cells;
        v.cells.col += client.col;
        v.cells.row += client.row;
        v.enabled = !(t.style & WS_DISABLED);
        v.image = t.image;
        views.push_back(std::move(v));
    }
    return views;
}

std::vector<std::wstring> editRows(const std::string& text, int firstVisibleLine, int width, int height) {
    EditView view = layoutEdit(text, firstVisibleLine, width, height);
    size_t to = std::min(view.rows.size(), view.top + size_t(std::max(0, height)));
    return std::vector<std::wstring>(view.rows.begin() + long(view.top), view.rows.begin() + long(to));
}

std::vector<CellRect> drawMessageBox(Canvas& canvas, const std::string& caption, const std::string& text,
                                     UINT icon, const std::vector<BoxButton>& buttons, int focused) {
    struct Sign {
        UINT icon;
        wchar_t ch;
        Paint paint;
    };
    static const Sign signs[] = {{MB_ICONHAND, L'✘', Paint::Failed},
                                 {MB_ICONQUESTION, L'?', Paint::Unsure},
                                 {MB_ICONEXCLAMATION, L'!', Paint::Warning},
                                 {MB_ICONASTERISK, L'i', Paint::Unsure}};
    const Sign* sign = nullptr;
    for (const Sign& s : signs) {
        if (s.icon == (icon & MB_ICONMASK)) sign = &s;
    }
    const int indent = sign ? 4 : 1;  // margin, and the sign's column with a gap after it
    std::wstring body = widen(text), title = widen(caption);
    int buttonsWidth = 0;
    for (const BoxButton& b : buttons) buttonsWidth += int(widen(b.label).size()) + 6;
    int longest = 0;
    for (const std::wstring& l : wrapText(body, 1 << 20)) longest = std::max(longest, int(l.size()));
    int maxInner = std::max(20, canvas.cols() - 6);
    int inner = std::clamp(std::max({longest + indent + 1, int(title.size()) + 2, buttonsWidth + 2}), 30, maxInner);
    std::vector<std::wstring> lines = wrapText(body, inner - indent - 1);
    int rows = int(lines.size()) + 3;
    CellRect client{(canvas.cols() - inner) / 2, (canvas.rows() - rows) / 2, inner, rows};
    drawDialogFrame(canvas, client, caption);
    if (sign) canvas.set(client.col + 1, client.row + 1, sign->ch, sign->paint);
    for (int i = 0; i < int(lines.size()); ++i) {
        canvas.put(client.col + indent, client.row + 1 + i, lines[size_t(i)], Paint::Window);
    }
    std::vector<CellRect> rects;
    int col = client.col + (inner - buttonsWidth) / 2;
    for (int i = 0; i < int(buttons.size()); ++i) {
        ControlView v;
        v.kind = Kind::PushButton;
        v.text = buttons[size_t(i)].label;
        v.style = buttons[size_t(i)].isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        v.focused = i == focused;
        v.cells = CellRect{col, client.bottom() - 1, int(widen(v.text).size()) + 6, 1};
        drawControl(canvas, v);
        rects.push_back(v.cells);
        col += v.cells.cols;
    }
    return rects;
}

}  // namespace ui::term
