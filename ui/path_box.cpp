#include "path_box.h"

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "resource.h"

namespace {

static_assert(sizeof(OPENFILENAMEW) == 152, "the file picker expects the full 64-bit record");

// Puts the first dropped item's full path into the box; the other items are ignored.
void TakeDroppedPath(HWND box, HDROP drop) {
    // A path that does not fit the box's buffer is left out rather than put in cut short.
    UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    wchar_t path[MAX_PATH];
    if (length > 0 && length < MAX_PATH && DragQueryFileW(drop, 0, path, MAX_PATH) == length)
        SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
    DragFinish(drop);
}

bool PickFile(HWND dialog, const wchar_t* start, wchar_t* result) {
    OPENFILENAMEW record = {};
    record.lStructSize = sizeof record;
    record.hwndOwner = dialog;
    record.lpstrFile = result;
    record.nMaxFile = MAX_PATH;
    record.nFilterIndex = 1;
    record.lpstrInitialDir = start;
    record.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_NONETWORKBUTTON;
    return GetOpenFileNameW(&record) != 0;
}

bool PickFolder(HWND dialog, const wchar_t* start, wchar_t* result) {
    wchar_t displayName[MAX_PATH];
    displayName[0] = L'\0';
    BROWSEINFOW info = {};
    info.hwndOwner = dialog;
    info.pszDisplayName = displayName;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseForFolderCallback;
    info.lParam = reinterpret_cast<LPARAM>(start);
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (!item)
        return false;
    // A chosen item without a file-system path leaves the box as it was; its item list is released all the same.
    bool hasPath = SHGetPathFromIDListW(item, result) && result[0] != L'\0';
    CoTaskMemFree(item);
    return hasPath;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

}  // namespace

bool ReadPathBox(HWND dialog, wchar_t* path) {
    path[0] = L'\0';
    const LRESULT length = SendDlgItemMessageW(dialog, IDC_PATH, WM_GETTEXTLENGTH, 0, 0);
    auto* text =
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (static_cast<SIZE_T>(length) + 1) * sizeof(wchar_t)));
    if (!text)
        return false;
    const LRESULT read = SendDlgItemMessageW(dialog, IDC_PATH, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text));
    LRESULT first = 0;
    LRESULT end = read;
    while (first < end && IsBlank(text[first]))
        ++first;
    while (end > first && IsBlank(text[end - 1]))
        --end;
    // No file or folder name can hold a double quote, so taking them off changes the meaning of no valid path.
    if (end - first >= 2 && text[first] == L'"' && text[end - 1] == L'"') {
        ++first;
        --end;
    } else {
        first = 0;
        end = read;
    }
    // Cut to fit, a longer path could name another real file.
    const bool fits = end - first < MAX_PATH;
    if (fits) {
        for (LRESULT i = first; i < end; ++i)
            path[i - first] = text[i];
        path[end - first] = L'\0';
    }
    HeapFree(GetProcessHeap(), 0, text);
    return fits;
}

void InstallPathBox(HWND dialog) {
    HWND box = GetDlgItem(dialog, IDC_PATH);
    SetWindowLongPtrW(box, GWLP_USERDATA, GetWindowLongPtrW(box, GWLP_WNDPROC));
    SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PathBoxProc));
    SHAutoComplete(box, SHACF_FILESYS_ONLY);
}

LRESULT CALLBACK PathBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DROPFILES) {
        TakeDroppedPath(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    }
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

void BrowseForPath(HWND dialog) {
    // A path too long to hold leaves the start empty: the pickers then open where the platform puts them.
    wchar_t start[MAX_PATH];
    ReadPathBox(dialog, start);
    bool fileMode = SendDlgItemMessageW(dialog, IDC_MODE_FILE, BM_GETCHECK, 0, 0) != 0;
    // A file path starts the picker in the file's folder; a folder path starts it in that folder.
    if (!PathIsDirectoryW(start))
        PathRemoveFileSpecW(start);

    wchar_t result[MAX_PATH];
    result[0] = L'\0';
    bool chosen = fileMode ? PickFile(dialog, start, result) : PickFolder(dialog, start, result);
    if (chosen)
        SendDlgItemMessageW(dialog, IDC_PATH, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(result));
}

int CALLBACK BrowseForFolderCallback(HWND picker, UINT message, LPARAM, LPARAM data) {
    // The picker opens with the start folder selected; `data` is that folder's path.
    if (message == BFFM_INITIALIZED)
        SendMessageW(picker, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}
