#include "platform/ui/terminal/geometry.h"

#include <algorithm>

namespace ui::term {
namespace {

int edge(int du, int per) { return du >= 0 ? du / per : -((-du + per - 1) / per); }

int extent(int from, int to, int du) { return du > 0 ? std::max(1, to - from) : 0; }

}  // namespace

CellRect toCells(int x, int y, int cx, int cy) {
    CellRect r;
    r.col = edge(x, kDuPerColumn);
    r.row = edge(y, kDuPerRow);
    r.cols = extent(r.col, edge(x + cx, kDuPerColumn), cx);
    r.rows = extent(r.row, edge(y + cy, kDuPerRow), cy);
    return r;
}

CellRect clientCells(int cx, int cy) {
    return CellRect{0, 0, (cx + kDuPerColumn - 1) / kDuPerColumn, (cy + kDuPerRow - 1) / kDuPerRow};
}

std::wstring widen(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0))) out += wchar_t(c);
    }
    return out;
}

std::vector<std::wstring> wrapText(std::wstring_view text, int width, bool* cutWord) {
    std::vector<std::wstring> lines;
    if (cutWord) *cutWord = false;
    if (width <= 0) return lines;
    const size_t w = size_t(width);
    size_t start = 0;
    while (true) {
        size_t nl = text.find(L'\n', start);
        std::wstring_view rest = text.substr(start, nl == text.npos ? text.npos : nl - start);
        while (rest.size() > w) {
            size_t space = rest.rfind(L' ', w);
            if (space == rest.npos || space == 0) {
                if (cutWord) *cutWord = true;
                lines.emplace_back(rest.substr(0, w));
                rest.remove_prefix(w);
            } else {
                lines.emplace_back(rest.substr(0, space));
                rest.remove_prefix(space + 1);
            }
        }
        lines.emplace_back(rest);
        if (nl == text.npos) break;
        start = nl + 1;
    }
    return lines;
}

bool textFits(std::wstring_view text, const CellRect& cells) {
    bool cut = false;
    std::vector<std::wstring> lines = wrapText(text, cells.cols, &cut);
    return !cut && int(lines.size()) <= cells.rows;
}

}  // namespace ui::term
