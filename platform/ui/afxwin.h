#pragma once
// MFC-shaped classes over the model: the application, windows, dialogs, controls, GDI objects,
// message maps, data exchange, message boxes and the open-file dialog.
#include <cstdarg>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/model.h"
#include "platform/ui/types.h"

#if defined(__GNUC__)
#define KORAL_UI_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define KORAL_UI_PRINTF(f, a)
#endif

// <windows.h> spells its A/W functions as macros (SendMessage becomes SendMessageA). The members
// keep their plain names in every translation unit: the macros are set aside while this header
// declares them, and on Windows each also answers to its A spelling, which is what a call reads
// in a unit that included <windows.h> first. Such a unit includes <windows.h> before this file.
#if defined(_WIN32)
#pragma push_macro("SendMessage")
#undef SendMessage
#pragma push_macro("PostMessage")
#undef PostMessage
#pragma push_macro("SetWindowText")
#undef SetWindowText
#pragma push_macro("GetWindowText")
#undef GetWindowText
#pragma push_macro("GetWindowTextLength")
#undef GetWindowTextLength
#pragma push_macro("SetDlgItemText")
#undef SetDlgItemText
#pragma push_macro("DefWindowProc")
#undef DefWindowProc
#pragma push_macro("CreateFont")
#undef CreateFont
#endif

class CString : public std::string {
public:
    using std::string::string;
    CString() = default;
    CString(const std::string& s) : std::string(s) {}
    CString(std::string&& s) : std::string(std::move(s)) {}
    int GetLength() const { return int(size()); }
    bool IsEmpty() const { return empty(); }
    void Empty() { clear(); }
    const char* GetString() const { return c_str(); }
    void Format(const char* format, ...) KORAL_UI_PRINTF(2, 3);
    void FormatV(const char* format, va_list args);
    int Find(const char* sub, int start = 0) const;
    int Replace(const char* from, const char* to);
    int Remove(char ch);
};

class CWnd;
class CDataExchange;

// Message maps: a table per class, searched from the most derived class to CWnd.
struct AFX_MSGMAP_ENTRY {
    UINT message;
    UINT code;  // WM_COMMAND entries: notification code
    UINT id;    // WM_COMMAND entries: control id
    LRESULT (*handler)(CWnd* self, WPARAM wParam, LPARAM lParam);
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*base)();
    const AFX_MSGMAP_ENTRY* entries;
};

#define DECLARE_MESSAGE_MAP()                    \
public:                                          \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                   \
        using ThisClass = theClass;                                                     \
        using TheBaseClass = baseClass;                                                 \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                     \
    {0, 0, 0, nullptr}};                                                      \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                              \
    }

#define ON_COMMAND(id, memberFn)                                                              \
    {WM_COMMAND, 0, UINT(id), [](CWnd* w, WPARAM, LPARAM) -> LRESULT {                        \
         (static_cast<ThisClass*>(w)->*(memberFn))();                                         \
         return 0;                                                                            \
     }},
#define ON_BN_CLICKED(id, memberFn) ON_COMMAND(id, memberFn)
#define ON_MESSAGE(message, memberFn)                                                     \
    {UINT(message), 0, 0, [](CWnd* w, WPARAM a, LPARAM b) -> LRESULT {                    \
         return (static_cast<ThisClass*>(w)->*(memberFn))(a, b);                          \
     }},
#define ON_WM_TIMER()                                                                 \
    {WM_TIMER, 0, 0, [](CWnd* w, WPARAM a, LPARAM) -> LRESULT {                       \
         static_cast<ThisClass*>(w)->OnTimer(UINT_PTR(a));                            \
         return 0;                                                                    \
     }},
#define ON_WM_DESTROY()                                                               \
    {WM_DESTROY, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {                       \
         static_cast<ThisClass*>(w)->OnDestroy();                                     \
         return 0;                                                                    \
     }},
#define ON_WM_CLOSE()                                                                 \
    {WM_CLOSE, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {                         \
         static_cast<ThisClass*>(w)->OnClose();                                       \
         return 0;                                                                    \
     }},
#define ON_WM_CTLCOLOR()                                                                      \
    {WM_CTLCOLOR, 0, 0, [](CWnd* w, WPARAM, LPARAM b) -> LRESULT {                            \
         auto* q = reinterpret_cast<AFX_CTLCOLOR*>(b);                                        \
         return LRESULT(static_cast<ThisClass*>(w)->OnCtlColor(q->pDC, q->pWnd, q->nCtlColor)); \
     }},

// GDI objects: plain values a backend may honour or ignore.
class CGdiObject {
public:
    virtual ~CGdiObject() = default;
};

class CFont : public CGdiObject {
public:
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                    BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                    BYTE nQuality, BYTE nPitchAndFamily, const char* lpszFacename);
#if defined(_WIN32)
    BOOL CreateFontA(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                     BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                     BYTE nQuality, BYTE nPitchAndFamily, const char* lpszFacename) {
        return CreateFont(nHeight, nWidth, nEscapement, nOrientation, nWeight, bItalic, bUnderline, cStrikeOut,
                          nCharSet, nOutPrecision, nClipPrecision, nQuality, nPitchAndFamily, lpszFacename);
    }
#endif
    operator HFONT() const { return m_created ? reinterpret_cast<HFONT>(const_cast<ui::FontInfo*>(&m_info)) : nullptr; }
    const ui::FontInfo& Info() const { return m_info; }
    // The description behind a handle made by CreateFont; null for none.
    static const ui::FontInfo* FromHandle(HFONT font) { return reinterpret_cast<const ui::FontInfo*>(font); }

private:
    ui::FontInfo m_info;
    bool m_created = false;
};

class CBrush : public CGdiObject {
public:
    BOOL CreateSolidBrush(COLORREF color);
    operator HBRUSH() const { return m_created ? reinterpret_cast<HBRUSH>(const_cast<COLORREF*>(&m_color)) : nullptr; }
    COLORREF Color() const { return m_color; }
    static const COLORREF* ColorOf(HBRUSH brush) { return reinterpret_cast<const COLORREF*>(brush); }

private:
    COLORREF m_color = 0;
    bool m_created = false;
};

class CDC {
public:
    COLORREF SetTextColor(COLORREF c) { COLORREF o = m_text; m_text = c; return o; }
    COLORREF SetBkColor(COLORREF c) { COLORREF o = m_bk; m_bk = c; return o; }
    COLORREF GetTextColor() const { return m_text; }
    COLORREF GetBkColor() const { return m_bk; }
    bool touched() const { return m_text != kUnset || m_bk != kUnset; }
    static constexpr COLORREF kUnset = 0xFFFFFFFFu;

private:
    COLORREF m_text = kUnset;
    COLORREF m_bk = kUnset;
};

struct AFX_CTLCOLOR {
    CDC* pDC;
    CWnd* pWnd;
    UINT nCtlColor;
};

class CWnd : public ui::WindowObject {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;
    void SetWindowText(const char* text);
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const;
    void SetDlgItemText(int id, const char* text);
#if defined(_WIN32)
    LRESULT SendMessageA(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { return SendMessage(message, wParam, lParam); }
    BOOL PostMessageA(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { return PostMessage(message, wParam, lParam); }
    void SetWindowTextA(const char* text) { SetWindowText(text); }
    void GetWindowTextA(CString& text) const { GetWindowText(text); }
    int GetWindowTextLengthA() const { return GetWindowTextLength(); }
    void SetDlgItemTextA(int id, const char* text) { SetDlgItemText(id, text); }
    LRESULT DefWindowProcA(UINT message, WPARAM wParam, LPARAM lParam) { return DefWindowProc(message, wParam, lParam); }
#endif
    BOOL EnableWindow(BOOL enable = TRUE);  // returns TRUE when it was disabled before
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int cmd);
    BOOL IsWindowVisible() const;
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    void GetWindowRect(LPRECT rect) const;
    void ScreenToClient(LPPOINT point) const;
    void ScreenToClient(LPRECT rect) const;
    void Invalidate(BOOL erase = TRUE);
    void UpdateWindow();
    BOOL DestroyWindow();
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
    void SetFont(CFont* font, BOOL redraw = TRUE);
    HICON SetIcon(HICON icon, BOOL big);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, void* timerProc);
    BOOL KillTimer(UINT_PTR id);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    // Binds this object to an existing window so its messages reach this object.
    BOOL SubclassWindow(HWND handle);
    HWND UnsubclassWindow();

    virtual void DoDataExchange(CDataExchange* pDX) {}
    // Called by the toolkit when the window is gone, before the handle is forgotten.
    virtual void PostNcDestroy() {}

    void OnTimer(UINT_PTR id) {}
    void OnDestroy();
    void OnClose();
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) { return nullptr; }

protected:
    ui::Window* model() const { return ui::window(m_hWnd); }

private:
    LRESULT windowProc(UINT message, WPARAM wParam, LPARAM lParam) final { return WindowProc(message, wParam, lParam); }
    void windowGone() final;
};

class CStatic : public CWnd {
public:
    HICON SetIcon(HICON icon);
    HICON GetIcon() const;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int check);
};

class CEdit : public CWnd {
public:
    int GetLineCount() const;
    void LineScroll(int lines, int chars = 0);
    int GetFirstVisibleLine() const;
};

class CProgressCtrl : public CWnd {
public:
    void SetRange32(int lower, int upper);
    void GetRange(int& lower, int& upper) const;
    int SetPos(int pos);
    int GetPos() const;
};

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL save) : m_pDlgWnd(dlg), m_bSaveAndValidate(save) {}
    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}
    ~CDialog() override;

    virtual intptr_t DoModal();
    // Modeless, from a template; a child when the template says WS_CHILD.
    virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The modal loop in three steps, so a test driver can run the middle one itself.
    BOOL BeginModal();
    bool ModalEnded() const { return m_bEnded; }
    intptr_t FinishModal();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    BOOL CreateFromTemplate(UINT templateId, CWnd* parent, bool modal);
    bool m_bEnded = false;
    bool m_bInModal = false;
    intptr_t m_nResult = -1;
};

class CCommandLineInfo {
public:
    enum { FileNew, FileOpen, FilePrint, FileDDE, AppUnregister, FileNothing = -1 };
    virtual ~CCommandLineInfo() = default;
    virtual void ParseParam(const char* param, BOOL flag, BOOL last);
    CString m_strFileName;
    int m_nShellCommand = FileNew;
};

class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    virtual BOOL InitInstance() { return TRUE; }
    // Runs the application the way the toolkit's entry does: InitInstance, then (if it returned
    // TRUE and a main window exists) a message loop until it is gone. Returns the exit code.
    virtual int Run();
    void SetRegistryKey(const char* key);
    void ParseCommandLine(CCommandLineInfo& info);

    CWnd* m_pMainWnd = nullptr;
    const char* m_pszAppName = nullptr;
    const char* m_pszRegistryKey = nullptr;
    const char* m_pszProfileName = nullptr;

private:
    std::string m_appName, m_registryKey, m_profileName;
};

CWinApp* AfxGetApp();
const char* AfxGetAppName();
// The process's command line as main received it; argv[0] is the program file.
void AfxSetCommandLine(int argc, const char* const* argv);
const std::vector<std::string>& AfxGetCommandLine();
// Any thread: a call from a worker waits until the GUI thread has shown and closed the box.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
HICON AfxLoadIcon(int id);
// What a backend asks before it paints `control`: the parent's WM_CTLCOLOR answer (a dialog asks
// itself), with `dc` carrying the colours it set. Null: paint as the system would.
HBRUSH AfxQueryCtlColor(HWND control, CDC& dc);
int AfxIconId(HICON icon);

// The part of Win32's OPENFILENAMEA that callers set before DoModal, with its field names.
// Strings are not copied: they must live until DoModal returns.
struct AFX_OPENFILENAME {
    DWORD lStructSize = sizeof(AFX_OPENFILENAME);
    HWND hwndOwner = nullptr;
    const char* lpstrFilter = nullptr;  // Win32's form: NUL-separated pairs, two NULs at the end
    const char* lpstrInitialDir = nullptr;
    const char* lpstrTitle = nullptr;
    DWORD Flags = 0;
    const char* lpstrDefExt = nullptr;
};

class CFileDialog : public CDialog {
public:
    // The parent, if any, becomes the owner (m_ofn.hwndOwner); without one there is none.
    CFileDialog(BOOL bOpenFileDialog, const char* defExt = nullptr, const char* fileName = nullptr,
                DWORD flags = 0, const char* filter = nullptr, CWnd* parent = nullptr);
    // Any thread; everything m_ofn holds at this moment reaches the backend.
    intptr_t DoModal() override;
    CString GetPathName() const { return m_path; }
    CString GetFileName() const;

    AFX_OPENFILENAME m_ofn;

private:
    bool m_bOpen;
    std::string m_fileName;
    std::string m_filter;     // as given: "Name|pattern||"
    std::string m_filterNul;  // Win32's form, behind m_ofn.lpstrFilter
    std::string m_defExt;
    CString m_path;
};

// The toolkit's own sources define the plain names and keep the macros set aside.
#if defined(_WIN32) && !defined(KORAL_UI_PLAIN_NAMES)
#pragma pop_macro("SendMessage")
#pragma pop_macro("PostMessage")
#pragma pop_macro("SetWindowText")
#pragma pop_macro("GetWindowText")
#pragma pop_macro("GetWindowTextLength")
#pragma pop_macro("SetDlgItemText")
#pragma pop_macro("DefWindowProc")
#pragma pop_macro("CreateFont")
#endif
