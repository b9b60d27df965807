#include "platform/ui/terminal/layout.h"

#include <algorithm>

namespace ui::term {
namespace {

bool isPanel(const LayoutItem& it, int cy) { return it.kind == Kind::Picture && it.x == 0 && it.y == 0 && it.cy >= cy; }

bool isText(const LayoutItem& it) { return it.kind == Kind::Static || it.kind == Kind::CheckBox; }

// A result sign has its word under it ("failed", "unsure").
constexpr int ICON_COLS = 6;

// Growable boxes give rows back when space is short, down to this.
int minRows(const LayoutItem& it) {
    switch (it.kind) {
    case Kind::Edit: return (it.style & WS_BORDER) ? 4 : 2;  // two lines of text inside the border
    case Kind::Dialog: return 0;
    case Kind::Picture: return 1;
    case Kind::Frame: return it.cy > kDuPerRow ? 0 : -1;
    default: return -1;  // not growable
    }
}

struct Scale {
    long long cols, rows, natCols, natRows;
    long long split = 0, panel = 0;  // the panel's edge in dialog units and its cells; 0: none

    int col(int x) const {
        if (split == 0) return int(x * cols / (natCols * kDuPerColumn));
        if (x <= split) return int(x * panel / split);
        return int(panel + (x - split) * (cols - panel) / (natCols * kDuPerColumn - split));
    }
    int row(int y) const { return int(y * rows / (natRows * kDuPerRow)); }
};

struct Band {
    int natTop = 0, top = 0, height = 0, minHeight = 0;
    std::vector<size_t> members;
};

}  // namespace

int rowsNeeded(const LayoutItem& item, int cols) {
    if (item.kind == Kind::CheckBox) cols -= 4;  // "[x] "
    if (item.text.empty()) return 1;
    bool cut = false;
    int n = int(wrapText(widen(item.text), std::max(1, cols), &cut).size());
    return cut ? 1 << 16 : n;  // a cut word never fits
}

std::vector<Placed> layoutDialog(int cx, int cy, int naturalCols, int naturalRows, const std::vector<LayoutItem>& items,
                                 int cols, int rows) {
    Scale s{cols, rows, naturalCols, naturalRows};
    for (const LayoutItem& it : items) {
        if (!isPanel(it, cy)) continue;
        s.split = it.cx / kDuPerColumn * kDuPerColumn;
        long long natural = s.split / kDuPerColumn;
        s.panel = std::clamp<long long>(cols - (naturalCols - natural), std::min<long long>(kMinPanelCols, natural), natural);
    }
    const size_t n = items.size();
    std::vector<Placed> out(n);
    std::vector<int> want(n), offset(n);
    for (size_t i = 0; i < n; ++i) {
        const LayoutItem& it = items[i];
        CellRect& r = out[i].cells;
        r.col = s.col(it.x);
        r.row = s.row(it.y);
        r.cols = it.cx > 0 ? std::max(1, s.col(it.x + it.cx) - r.col) : 0;
        r.rows = it.cy > 0 ? std::max(1, s.row(it.y + it.cy) - r.row) : 0;
        out[i].naturalCols = (it.x + it.cx) / kDuPerColumn - it.x / kDuPerColumn;
        out[i].naturalRows = (it.y + it.cy) / kDuPerRow - it.y / kDuPerRow;
        want[i] = r.rows;
        if (isPanel(it, cy)) continue;
        bool narrowText = isText(it) && rowsNeeded(it, r.cols) > r.rows;
        if (narrowText || (it.kind == Kind::Icon && r.cols < ICON_COLS)) {
            // Widen to the right, no further than the next control beside it or the edge's margin.
            int limit = std::max(r.right(), cols - 1);
            for (size_t j = 0; j < n; ++j) {
                const LayoutItem& o = items[j];
                bool beside = o.y < it.y + it.cy && it.y < o.y + o.cy && o.x >= it.x + it.cx;
                if (j != i && beside && !isPanel(o, cy)) limit = std::min(limit, std::max(r.right(), s.col(o.x)));
            }
            while (r.right() < limit && (isText(it) ? rowsNeeded(it, r.cols) > r.rows : r.cols < ICON_COLS)) ++r.cols;
            if (isText(it)) want[i] = std::max(r.rows, rowsNeeded(it, r.cols));
        } else if (minRows(it) >= 0) {
            want[i] = std::max(r.rows, minRows(it));
        }
    }
    // Bands: the controls whose template rows overlap, in order from the top.
    std::vector<size_t> order;
    for (size_t i = 0; i < n; ++i) {
        if (!isPanel(items[i], cy) && items[i].cy > 0) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return items[a].y < items[b].y; });
    std::vector<Band> bands;
    int bandEnd = -1;
    for (size_t i : order) {
        if (bands.empty() || items[i].y >= bandEnd) bands.emplace_back();
        bands.back().members.push_back(i);
        bandEnd = std::max(bandEnd, items[i].y + items[i].cy);
    }
    for (Band& b : bands) {
        b.natTop = rows;
        for (size_t i : b.members) b.natTop = std::min(b.natTop, out[i].cells.row);
        for (size_t i : b.members) {
            offset[i] = out[i].cells.row - b.natTop;
            b.height = std::max(b.height, offset[i] + want[i]);
            b.minHeight = std::max(b.minHeight, offset[i] + (minRows(items[i]) >= 0 ? minRows(items[i]) : want[i]));
        }
    }
    // Bands keep their scaled places unless the one above pushes them down; when the rows run
    // out the gaps close from the bottom up, then growable boxes give rows back.
    auto place = [&] {
        int bottom = 0;
        for (Band& b : bands) {
            b.top = std::max(b.natTop, bottom);
            bottom = b.top + b.height;
        }
        int limit = rows;
        for (auto b = bands.rbegin(); b != bands.rend(); ++b) {
            b->top = std::min(b->top, limit - b->height);
            limit = b->top;
        }
        return -limit;
    };
    if (int missing = place(); missing > 0) {
        for (Band& b : bands) {
            int give = std::min(missing, b.height - b.minHeight);
            b.height -= give;
            missing -= give;
        }
        place();
    }
    for (Band& b : bands) b.top = std::max(0, b.top);  // too tall even so: the top rows show
    for (const Band& b : bands) {
        for (size_t i : b.members) {
            CellRect& r = out[i].cells;
            int h = std::min(want[i], b.height);
            if (minRows(items[i]) >= 0) h = std::max(0, std::min(want[i], b.height - std::min(offset[i], b.height)));
            r.row = b.top + std::min(offset[i], std::max(0, b.height - h));
            r.rows = h;
        }
    }
    return out;
}

}  // namespace ui::term
