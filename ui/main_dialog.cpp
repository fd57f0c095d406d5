#include "main_dialog.h"

#include "path_box.h"
#include "resource.h"
#include "walk.h"

namespace {

void InitializeDialog(HWND dialog) {
    InstallPathBox(dialog);
    SendDlgItemMessageW(dialog, IDC_MODE_FILE, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageW(dialog, IDC_FROM_FIRST + SimplifiedGb2312, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageW(dialog, IDC_TO_FIRST + TraditionalBig5, BM_SETCHECK, BST_CHECKED, 0);
    // The icon always comes from the executable: a translation supplies the dialog template only.
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

// The whole wParam is compared, so only clicks (notification code 0) count.
void RunCommand(HWND dialog, WPARAM command) {
    switch (command) {
        case IDCANCEL:
            EndDialog(dialog, 0);
            return;
        case IDC_BROWSE:
            BrowseForPath(dialog);
            return;
        case IDC_CONVERT:
            RunConversion(dialog);
            return;
        default:
            return;
    }
}

bool IsChecked(HWND dialog, int control) {
    return SendDlgItemMessageW(dialog, control, BM_GETCHECK, 0, 0) != 0;
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitializeDialog(dialog);
            return 0;
        case WM_COMMAND:
            RunCommand(dialog, wParam);
            return 0;
        default:
            return 0;
    }
}

void RunConversion(HWND dialog) {
    ConversionRequest request;
    // The request holds at most 259 characters: a longer path is not converted at all.
    if (!ReadPathBox(dialog, request.text))
        return;
    request.folderMode = IsChecked(dialog, IDC_MODE_FOLDER);
    request.from = TraditionalUnicode;
    request.to = TraditionalUnicode;
    for (unsigned i = 0; i < kTextFormatCount; ++i) {
        if (IsChecked(dialog, IDC_FROM_FIRST + static_cast<int>(i)))
            request.from = static_cast<TextFormat>(i);
        if (IsChecked(dialog, IDC_TO_FIRST + static_cast<int>(i)))
            request.to = static_cast<TextFormat>(i);
    }
    ConvertPath(request);
}
