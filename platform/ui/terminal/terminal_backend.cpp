#include "platform/ui/terminal/terminal_backend.h"

#include <algorithm>
#include <cwctype>

#include "platform/os/clock.h"
#include "platform/ui/input.h"
#include "platform/ui/terminal/chooser.h"

namespace ui::term {
namespace {

constexpr int ID_BACK = 12323, ID_NEXT = 12324;
constexpr uint32_t STATUS_MS = 4000;

const wchar_t* const KEY_LINE =
    L" B Back   N Next   C Close   Tab/Shift+Tab move   Space tick   Enter default button   Esc Close ";

void tooSmall(Canvas& canvas, const CellRect& need) {
    canvas.fill(CellRect{0, 0, canvas.cols(), canvas.rows()}, L' ', Paint::Screen);
    std::wstring text = L"The terminal is too small for the wizard: it needs " + std::to_wstring(need.cols) + L" x " +
                        std::to_wstring(need.rows) + L" characters and has " + std::to_wstring(canvas.cols()) +
                        L" x " + std::to_wstring(canvas.rows()) + L". Please make it larger.";
    std::vector<std::wstring> lines = wrapText(text, std::max(1, canvas.cols() - 2));
    int row = std::max(0, (canvas.rows() - int(lines.size())) / 2);
    for (const std::wstring& l : lines) canvas.put(std::max(0, (canvas.cols() - int(l.size())) / 2), row++, l, Paint::Screen);
}

struct BoxLayout {
    std::vector<BoxButton> buttons;
    std::vector<int> answers;
};

BoxLayout boxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{{"OK", true}, {"Cancel"}}, {IDOK, IDCANCEL}};
    case MB_ABORTRETRYIGNORE: return {{{"Abort", true}, {"Retry"}, {"Ignore"}}, {IDABORT, IDRETRY, IDIGNORE}};
    case MB_YESNOCANCEL: return {{{"Yes", true}, {"No"}, {"Cancel"}}, {IDYES, IDNO, IDCANCEL}};
    case MB_YESNO: return {{{"Yes", true}, {"No"}}, {IDYES, IDNO}};
    case MB_RETRYCANCEL: return {{{"Retry", true}, {"Cancel"}}, {IDRETRY, IDCANCEL}};
    default: return {{{"OK", true}}, {IDOK}};
    }
}

ui::Key toolkitKey(Key k) {
    switch (k) {
    case Key::Tab: return ui::Key::Tab;
    case Key::BackTab: return ui::Key::BackTab;
    case Key::Enter: return ui::Key::Enter;
    case Key::Space: return ui::Key::Space;
    default: return ui::Key::Escape;
    }
}

}  // namespace

void TerminalBackend::paint(HWND dialog, bool force, const std::function<void(Canvas&)>& overlay) {
    bool resized = canvas_.cols() != screen_.cols() || canvas_.rows() != screen_.rows();
    if (!dirty_ && !force && !resized && painted_ == dialog) return;
    dirty_ = false;
    painted_ = dialog;
    canvas_.resize(screen_.cols(), screen_.rows());
    CellRect client = dialogCells(dialog);
    CellRect need{0, 0, client.cols + 2, client.rows + 3};  // border and the key line
    if (canvas_.cols() < need.cols || canvas_.rows() < need.rows) {
        hits_.clear();
        tooSmall(canvas_, need);
        screen_.show(canvas_);
        return;
    }
    canvas_.fill(CellRect{0, 0, canvas_.cols(), canvas_.rows()}, L' ', Paint::Screen);
    client.col = (canvas_.cols() - client.cols) / 2;
    client.row = std::max(1, (canvas_.rows() - need.rows) / 2 + 1);
    hits_ = drawDialog(canvas_, dialog, client, ui::focus(dialog));
    int keyRow = client.bottom() + 1;
    if (!status_.empty() && platform::tickCount() - statusSince_ < STATUS_MS) {
        canvas_.put(client.col - 1, keyRow, widen(" " + status_ + " "), Paint::Warning, client.cols + 2);
    } else {
        status_.clear();
        std::wstring keys = KEY_LINE;
        canvas_.put(client.col - 1 + std::max(0, (client.cols + 2 - int(keys.size())) / 2), keyRow, keys, Paint::Hint,
                    client.cols + 2);
    }
    if (overlay) overlay(canvas_);
    screen_.show(canvas_);
}

int TerminalBackend::waitBudgetMs() const {
    // Timers run on the program's clock, which may run faster than real time; a short cap keeps
    // them punctual without knowing its speed, and redraws status lines that expire.
    uint64_t due = nextTimerDueUs();
    if (due == UINT64_MAX) return 200;
    uint64_t now = platform::activeClock().nowUs();
    return due <= now ? 0 : int(std::min<uint64_t>((due - now) / 1000, 20));
}

void TerminalBackend::clickButton(HWND dialog, int id) {
    HWND button = findChild(dialog, id);
    if (!button || !ui::click(button)) screen_.beep();
}

void TerminalBackend::handle(HWND dialog, const InputEvent& e) {
    switch (e.key) {
    case Key::Resize: dirty_ = true; break;
    case Key::Interrupt: {
        HWND close = findChild(dialog, IDCANCEL);
        const Window* w = window(close);
        if (w && !w->enabled()) {
            status_ = "The upload is running: Close is disabled. Ctrl+C again quits at once, cutting it short.";
            statusSince_ = platform::tickCount();
            dirty_ = true;
        }
        ui::pressKey(dialog, ui::Key::Escape);
        break;
    }
    case Key::Tab:
    case Key::BackTab:
    case Key::Enter:
    case Key::Space:
    case Key::Escape: ui::pressKey(dialog, toolkitKey(e.key)); break;
    case Key::Char:
        switch (e.ch) {
        case L'b':
        case L'B': clickButton(dialog, ID_BACK); break;
        case L'n':
        case L'N': clickButton(dialog, ID_NEXT); break;
        case L'c':
        case L'C': clickButton(dialog, IDCANCEL); break;
        default: break;
        }
        break;
    case Key::Click:
        if (HWND h = hitTest(hits_, e.col, e.row)) ui::click(h);
        break;
    default: break;
    }
    dirty_ = true;
}

bool TerminalBackend::waitForInput(HWND dialog) {
    paint(dialog);
    std::optional<InputEvent> e = screen_.wait(waitBudgetMs());
    if (e) handle(dialog, *e);
    return true;
}

int TerminalBackend::messageBox(const MessageBoxRequest& request) {
    BoxLayout layout = boxButtons(request.type);
    int focused = 0;
    std::vector<CellRect> rects;
    HWND under = painted_;
    while (true) {
        pumpMessages();  // the windows behind the box go on receiving their messages
        paint(under, true, [&](Canvas& c) {
            rects = drawMessageBox(c, request.caption, request.text, request.type, layout.buttons, focused);
        });
        std::optional<InputEvent> e = screen_.wait(50);
        if (!e) continue;
        int n = int(layout.buttons.size());
        switch (e->key) {
        case Key::Tab:
        case Key::Right: focused = (focused + 1) % n; break;
        case Key::BackTab:
        case Key::Left: focused = (focused + n - 1) % n; break;
        case Key::Enter:
        case Key::Space: return layout.answers[size_t(focused)];
        case Key::Escape:
        case Key::Interrupt:
            // As Win32: Escape answers Cancel, or OK on a box that has only OK.
            for (int a : layout.answers) {
                if (a == IDCANCEL) return IDCANCEL;
            }
            if (n == 1 && layout.answers[0] == IDOK) return IDOK;
            screen_.beep();
            break;
        case Key::Char:
            for (int i = 0; i < n; ++i) {
                if (std::towlower(e->ch) == std::towlower(wchar_t(layout.buttons[size_t(i)].label[0]))) {
                    return layout.answers[size_t(i)];
                }
            }
            break;
        case Key::Click:
            for (int i = 0; i < int(rects.size()); ++i) {
                if (rects[size_t(i)].contains(e->col, e->row)) return layout.answers[size_t(i)];
            }
            break;
        default: break;
        }
    }
}

bool TerminalBackend::fileDialog(FileDialogRequest& request) {
    ChooserOptions options;
    options.title = "Open";
    options.filter = request.filter;
    options.defaultExt = request.defaultExt;
    options.mustExist = (request.flags & OFN_FILEMUSTEXIST) != 0;
    FileChooser chooser(options);
    HWND under = painted_;
    while (chooser.state() == FileChooser::State::Open) {
        pumpMessages();
        paint(under, true, [&](Canvas& c) { chooser.draw(c); });
        std::optional<InputEvent> e = screen_.wait(50);
        if (e) chooser.handle(e->key == Key::Interrupt ? InputEvent{Key::Escape} : *e);
    }
    dirty_ = true;
    if (chooser.state() != FileChooser::State::Chosen) return false;
    request.result = chooser.result();
    return true;
}

}  // namespace ui::term
