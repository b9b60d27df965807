// Calls through the names <windows.h> renames, so the link proves they reach the toolkit.
#include <windows.h>

#include "wizard/new_wiz_dialog.h"

int main() {
    CNewWizDialog wizard(131);
    CNewWizPage page(136);
    wizard.AddPage(&page, 136);
    CFont font;
    font.CreateFont(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
    CString text;
    wizard.SetWindowText("caption");
    wizard.GetWindowText(text);
    wizard.SetDlgItemText(1052, "label");
    wizard.PostMessage(WM_USER, 0, 0);
    wizard.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(HFONT(font)), TRUE);
    return wizard.GetWindowTextLength() + int(wizard.DefWindowProc(WM_GETTEXTLENGTH, 0, 0));
}
