#include "about_box.h"

#include "app_main.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    // Esc and the close request arrive as IDCANCEL and are ignored on
    // purpose. WM_INITDIALOG returns 0 too: the focus is left alone. The
    // caption's brackets are code page 932's; elsewhere they are ASCII.
    if (msg == WM_INITDIALOG && !g_japanese)
        SetWindowTextA(dialog, "[Sov]Version");
    else if (msg == WM_COMMAND && LOWORD(wParam) == IDOK)
        EndDialog(dialog, IDOK);
    return 0;
}
