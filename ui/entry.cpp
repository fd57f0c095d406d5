// The program's entry: no C run-time start-up runs before it, and it ends the process itself.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "main_dialog.h"
#include "resource.h"

namespace {

// A translation ships as a resource-only file named after the executable plus this suffix, beside it.
const wchar_t kSatelliteSuffix[] = L".mui";

// The module the dialog template comes from: the satellite beside the executable when there is one
// that loads, else the executable itself.
HMODULE SelectResourceModule() {
    HMODULE self = GetModuleHandleW(nullptr);
    wchar_t name[MAX_PATH + ARRAYSIZE(kSatelliteSuffix)];
    DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH);
    // A name that filled the buffer may have been cut short; a cut name could lead to some other file.
    if (length == 0 || length >= MAX_PATH)
        return self;
    lstrcatW(name, kSatelliteSuffix);
    if (GetFileAttributesW(name) == INVALID_FILE_ATTRIBUTES)
        return self;
    HMODULE loaded = GetModuleHandleW(name);
    if (loaded)
        return loaded;
    // Loaded as data only and never released: the dialog template is read from it until the process ends.
    HMODULE satellite = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return satellite ? satellite : self;
}

}  // namespace

extern "C" void Entry() {
    // The folder picker and the path box's auto-completion need a single-threaded apartment.
    if (FAILED(CoInitialize(nullptr)))
        ExitProcess(0);
    InitCommonControls();
    DialogBoxParamW(SelectResourceModule(), MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    CoUninitialize();
    ExitProcess(0);
}
