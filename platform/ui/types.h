#pragma once
// The Win32 scalar types, messages and styles the toolkit speaks, with Win32's values. Each one is
// guarded or typedef'd identically, so a backend that also includes <windows.h> still compiles.
#include <cstdint>

#if defined(_WIN32)
typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef long LONG;
#if defined(_WIN64)
typedef unsigned __int64 UINT_PTR;
typedef __int64 LONG_PTR;
#else
typedef unsigned int UINT_PTR;
typedef long LONG_PTR;
#endif
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
#else
typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef int32_t LONG;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
#endif
typedef DWORD COLORREF;

struct HWND__;
typedef HWND__* HWND;
struct HICON__;
typedef HICON__* HICON;
struct HFONT__;
typedef HFONT__* HFONT;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;

#ifndef _WINDEF_
typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *LPPOINT;
typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;
#endif

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#ifndef LOWORD
#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((UINT_PTR)(l)) >> 16) & 0xffff))
#endif
#ifndef MAKEWPARAM
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((DWORD)(WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
#endif
#ifndef RGB
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#endif

#ifndef WM_USER
#define WM_DESTROY 0x0002
#define WM_SETFOCUS 0x0007
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_CLOSE 0x0010
#define WM_SHOWWINDOW 0x0018
#define WM_SETFONT 0x0030
#define WM_GETFONT 0x0031
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#endif
#ifndef WM_CTLCOLOR
#define WM_CTLCOLOR 0x0019
#endif

#ifndef ICON_SMALL
#define ICON_SMALL 0
#define ICON_BIG 1
#endif

#ifndef IDOK
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#ifndef BN_CLICKED
#define BN_CLICKED 0
#endif

#ifndef EM_LINESCROLL
#define EM_GETFIRSTVISIBLELINE 0x00CE
#define EM_LINESCROLL 0x00B6
#define EM_GETLINECOUNT 0x00BA
#endif
#ifndef BM_GETCHECK
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#endif
#ifndef BST_CHECKED
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#endif
#ifndef STM_SETICON
#define STM_SETICON 0x0170
#define STM_GETICON 0x0171
#endif
#ifndef PBM_SETPOS
#define PBM_SETPOS 0x0402
#define PBM_GETPOS 0x0408
#define PBM_SETRANGE32 0x0406
#define PBM_GETRANGE 0x0407
#endif

#ifndef MB_OK
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_ICONHAND 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONASTERISK 0x00000040u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONMASK 0x000000F0u
#endif

#ifndef WS_CHILD
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_CONTROLPARENT 0x00010000u
#endif
#ifndef DS_MODALFRAME
#define DS_MODALFRAME 0x80u
#define DS_SETFONT 0x40u
#endif
#ifndef SS_CENTER
#define SS_LEFT 0x0u
#define SS_CENTER 0x1u
#define SS_RIGHT 0x2u
#define SS_ICON 0x3u
#define SS_BLACKFRAME 0x7u
#define SS_BITMAP 0xEu
#define SS_ETCHEDFRAME 0x12u
#endif
#ifndef BS_PUSHBUTTON
#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define BS_CHECKBOX 0x2u
#define BS_AUTOCHECKBOX 0x3u
#define BS_RADIOBUTTON 0x4u
#define BS_AUTORADIOBUTTON 0x9u
#endif
#ifndef ES_MULTILINE
#define ES_MULTILINE 0x4u
#define ES_AUTOHSCROLL 0x80u
#define ES_READONLY 0x800u
#endif

#ifndef SW_HIDE
#define SW_HIDE 0
#define SW_SHOW 5
#endif
#ifndef SWP_NOSIZE
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOACTIVATE 0x0010u
#endif

#ifndef CTLCOLOR_MSGBOX
#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_EDIT 1
#define CTLCOLOR_LISTBOX 2
#define CTLCOLOR_BTN 3
#define CTLCOLOR_DLG 4
#define CTLCOLOR_SCROLLBAR 5
#define CTLCOLOR_STATIC 6
#endif

#ifndef FW_NORMAL
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DEFAULT_PITCH 0
#endif

// Spelled as <commdlg.h> spells them, so either header may come first.
#ifndef OFN_HIDEREADONLY
#define OFN_HIDEREADONLY 0x4
#endif
#ifndef OFN_NOCHANGEDIR
#define OFN_NOCHANGEDIR 0x8
#endif
#ifndef OFN_PATHMUSTEXIST
#define OFN_PATHMUSTEXIST 0x800
#endif
#ifndef OFN_FILEMUSTEXIST
#define OFN_FILEMUSTEXIST 0x1000
#endif
