// dialog_preview [page id]: the wizard frame (131) with one page (136 unless given) inside it,
// both made by the system's dialog manager from the program's resources, pages painted white and
// the upload page showing its tick. Close ends it with exit status 0.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <initializer_list>

namespace {

int g_page = 136;
HBRUSH g_white = nullptr;

INT_PTR CALLBACK pageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        if (g_page == 139) {
            for (int hidden : {1063, 1064, 1066}) ShowWindow(GetDlgItem(page, hidden), SW_HIDE);
        }
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkColor(HDC(wParam), RGB(255, 255, 255));
        return INT_PTR(g_white);
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK frameProc(HWND frame, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        SendMessageA(frame, WM_SETICON, ICON_BIG,
                     LPARAM(LoadImageA(instance, MAKEINTRESOURCEA(128), IMAGE_ICON, 32, 32, 0)));
        SendMessageA(frame, WM_SETICON, ICON_SMALL,
                     LPARAM(LoadImageA(instance, MAKEINTRESOURCEA(128), IMAGE_ICON, 16, 16, 0)));
        SetDlgItemTextA(frame, 1052, "Version 1.0.3 (Build 151)\nPreview of the templates");
        HWND page = CreateDialogParamA(instance, MAKEINTRESOURCEA(g_page), frame, pageProc, 0);
        if (!page) {
            EndDialog(frame, 3);
            return TRUE;
        }
        RECT place;
        GetWindowRect(GetDlgItem(frame, 1010), &place);
        MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&place), 2);
        SetWindowPos(page, HWND_TOP, place.left, place.top, 0, 0, SWP_NOSIZE);
        EnableWindow(page, TRUE);
        ShowWindow(page, SW_SHOW);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) EndDialog(frame, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (commandLine && *commandLine) g_page = std::atoi(commandLine);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    g_white = CreateSolidBrush(RGB(255, 255, 255));
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(131), nullptr, frameProc, 0);
    DeleteObject(g_white);
    return result < 0 ? 2 : int(result);
}
