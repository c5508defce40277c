#include "about_box.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    // Esc and the close request arrive as IDCANCEL and are ignored on
    // purpose. WM_INITDIALOG returns 0 too: the focus is left alone.
    if (msg == WM_COMMAND && LOWORD(wParam) == IDOK)
        EndDialog(dialog, IDOK);
    return 0;
}
