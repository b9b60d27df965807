// wintexts <caption part> [--click ID | --type ID TEXT]: finds the visible top-level window whose
// caption contains the text and prints one line per control below it: id, class, state (e =
// enabled, v = visible, c = checked, p<n> = progress position) and text, line breaks written as
// \n. With --click it then clicks the button with that id, as a mouse would (a posted BM_CLICK,
// so a box the click opens does not hold this program up); with --type it puts the text into that
// control, into the edit inside it when it is a combo box (a file dialog's name field). Exit
// status 1 when no such window or control exists.
// The texts are asked for by message, which works across processes.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string textOf(HWND wnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return "?";
    std::vector<char> text(length + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(wnd, WM_GETTEXT, length + 1, LPARAM(text.data()), SMTO_ABORTIFHUNG, 2000, &got);
    std::string out;
    for (size_t i = 0; i < got && i < length; ++i) {
        if (text[i] == '\n') {
            out.push_back('\\');
            out.push_back('n');
        } else if (text[i] != '\r') {
            out.push_back(text[i]);
        }
    }
    return out;
}

struct Search {
    const char* part;
    HWND found;
    const char* cls = nullptr;  // when set, only controls of this class count
};

BOOL CALLBACK findTop(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    char caption[512] = "";
    GetWindowTextA(wnd, caption, sizeof caption);
    if (IsWindowVisible(wnd) && std::strstr(caption, s->part)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK printControl(HWND wnd, LPARAM) {
    char cls[64] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    std::string state;
    if (IsWindowEnabled(wnd)) state += 'e';
    if (IsWindowVisible(wnd)) state += 'v';
    DWORD_PTR result = 0;
    if (!lstrcmpiA(cls, "Button") && SendMessageTimeoutA(wnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) &&
        result == BST_CHECKED)
        state += 'c';
    if (!lstrcmpiA(cls, PROGRESS_CLASSA) &&
        SendMessageTimeoutA(wnd, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &result))
        state.append("p").append(std::to_string(result));
    std::printf("%d\t%s\t%s\t%s\n", GetDlgCtrlID(wnd), cls, state.c_str(), textOf(wnd).c_str());
    return TRUE;
}

// Search.part holds the id as text here.
BOOL CALLBACK findControl(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    char cls[64] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    if (GetDlgCtrlID(wnd) == std::atoi(s->part) && IsWindowVisible(wnd) && (!s->cls || !lstrcmpiA(cls, s->cls))) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    bool click = argc == 4 && !std::strcmp(argv[2], "--click");
    bool type = argc == 5 && !std::strcmp(argv[2], "--type");
    if (argc != 2 && !click && !type) {
        std::fprintf(stderr, "Usage: wintexts <caption part> [--click ID | --type ID TEXT]\n");
        return 2;
    }
    Search s{argv[1], nullptr};
    EnumWindows(findTop, LPARAM(&s));
    if (!s.found) {
        std::fprintf(stderr, "wintexts: no visible window with \"%s\" in its caption\n", argv[1]);
        return 1;
    }
    std::printf("0\twindow\t%s\t%s\n", IsWindowEnabled(s.found) ? "ev" : "v", textOf(s.found).c_str());
    EnumChildWindows(s.found, printControl, 0);
    if (click || type) {
        // A file dialog's list view shares the id 1 with its Open button.
        Search control{argv[3], nullptr, click ? "Button" : nullptr};
        EnumChildWindows(s.found, findControl, LPARAM(&control));
        if (!control.found) {
            std::fprintf(stderr, "wintexts: no control %s in \"%s\"\n", argv[3], argv[1]);
            return 1;
        }
        if (click) {
            PostMessageA(control.found, BM_CLICK, 0, 0);
        } else {
            HWND edit = FindWindowExA(control.found, nullptr, "Edit", nullptr);
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutA(edit ? edit : control.found, WM_SETTEXT, 0, LPARAM(argv[4]), SMTO_ABORTIFHUNG,
                                     2000, &result) ||
                !result) {
                std::fprintf(stderr, "wintexts: control %s took no text\n", argv[3]);
                return 1;
            }
        }
    }
    return 0;
}
