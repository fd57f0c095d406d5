#include "dialog_driver.h"

#include <objbase.h>

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

constexpr UINT kMarkerMessage = WM_APP + 1;
constexpr DWORD kPollMs = 10;

bool IsShownDialog(HWND window) {
    wchar_t className[16];
    return IsWindowVisible(window) && GetClassNameW(window, className, ARRAYSIZE(className)) &&
           lstrcmpW(className, L"#32770") == 0;
}

struct PickerSearch {
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindOtherDialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<PickerSearch*>(data);
    if (window == search->exclude || !IsShownDialog(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

struct ProcessSearch {
    DWORD processId;
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK FindDialogOfProcess(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<ProcessSearch*>(data);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsShownDialog(window))
        return TRUE;
    if (search->caption && WindowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

DialogDriver::DialogDriver(HINSTANCE module, int templateId, DLGPROC proc)
    : module_(module), templateId_(templateId), proc_(proc) {
    ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    marked_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, RunDialog, this, 0, &threadId_);
    if (!thread_) {
        ADD_FAILURE() << "cannot start the dialog's thread";
        return;
    }
    HANDLE waits[] = {ready_, thread_};
    if (WaitForMultipleObjects(2, waits, FALSE, kDialogTimeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the dialog's thread did not start";
        return;
    }
    for (DWORD waited = 0; waited < kDialogTimeoutMs; waited += kPollMs) {
        PickerSearch search{marker_, nullptr};
        EnumThreadWindows(threadId_, FindOtherDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            dialog_ = search.found;
            return;
        }
        if (WaitForSingleObject(thread_, kPollMs) == WAIT_OBJECT_0) {
            ended_ = true;
            ADD_FAILURE() << "the dialog ended before it was shown";
            return;
        }
    }
    ADD_FAILURE() << "the dialog did not appear within " << kDialogTimeoutMs << " ms";
}

DialogDriver::~DialogDriver() {
    if (thread_) {
        // Close whatever is still open, innermost first, until the dialog's thread ends.
        for (DWORD waited = 0; !ended_ && waited < kDialogTimeoutMs; waited += 50) {
            HWND picker = FindPicker();
            if (picker)
                PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
            else if (dialog_ && IsWindow(dialog_))
                PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
            ended_ = WaitForSingleObject(thread_, 50) == WAIT_OBJECT_0;
        }
        if (!ended_) {
            ADD_FAILURE() << "the dialog's thread did not end";
            TerminateThread(thread_, 1);
        }
        CloseHandle(thread_);
    }
    CloseHandle(ready_);
    CloseHandle(marked_);
}

DWORD WINAPI DialogDriver::RunDialog(void* data) {
    auto* self = static_cast<DialogDriver*>(data);
    // As the program's entry does before it opens the dialog.
    HRESULT com = CoInitialize(nullptr);
    InitCommonControls();
    WNDCLASSW markerClass = {};
    markerClass.lpfnWndProc = MarkerProc;
    markerClass.hInstance = GetModuleHandleW(nullptr);
    markerClass.lpszClassName = L"DialogDriverMarker";
    RegisterClassW(&markerClass);
    self->marker_ = CreateWindowExW(0, markerClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    markerClass.hInstance, nullptr);
    SetWindowLongPtrW(self->marker_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self->marked_));
    SetEvent(self->ready_);
    self->result_ = DialogBoxParamW(self->module_, MAKEINTRESOURCEW(self->templateId_), nullptr, self->proc_, 0);
    DestroyWindow(self->marker_);
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}

LRESULT CALLBACK DialogDriver::MarkerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMarkerMessage) {
        SetEvent(reinterpret_cast<HANDLE>(GetWindowLongPtrW(window, GWLP_USERDATA)));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring DialogDriver::Text(int id) const {
    return WindowText(item(id));
}

void DialogDriver::SetText(int id, const std::wstring& text) const {
    SendMessageW(item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool DialogDriver::IsChecked(int id) const {
    return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogDriver::Click(int id) const {
    DWORD_PTR unused = 0;
    EXPECT_NE(SendMessageTimeoutW(item(id), BM_CLICK, 0, 0, SMTO_NORMAL, kDialogTimeoutMs, &unused), 0)
        << "the click on control " << id << " did not finish in time";
}

void DialogDriver::Focus(int id) const {
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(id)), TRUE);
}

void DialogDriver::PressKey(WORD virtualKey, bool alt) const {
    GUITHREADINFO info = {sizeof info};
    GetGUIThreadInfo(threadId_, &info);
    HWND target = info.hwndFocus ? info.hwndFocus : dialog_;
    UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (alt ? (1 << 29) : 0);
    LPARAM up = down | (1 << 30) | (static_cast<LPARAM>(1) << 31);
    PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, down);
    PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, virtualKey, up);
    Settle();
}

void DialogDriver::Type(const std::wstring& text) const {
    GUITHREADINFO info = {sizeof info};
    GetGUIThreadInfo(threadId_, &info);
    for (wchar_t unit : text)
        PostMessageW(info.hwndFocus ? info.hwndFocus : dialog_, WM_CHAR, unit, 1);
    Settle();
}

void DialogDriver::PostAndSettle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const {
    PostMessageW(window, message, wParam, lParam);
    Settle();
}

void DialogDriver::FlushOnce() const {
    if (ended_ || !PostMessageW(marker_, kMarkerMessage, 0, 0))
        return;
    HANDLE waits[] = {marked_, thread_};
    EXPECT_NE(WaitForMultipleObjects(2, waits, FALSE, kDialogTimeoutMs), WAIT_TIMEOUT)
        << "the dialog's thread did not get to its posted messages in time";
}

void DialogDriver::Settle() const {
    // A key press handled by the dialog's loop may post further messages (the characters it
    // translates to): those come behind the first marker, so a second one waits for them too.
    FlushOnce();
    FlushOnce();
}

bool DialogDriver::WaitForEnd(DWORD timeoutMs) {
    if (!ended_ && thread_)
        ended_ = WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
    return ended_;
}

HWND DialogDriver::FindPicker() const {
    PickerSearch search{dialog_, nullptr};
    EnumThreadWindows(threadId_, FindOtherDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND DialogDriver::WaitForPicker(DWORD timeoutMs) const {
    for (DWORD waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (HWND picker = FindPicker())
            return picker;
        Sleep(kPollMs);
    }
    return nullptr;
}

AsyncSend::AsyncSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    : window_(window), message_(message), wParam_(wParam), lParam_(lParam) {
    thread_ = CreateThread(nullptr, 0, Send, this, 0, nullptr);
    EXPECT_NE(thread_, nullptr) << "cannot start a sending thread";
}

AsyncSend::~AsyncSend() {
    if (!thread_)
        return;
    // A test that stopped early may have left a picker open: cancel it so that the send can return.
    DWORD threadId = GetWindowThreadProcessId(window_, nullptr);
    bool done = false;
    for (DWORD waited = 0; !done && waited < kDialogTimeoutMs; waited += 50) {
        done = WaitForSingleObject(thread_, 50) == WAIT_OBJECT_0;
        PickerSearch search{GetAncestor(window_, GA_ROOT), nullptr};
        EnumThreadWindows(threadId, FindOtherDialog, reinterpret_cast<LPARAM>(&search));
        if (!done && search.found)
            PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
    }
    if (!done) {
        ADD_FAILURE() << "a sent message never returned";
        TerminateThread(thread_, 1);
    }
    CloseHandle(thread_);
}

DWORD WINAPI AsyncSend::Send(void* data) {
    auto* self = static_cast<AsyncSend*>(data);
    SendMessageW(self->window_, self->message_, self->wParam_, self->lParam_);
    return 0;
}

bool AsyncSend::Wait(DWORD timeoutMs) {
    return thread_ && WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
}

std::wstring WindowText(HWND window) {
    int length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    length = static_cast<int>(SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<size_t>(length));
    return text;
}

HWND FindProcessDialog(DWORD processId, const wchar_t* caption) {
    ProcessSearch search{processId, caption, nullptr};
    EnumWindows(FindDialogOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForProcessDialog(HANDLE process, DWORD processId, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (HWND found = FindProcessDialog(processId))
            return found;
        if (WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

std::wstring TemplateCaption(const std::wstring& module) {
    HMODULE data = LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!data)
        return L"(cannot load)";
    std::wstring caption = L"(no dialog 1)";
    HRSRC found = FindResourceW(data, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(5));  // RT_DIALOG
    if (found) {
        auto* units = static_cast<const WORD*>(LockResource(LoadResource(data, found)));
        const WORD* at = units + 13;               // past the fixed header of DLGTEMPLATEEX
        for (int field = 0; field < 2; ++field) {  // menu, then window class: none, an ordinal or a string
            if (*at == 0)
                ++at;
            else if (*at == 0xFFFF)
                at += 2;
            else
                at += lstrlenW(reinterpret_cast<const wchar_t*>(at)) + 1;
        }
        caption = reinterpret_cast<const wchar_t*>(at);
    }
    FreeLibrary(data);
    return caption;
}

bool HasIcon(const std::wstring& module) {
    HMODULE data = LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    bool has = data && FindResourceW(data, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    if (data)
        FreeLibrary(data);
    return has;
}
