#include <gtest/gtest.h>

#include "platform/ui/terminal/draw.h"
#include "platform/ui/terminal/layout.h"

namespace {

using namespace ui::term;

std::string row(const Canvas& c, int r) { return toUtf8(c.rowText(r)); }

// The wizard frame with one page at its placeholder, as the templates start them, in a client
// area of `cols` x `rows` cells (0: the natural size).
// The version label and the percentage carry the texts they have while the wizard runs.
std::vector<ControlView> wizardViews(int pageId, int cols = 0, int rows = 0, CellRect* clientOut = nullptr) {
    ui::DialogTemplate frameCopy = *ui::findDialogTemplate(131), pageCopy = *ui::findDialogTemplate(pageId);
    for (ui::ControlTemplate& c : frameCopy.controls) {
        if (c.id == 1052) c.text = "Version 1.0.3 (Build 151)\nCopyright (C) 2026 Zantir";
    }
    for (ui::ControlTemplate& c : pageCopy.controls) {
        if (c.id == 1047) c.text = "100% complete";
    }
    const ui::DialogTemplate *frame = &frameCopy, *page = &pageCopy;
    CellRect natural = clientCells(frame->cx, frame->cy);
    CellRect client{1, 1, cols ? cols : natural.cols, rows ? rows : natural.rows};
    std::vector<ControlView> views = viewsFromTemplate(*frame, client, natural);
    // The page goes where the frame's layout puts its placeholder.
    std::vector<LayoutItem> items;
    for (const ui::ControlTemplate& t : frame->controls) items.push_back({t.kind, "", t.style, t.x, t.y, t.cx, t.cy});
    items.push_back({ui::Kind::Dialog, "", 0, 0, 0, page->cx, page->cy});
    Placed at = layoutDialog(frame->cx, frame->cy, natural.cols, natural.rows, items, client.cols, client.rows).back();
    CellRect pageCells{client.col + at.cells.col, client.row + at.cells.row, at.cells.cols, at.cells.rows};
    for (ControlView& v : viewsFromTemplate(*page, pageCells, CellRect{0, 0, at.naturalCols, at.naturalRows})) {
        views.push_back(std::move(v));
    }
    if (clientOut) *clientOut = client;
    return views;
}

Canvas render(int pageId, const std::function<void(ControlView&)>& adjust = {}, int cols = 0, int rows = 0) {
    CellRect client;
    std::vector<ControlView> views = wizardViews(pageId, cols, rows, &client);
    Canvas canvas(client.cols + 2, client.rows + 2);
    drawDialogFrame(canvas, client, ui::findDialogTemplate(131)->caption);
    for (ControlView& v : views) {
        if (adjust) adjust(v);
        drawControl(canvas, v);
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

// From 80 x 24 (a client area of 78 x 21) up to the natural 107 x 28, every page in the frame
// shows each text whole, inside the client area and on cells of its own.
TEST(TerminalLayoutTest, EveryPageFitsEverySizeFromTheSmallestUp) {
    for (int cols = 78; cols <= 107; cols += 29 / 4) {
        for (int rows = 21; rows <= 28; ++rows) {
            for (int id : {136, 139, 141, 142, 143}) {
                CellRect client;
                std::vector<ControlView> views = wizardViews(id, cols, rows, &client);
                for (const ControlView& v : views) {
                    SCOPED_TRACE(testing::Message() << cols << "x" << rows << " " << id << "/" << v.id << " " << v.text);
                    EXPECT_GE(v.cells.col, client.col);
                    EXPECT_GE(v.cells.row, client.row);
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
                    if (v.kind == ui::Kind::Edit) {
                        EXPECT_GE(v.cells.rows, 4);  // two lines inside its border
                    }
                    if (v.kind == ui::Kind::Icon) {
                        EXPECT_GE(v.cells.cols, 6);  // "failed" under the cross
                    }
                }
                // Controls never share a cell, but the panel under nothing and the four result
                // icons on one place.
                for (size_t a = 0; a < views.size(); ++a) {
                    for (size_t b = a + 1; b < views.size(); ++b) {
                        const CellRect &p = views[a].cells, &q = views[b].cells;
                        bool overlap = p.col < q.right() && q.col < p.right() && p.row < q.bottom() && q.row < p.bottom();
                        bool allowed = views[a].kind == ui::Kind::Icon && views[b].kind == ui::Kind::Icon;
                        EXPECT_TRUE(!overlap || allowed) << cols << "x" << rows << " " << id << ": " << views[a].id
                                                         << " and " << views[b].id;
                    }
                }
            }
        }
    }
}

// At the natural size the layout is the plain scale: 3 dialog units a column, 8 a row.
TEST(TerminalLayoutTest, TheNaturalSizeIsThePlainScale) {
    EXPECT_EQ(clientCells(319, 222), (CellRect{0, 0, 107, 28}));
    for (int id : {131, 136, 139, 141, 142, 143}) {
        const ui::DialogTemplate* t = ui::findDialogTemplate(id);
        CellRect natural = id == 131 ? clientCells(t->cx, t->cy) : CellRect{0, 0, 107, 24};
        std::vector<ControlView> views = viewsFromTemplate(*t, natural, natural);
        size_t i = 0;
        for (const ui::ControlTemplate& c : t->controls) {
            if (!(c.style & WS_VISIBLE)) continue;
            EXPECT_EQ(views[i++].cells, toCells(c.x, c.y, c.cx, c.cy)) << id << "/" << c.id;
        }
    }
}

// Short of columns the side panel narrows first; the page's texts widen and reflow.
TEST(TerminalLayoutTest, AtEightyColumnsThePanelNarrowsAndTextsReflow) {
    Canvas c = render(141, {}, 78, 21);
    std::string all = c.text();
    EXPECT_NE(all.find("K O R A L"), std::string::npos);
    std::vector<ControlView> views = wizardViews(141, 78, 21);
    auto panel = std::find_if(views.begin(), views.end(), [](const ControlView& v) { return v.kind == ui::Kind::Picture; });
    ASSERT_NE(panel, views.end());
    EXPECT_EQ(panel->cells.cols, kMinPanelCols);
    EXPECT_NE(all.find("If the USB cable is already connected"), std::string::npos);
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
