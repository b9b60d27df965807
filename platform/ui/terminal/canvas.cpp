#include "platform/ui/terminal/canvas.h"

#include <algorithm>

namespace ui::term {

void Canvas::resize(int cols, int rows) {
    cols_ = std::max(0, cols);
    rows_ = std::max(0, rows);
    cells_.assign(size_t(cols_) * size_t(rows_), Cell{});
}

const Cell& Canvas::at(int col, int row) const {
    static const Cell outside{};
    if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return outside;
    return cells_[size_t(row) * size_t(cols_) + size_t(col)];
}

void Canvas::set(int col, int row, wchar_t ch, Paint paint) {
    if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return;
    cells_[size_t(row) * size_t(cols_) + size_t(col)] = Cell{ch, paint};
}

void Canvas::put(int col, int row, std::wstring_view text, Paint paint, int maxCols) {
    if (maxCols >= 0 && text.size() > size_t(maxCols)) text = text.substr(0, size_t(maxCols));
    for (size_t i = 0; i < text.size(); ++i) set(col + int(i), row, text[i], paint);
}

void Canvas::fill(const CellRect& r, wchar_t ch, Paint paint) {
    for (int y = r.row; y < r.bottom(); ++y) {
        for (int x = r.col; x < r.right(); ++x) set(x, y, ch, paint);
    }
}

void Canvas::hline(int col, int row, int cols, Paint paint) {
    for (int x = col; x < col + cols; ++x) set(x, row, L'─', paint);
}

void Canvas::box(const CellRect& r, Paint paint) {
    if (r.cols < 2 || r.rows < 2) return;
    hline(r.col + 1, r.row, r.cols - 2, paint);
    hline(r.col + 1, r.bottom() - 1, r.cols - 2, paint);
    for (int y = r.row + 1; y < r.bottom() - 1; ++y) {
        set(r.col, y, L'│', paint);
        set(r.right() - 1, y, L'│', paint);
    }
    set(r.col, r.row, L'┌', paint);
    set(r.right() - 1, r.row, L'┐', paint);
    set(r.col, r.bottom() - 1, L'└', paint);
    set(r.right() - 1, r.bottom() - 1, L'┘', paint);
}

std::wstring Canvas::rowText(int row) const {
    std::wstring s;
    for (int x = 0; x < cols_; ++x) s += at(x, row).ch;
    s.erase(s.find_last_not_of(L' ') + 1);
    return s;
}

std::string Canvas::text() const {
    std::string out;
    for (int y = 0; y < rows_; ++y) {
        out += toUtf8(rowText(y));
        out += '\n';
    }
    return out;
}

wchar_t asciiFor(wchar_t ch) {
    if (ch < 0x7F) return ch;
    switch (ch) {
    case L'─': return L'-';
    case L'│': return L'|';
    case L'┌':
    case L'┐':
    case L'└':
    case L'┘': return L'+';
    case L'░': return L'.';
    case L'✔': return L'v';
    case L'✘': return L'x';
    case L'⚙': return L'*';
    default: break;
    }
    if (ch >= L'▀' && ch <= L'▐') return L'#';  // the full and partial blocks of bars and thumbs
    return L'?';
}

std::string toUtf8(std::wstring_view text) {
    std::string out;
    for (wchar_t wc : text) {
        auto c = uint32_t(wc);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace ui::term
