#include "platform/ui/terminal/terminal_backend.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <thread>

#include "platform/os/clock.h"
#include "platform/ui/input.h"
#include "platform/ui/terminal/chooser.h"
#include "platform/ui/terminal/signals.h"

namespace ui::term {
namespace {

constexpr int ID_BACK = 12323, ID_NEXT = 12324;
constexpr uint32_t STATUS_MS = 4000;

// The longest that fits is shown.
const wchar_t* const KEY_LINES[] = {
    L" B Back   N Next   C Close   Tab/Shift+Tab move   Space tick   Enter default button   Esc Close ",
    L" B Back  N Next  C Close  Tab/Shift+Tab move  Space tick  Enter default  Esc Close ",
    L" B Back  N Next  C Close  Tab move  Space tick  Enter default "};

// The terminal an operator opens: every dialog is laid out to fit it.
constexpr int MIN_COLS = 80, MIN_ROWS = 24;

void tooSmall(Canvas& canvas, const CellRect& need) {
    canvas.fill(CellRect{0, 0, canvas.cols(), canvas.rows()}, L' ', Paint::Screen);
    std::wstring text = L"The terminal is too small for the wizard: it needs " + std::to_wstring(need.cols) + L" x " +
                        std::to_wstring(need.rows) + L" characters and has " + std::to_wstring(canvas.cols()) +
                        L" x " + std::to_wstring(canvas.rows()) + L". Please make it larger. (Ctrl+C twice quits.)";
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
    CellRect natural = dialogCells(dialog);
    // Border and key line around the client area; the layout fits the dialog to what is left.
    need_ = CellRect{0, 0, std::min(natural.cols + 2, MIN_COLS), std::min(natural.rows + 3, MIN_ROWS)};
    tooSmall_ = canvas_.cols() < need_.cols || canvas_.rows() < need_.rows;
    if (tooSmall_) {
        hits_.clear();
        tooSmall(canvas_, need_);
        screen_.show(canvas_);
        return;
    }
    CellRect client{0, 0, std::min(natural.cols, canvas_.cols() - 2), std::min(natural.rows, canvas_.rows() - 3)};
    canvas_.fill(CellRect{0, 0, canvas_.cols(), canvas_.rows()}, L' ', Paint::Screen);
    client.col = (canvas_.cols() - client.cols) / 2;
    client.row = std::max(1, (canvas_.rows() - client.rows - 3) / 2 + 1);
    hits_ = drawDialog(canvas_, dialog, client, ui::focus(dialog));
    int keyRow = client.bottom() + 1, width = client.cols + 2;
    if (!status_.empty() && platform::tickCount() - statusSince_ < STATUS_MS) {
        std::wstring text = widen(" " + status_ + " ");
        canvas_.put(client.col - 1 + std::max(0, (width - int(text.size())) / 2), keyRow, text, Paint::Warning, width);
    } else {
        status_.clear();
        std::wstring keys = KEY_LINES[std::size(KEY_LINES) - 1];
        for (const wchar_t* k : KEY_LINES) {
            if (int(std::wcslen(k)) <= width) {
                keys = k;
                break;
            }
        }
        canvas_.put(client.col - 1 + std::max(0, (width - int(keys.size())) / 2), keyRow, keys, Paint::Hint, width);
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
    if (tooSmall_ && e.key != Key::Resize) return;  // no key acts on a wizard nobody sees
    switch (e.key) {
    case Key::Resize: dirty_ = true; break;
    case Key::Interrupt: {
        HWND close = findChild(dialog, IDCANCEL);
        const Window* w = window(close);
        if (w && !w->enabled()) {
            status_ = "The upload is running: Close is disabled. Ctrl+C again quits at once.";
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
    std::unique_lock lock(terminal_, std::try_to_lock);
    if (!lock) {  // a worker's box has the terminal
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    }
    noteWizardState(dialog);
    paint(dialog);
    std::optional<InputEvent> e = screen_.wait(waitBudgetMs());
    if (e) handle(dialog, *e);
    return true;
}

void TerminalBackend::runBox(const std::function<void(Canvas&)>& draw,
                             const std::function<bool(const InputEvent&)>& step) {
    std::lock_guard lock(terminal_);
    bool gui = onGuiThread();
    HWND under = painted_;
    Canvas behind = canvas_;
    for (;;) {
        if (gui) {
            pumpMessages();  // the windows behind the box go on receiving their messages
            paint(under, true, draw);
        } else {
            Canvas frame = behind;
            if (frame.cols() != screen_.cols() || frame.rows() != screen_.rows()) {
                frame.resize(screen_.cols(), screen_.rows());
            }
            tooSmall_ = frame.cols() < need_.cols || frame.rows() < need_.rows;
            if (tooSmall_) {
                tooSmall(frame, need_);
            } else {
                draw(frame);
            }
            screen_.show(frame);
        }
        std::optional<InputEvent> e = screen_.wait(50);
        if (e && !tooSmall_ && step(*e)) break;
    }
    dirty_ = true;
}

int TerminalBackend::messageBox(const MessageBoxRequest& request) {
    BoxLayout layout = boxButtons(request.type);
    int n = int(layout.buttons.size());
    int focused = 0, answer = 0;
    std::vector<CellRect> rects;
    auto draw = [&](Canvas& c) {
        rects = drawMessageBox(c, request.caption, request.text, request.type, layout.buttons, focused);
    };
    runBox(draw, [&](const InputEvent& e) {
        switch (e.key) {
        case Key::Tab:
        case Key::Right: focused = (focused + 1) % n; break;
        case Key::BackTab:
        case Key::Left: focused = (focused + n - 1) % n; break;
        case Key::Enter:
        case Key::Space: answer = layout.answers[size_t(focused)]; break;
        case Key::Escape:
        case Key::Interrupt:
            // As Win32: Escape answers Cancel, or OK on a box that has only OK.
            for (int a : layout.answers) {
                if (a == IDCANCEL) answer = IDCANCEL;
            }
            if (n == 1 && layout.answers[0] == IDOK) answer = IDOK;
            if (!answer) screen_.beep();
            break;
        case Key::Char:
            for (int i = 0; i < n && !answer; ++i) {
                if (std::towlower(e.ch) == std::towlower(wchar_t(layout.buttons[size_t(i)].label[0]))) {
                    answer = layout.answers[size_t(i)];
                }
            }
            break;
        case Key::Click:
            for (int i = 0; i < int(rects.size()) && !answer; ++i) {
                if (rects[size_t(i)].contains(e.col, e.row)) answer = layout.answers[size_t(i)];
            }
            break;
        default: break;
        }
        return answer != 0;
    });
    return answer;
}

bool TerminalBackend::fileDialog(FileDialogRequest& request) {
    ChooserOptions options;
    options.title = request.title.empty() ? "Open" : request.title;
    options.filter = request.filter;
    options.initialDir = request.initialDir;
    options.defaultExt = request.defaultExt;
    options.mustExist = (request.flags & OFN_FILEMUSTEXIST) != 0;
    FileChooser chooser(options);
    runBox([&](Canvas& c) { chooser.draw(c); }, [&](const InputEvent& e) {
        return chooser.handle(e.key == Key::Interrupt ? InputEvent{Key::Escape} : e) != FileChooser::State::Open;
    });
    if (chooser.state() != FileChooser::State::Chosen) return false;
    request.result = chooser.result();
    return true;
}

}  // namespace ui::term
