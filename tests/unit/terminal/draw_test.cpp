#include <gtest/gtest.h>

#include "platform/ui/terminal/draw.h"

namespace {

using namespace ui::term;

std::string row(const Canvas& c, int r) { return toUtf8(c.rowText(r)); }

// The wizard frame with one page at its placeholder, as the templates start them.
Canvas render(int pageId, const std::function<void(ControlView&)>& adjust = {}) {
    const ui::DialogTemplate* frame = ui::findDialogTemplate(131);
    const ui::DialogTemplate* page = ui::findDialogTemplate(pageId);
    CellRect client = clientCells(frame->cx, frame->cy);
    client.col = client.row = 1;
    Canvas canvas(client.cols + 2, client.rows + 2);
    drawDialogFrame(canvas, client, frame->caption);
    for (const auto* t : {frame, page}) {
        for (ControlView v : viewsFromTemplate(*t, client.col, client.row)) {
            if (adjust) adjust(v);
            drawControl(canvas, v);
        }
    }
    return canvas;
}

TEST(TerminalGeometryTest, WrapsAtSpacesAndLineFeedsAndCutsOnlyOverlongWords) {
    EXPECT_EQ(wrapText(L"one two three", 7), (std::vector<std::wstring>{L"one two", L"three"}));
    EXPECT_EQ(wrapText(L"a\n\nb", 5), (std::vector<std::wstring>{L"a", L"", L"b"}));
    bool cut = false;
    EXPECT_EQ(wrapText(L"abcdefgh ij", 4, &cut), (std::vector<std::wstring>{L"abcd", L"efgh", L"ij"}));
    EXPECT_TRUE(cut);
    EXPECT_TRUE(textFits(L"one two three", CellRect{0, 0, 7, 2}));
    EXPECT_FALSE(textFits(L"one two three", CellRect{0, 0, 7, 1}));
    EXPECT_FALSE(textFits(L"abcdefgh", CellRect{0, 0, 4, 5}));
    EXPECT_EQ(widen("a\r\nb\x01\xe9"), L"a\nb\u00e9");
}

TEST(TerminalGeometryTest, EveryTemplateTextFitsItsCellsAndNoControlsOverlap) {
    for (int id : {131, 136, 139, 141, 142, 143}) {
        const ui::DialogTemplate* t = ui::findDialogTemplate(id);
        ASSERT_NE(t, nullptr);
        CellRect client = clientCells(t->cx, t->cy);
        std::vector<ControlView> views = viewsFromTemplate(*t, 0, 0);
        for (const ControlView& v : views) {
            SCOPED_TRACE(testing::Message() << id << "/" << v.id << " " << v.text);
            EXPECT_LE(v.cells.right(), client.right());
            EXPECT_LE(v.cells.bottom(), client.bottom());
            if (v.kind == ui::Kind::Static || v.kind == ui::Kind::CheckBox) {
                CellRect text = v.cells;
                if (v.kind == ui::Kind::CheckBox) text.cols -= 4;
                EXPECT_TRUE(textFits(widen(v.text), text));
            }
            if (v.kind == ui::Kind::PushButton) {
                EXPECT_LE(int(v.text.size()) + 6, v.cells.cols);
            }
        }
        // Controls that carry text never share a cell (the four result icons share on purpose).
        for (size_t a = 0; a < views.size(); ++a) {
            for (size_t b = a + 1; b < views.size(); ++b) {
                const CellRect &p = views[a].cells, &q = views[b].cells;
                bool overlap = p.col < q.right() && q.col < p.right() && p.row < q.bottom() && q.row < p.bottom();
                bool allowed = views[a].kind == ui::Kind::Icon && views[b].kind == ui::Kind::Icon;
                EXPECT_TRUE(!overlap || allowed) << id << ": " << views[a].id << " and " << views[b].id;
            }
        }
    }
    EXPECT_EQ(clientCells(319, 222), (CellRect{0, 0, 107, 28}));
}

TEST(TerminalDrawTest, UploadPageShowsBarSignButtonsAndTheLogTail) {
    std::string log;
    for (int i = 1; i <= 20; ++i) log += "line " + std::to_string(i) + "\r\n";
    Canvas c = render(139, [&](ControlView& v) {
        if (v.id == 1046) v.rangeHigh = 100, v.position = 50;
        if (v.id == 1061) v.text = log, v.firstVisibleLine = 20;
        if (v.id == 1047) v.text = "50% complete";
    });
    std::string all = c.text();
    EXPECT_NE(row(c, 0).find("Zantir KORAL Firmware Upload Wizard - "), std::string::npos);
    EXPECT_NE(all.find("Firmware Image Transfer"), std::string::npos);
    EXPECT_NE(all.find("50% complete"), std::string::npos);
    EXPECT_NE(all.find("[[ Next > ]]"), std::string::npos);  // the default button is marked
    EXPECT_NE(all.find("[ < Back ]"), std::string::npos);
    EXPECT_NE(all.find("[ Close ]"), std::string::npos);
    EXPECT_NE(all.find("line 20"), std::string::npos);  // scrolled to the end: the tail shows
    EXPECT_EQ(all.find("line 1\n"), std::string::npos);
    // Half the bar is full.
    int bar = -1;
    for (int r = 0; r < c.rows(); ++r) {
        if (row(c, r).find("░") != std::string::npos && row(c, r).find("█") != std::string::npos &&
            row(c, r).find("line") == std::string::npos) bar = r;
    }
    ASSERT_GE(bar, 0);
    std::wstring bars = c.rowText(bar);
    size_t full = std::count(bars.begin(), bars.end(), L'█'), empty = std::count(bars.begin(), bars.end(), L'░');
    EXPECT_EQ(full, empty);
    EXPECT_EQ(c.at(int(bars.find(L'█')), bar).paint, Paint::Bar);
    // All four signs share one place; drawn last, the gears show, in their colour.
    size_t gear = all.find("⚙");
    ASSERT_NE(gear, std::string::npos);
    EXPECT_NE(all.find("busy"), std::string::npos);
}

TEST(TerminalDrawTest, EditRowsFollowTheFirstVisibleLineAndWrapLongLines) {
    std::string text = "a\r\nb\r\nlong line here\r\nc";
    EXPECT_EQ(editRows(text, 0, 9, 2), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(editRows(text, 2, 9, 2), (std::vector<std::wstring>{L"long line", L"here"}));
    EXPECT_EQ(editRows(text, 3, 9, 3), (std::vector<std::wstring>{L"long line", L"here", L"c"}));
    EXPECT_EQ(editRows("", 0, 9, 3), (std::vector<std::wstring>{L""}));
}

TEST(TerminalDrawTest, ServiceModeCheckBoxDisabledTextAndMessageBox) {
    Canvas c = render(142, [](ControlView& v) {
        if (v.id == 1050) v.checked = true, v.focused = true;
        if (v.id == 12323) v.enabled = false;
    });
    std::string all = c.text();
    EXPECT_NE(all.find("[x] Use power-cycling method"), std::string::npos);
    size_t at = all.find("[x]");
    int r = int(std::count(all.begin(), all.begin() + long(at), '\n'));
    EXPECT_EQ(c.at(int(c.rowText(r).find(L"[x]")), r).paint, Paint::Focus);
    int back = -1;
    for (int y = 0; y < c.rows(); ++y) {
        if (c.rowText(y).find(L"< Back") != std::wstring::npos) back = y;
    }
    ASSERT_GE(back, 0);
    EXPECT_EQ(c.at(int(c.rowText(back).find(L"< Back")), back).paint, Paint::Disabled);

    std::vector<CellRect> buttons =
        drawMessageBox(c, "KoralLoader", "InfoA is blank! You need to restore it from file", MB_ICONEXCLAMATION,
                       {{"OK", true}}, 0);
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_NE(toUtf8(c.rowText(buttons[0].row)).find("[[ OK ]]"), std::string::npos);
    std::string boxed = c.text();
    EXPECT_NE(boxed.find("InfoA is blank! You need to restore it from file"), std::string::npos);
    EXPECT_NE(boxed.find(" KoralLoader "), std::string::npos);
}

}  // namespace
