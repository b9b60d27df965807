#include "platform/ui/terminal/line_backend.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/os/clock.h"
#include "platform/ui/input.h"
#include "platform/ui/terminal/chooser.h"
#include "platform/ui/terminal/signals.h"

namespace fs = std::filesystem;

namespace ui::term {
namespace {

constexpr int ID_BACK = 12323, ID_NEXT = 12324, ID_PAGE_CANCEL = 1065;

const char* const COMMANDS = "commands: n Next, b Back, c Close, t tick the box, k Cancel";

struct Outcome {
    int icon;
    const char* text;
};
const Outcome OUTCOMES[] = {
    {162, "Result: done (green tick): the instrument started the new firmware."},
    {163, "Result: failed (red cross)."},
    {164, "Result: unsure (question mark): programmed, but the instrument was not seen starting."},
};

std::string lines(std::string text) {
    // Windows line ends and lone carriage returns become line feeds; NUL bytes show nothing.
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\0') continue;
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            c = '\n';
        }
        out += c;
    }
    return out;
}

void collect(const Window& w, std::vector<const Window*>& out) {
    for (HWND h : w.children) {
        const Window* c = window(h);
        if (!c || !c->visible()) continue;
        if (c->kind == Kind::Dialog) {
            collect(*c, out);
        } else {
            out.push_back(c);
        }
    }
}

HWND findControl(HWND dialog, Kind kind) {
    std::vector<const Window*> all;
    if (const Window* d = window(dialog)) collect(*d, all);
    for (const Window* w : all) {
        if (w->kind == kind) return w->handle;
    }
    return nullptr;
}

}  // namespace

LineBackend::LineBackend(std::FILE* out, int inputFd, bool answersFromInput)
    : out_(out), in_(inputFd), answers_(answersFromInput) {}

void LineBackend::print(const std::string& text) {
    if (!started_) {
        held_ += text;
        return;
    }
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

void LineBackend::start() {
    if (started_) return;
    started_ = true;
    if (!caption_.empty()) print("== " + caption_ + "\n");
    print(held_);
    held_.clear();
}

void LineBackend::pageShown(const Window& page) {
    std::vector<const Window*> controls;
    collect(page, controls);
    print("\n");
    for (const Window* c : controls) {
        if (c->kind == Kind::Static && !c->text.empty()) print(lines(c->text) + "\n");
        if (c->kind == Kind::CheckBox) print(std::string(c->checked ? "[x] " : "[ ] ") + c->text + "\n");
        texts_[c->handle] = c->text;
    }
    if (answers_) print(std::string("(") + COMMANDS + ")\n");
}

void LineBackend::textChanged(HWND handle, const Window& w) {
    std::string& last = texts_[handle];
    if (w.text == last) return;
    if (w.kind == Kind::Edit) {
        // Print what was added; a box that dropped its oldest text still ends with what came.
        std::string added = w.text;
        if (w.text.compare(0, last.size(), last) == 0) {
            added = w.text.substr(last.size());
        } else if (!last.empty()) {
            std::string tail = last.substr(last.size() - std::min<size_t>(last.size(), 64));
            size_t at = w.text.rfind(tail);
            if (at != std::string::npos) added = w.text.substr(at + tail.size());
        }
        print(lines(added));
    } else if (w.kind == Kind::Static && !w.text.empty()) {
        int percent = -1;
        if (std::isdigit((unsigned char)w.text[0]) && w.text.find('%') != std::string::npos) percent = std::atoi(w.text.c_str());
        if (percent < 0) {
            print("\n" + lines(w.text) + "\n");
        } else if (!percents_.count(handle) || percent / 10 != percents_[handle] / 10) {
            percents_[handle] = percent;
            print("\n" + w.text + "\n");
        }
    }
    last = w.text;
}

void LineBackend::windowChanged(HWND handle, unsigned what) {
    const Window* w = window(handle);
    if (!w) return;
    if (w->kind == Kind::Dialog && !w->parent && (what & change::Text) && w->text != caption_) {
        caption_ = w->text;
        if (started_) print("== " + caption_ + "\n");
    }
    if (w->kind == Kind::Dialog && w->parent && (what & change::Visible) && w->visible()) pageShown(*w);
    if (what & change::Text) textChanged(handle, *w);
    if (w->kind == Kind::Icon && (what & change::Visible) && w->visible()) {
        for (const Outcome& o : OUTCOMES) {
            if (o.icon == w->image) print("\n" + std::string(o.text) + "\n");
        }
    }
    if (answers_ && w->id == ID_NEXT && (what & change::Enabled) && w->enabled()) print("(Next is enabled)\n");
}

void LineBackend::windowDestroyed(HWND handle) {
    texts_.erase(handle);
    percents_.erase(handle);
}

void LineBackend::messageBoxAnswered(const MessageBoxRequest& request, int answer) {
    start();
    static const char* const names[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
    print("\n[" + request.caption + "] " + lines(request.text) + "\n");
    print(std::string("  -> ") + (answer >= 1 && answer <= 7 ? names[answer] : "?") + "\n");
}

int LineBackend::messageBox(const MessageBoxRequest& request) {
    start();
    int answer = IDOK;
    switch (request.type & MB_TYPEMASK) {
    case MB_OKCANCEL: answer = IDOK; break;
    case MB_YESNO:
    case MB_YESNOCANCEL: answer = IDYES; break;
    case MB_RETRYCANCEL: answer = IDRETRY; break;
    case MB_ABORTRETRYIGNORE: answer = IDABORT; break;
    default: break;
    }
    if (answers_ && (request.type & MB_TYPEMASK) != MB_OK) {
        print("\n[" + request.caption + "] " + lines(request.text) + "\n  answer (first letter of a button): ");
        std::string line;
        if (readLine(line, -1) && !line.empty()) {
            switch (std::tolower((unsigned char)line[0])) {
            case 'o': answer = IDOK; break;
            case 'c': answer = IDCANCEL; break;
            case 'y': answer = IDYES; break;
            case 'n': answer = IDNO; break;
            case 'r': answer = IDRETRY; break;
            case 'a': answer = IDABORT; break;
            case 'i': answer = IDIGNORE; break;
            default: break;
            }
        }
        print(std::string("  -> ") + (answer == IDCANCEL ? "Cancel" : "answered") + "\n");
        return answer;
    }
    messageBoxAnswered(request, answer);
    return answer;
}

void LineBackend::fileDialogAnswered(const FileDialogRequest& request, bool chosen) {
    start();
    print("\n[Open] " + request.filter.substr(0, request.filter.find("||")) + "\n");
    print("  -> " + (chosen ? request.result : std::string("Cancel")) + "\n");
}

bool LineBackend::fileDialog(FileDialogRequest& request) {
    start();
    if (!answers_) {
        fileDialogAnswered(request, false);
        return false;
    }
    // What the chooser shows on screen: the folder, the files its filter lets through.
    FileFilter filter = firstFilter(request.filter);
    std::error_code ec;
    std::string dir = request.initialDir.empty() ? fs::current_path(ec).string() : request.initialDir;
    std::vector<std::string> files = candidateFiles(dir, filter);
    print("\n[" + (request.title.empty() ? std::string("Open") : request.title) + "] " + filter.name + " (" +
          filter.patternText() + ")\n  folder: " + dir + "\n");
    if (files.empty()) print("  (no matching files here)\n");
    for (size_t i = 0; i < files.size(); ++i) print("  " + std::to_string(i + 1) + ") " + files[i] + "\n");
    for (;;) {
        print(files.empty() ? "  file (name or full path; empty line cancels): "
                            : "  file (number, name or full path; empty line cancels; newest first): ");
        std::string answer;
        if (!readLine(answer, -1) || answer.empty()) {
            print("  -> Cancel\n");
            return false;
        }
        char* end = nullptr;
        unsigned long number = std::strtoul(answer.c_str(), &end, 10);
        fs::path path = answer[0] == '/' ? fs::path(answer) : fs::path(dir) / answer;
        if (!end || *end == 0) {
            if (number < 1 || number > files.size()) {
                print("  no file numbered " + answer + "\n");
                continue;
            }
            path = fs::path(dir) / files[number - 1];
        }
        std::string ext = request.defaultExt;
        if (!ext.empty() && ext[0] != '.') ext = "." + ext;
        if (!fs::exists(path, ec) && !path.has_extension() && !ext.empty()) path += ext;
        if ((request.flags & OFN_FILEMUSTEXIST) && !fs::is_regular_file(path, ec)) {
            print("  no such file: " + path.string() + "\n");
            continue;
        }
        request.result = path.lexically_normal().string();
        print("  -> " + request.result + "\n");
        return true;
    }
}

bool LineBackend::readLine(std::string& line, int timeoutMs) {
    while (true) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line = pending_.substr(0, nl);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending_.erase(0, nl + 1);
            return true;
        }
        if (inputEnded_ || in_ < 0) return false;
        pollfd fd{in_, POLLIN, 0};
        int ready = poll(&fd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR && timeoutMs < 0) continue;  // Ctrl+C is not an answer
        if (ready <= 0) return false;
        char buf[256];
        ssize_t n = read(in_, buf, sizeof buf);
        if (n <= 0) {
            inputEnded_ = true;
            if (pending_.empty()) return false;
            pending_ += '\n';
        } else {
            pending_.append(buf, size_t(n));
        }
    }
}

void LineBackend::command(HWND dialog, const std::string& line) {
    std::string word = line.substr(0, line.find(' '));
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    HWND target = nullptr;
    if (word == "n" || word == "next") target = findChild(dialog, ID_NEXT);
    if (word == "b" || word == "back") target = findChild(dialog, ID_BACK);
    if (word == "c" || word == "close") target = findChild(dialog, IDCANCEL);
    if (word == "t" || word == "tick") target = findControl(dialog, Kind::CheckBox);
    if (word == "k" || word == "cancel") target = findVisible(dialog, ID_PAGE_CANCEL);
    if (word.empty()) return;
    if (!target) {
        print(std::string("(") + COMMANDS + ")\n");
    } else if (!ui::click(target)) {
        print("(not available now)\n");
    }
}

bool LineBackend::waitForInput(HWND dialog) {
    start();
    noteWizardState(dialog);
    if (takeInterrupt()) {
        // Ctrl+C as on the screen: Escape, which Close's state decides.
        const Window* close = window(findChild(dialog, IDCANCEL));
        if (close && !close->enabled()) {
            print("\n(The upload is running: Close is disabled. Ctrl+C again within 3 s quits at once, cutting it "
                  "short.)\n");
        }
        ui::pressKey(dialog, ui::Key::Escape);
    }
    uint64_t due = nextTimerDueUs(), now = platform::activeClock().nowUs();
    int budget = due == UINT64_MAX ? 50 : due <= now ? 0 : int(std::min<uint64_t>((due - now) / 1000, 20));
    if (!answers_) {
        poll(nullptr, 0, budget);
        return true;
    }
    std::string line;
    if (readLine(line, budget)) {
        command(dialog, line);
        return true;
    }
    if (inputEnded_) {
        // No operator any more: end the wizard once nothing runs that Close would cut short.
        const Window* close = window(findChild(dialog, IDCANCEL));
        if (close && close->enabled()) return false;
        poll(nullptr, 0, budget);
    }
    return true;
}

}  // namespace ui::term
