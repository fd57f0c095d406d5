#pragma once
// Runs a modal dialog on a thread of its own so that a test can drive it from the test's thread as a
// person would: set texts, click, press keys, answer the pickers the dialog opens. Every wait has a
// time limit, so a dialog or picker that does not appear or does not end fails the test instead of
// hanging it.

#include <windows.h>

#include <string>

constexpr DWORD kDialogTimeoutMs = 10000;

class DialogDriver {
  public:
    // Starts DialogBoxParamW(module, templateId, no owner, proc, 0) on a new thread that has initialised
    // COM as the program's entry does, and waits until the dialog is shown.
    DialogDriver(HINSTANCE module, int templateId, DLGPROC proc);
    // Ends a dialog (and any picker) still open and waits for its thread.
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // The dialog, or null when it did not appear in time.
    HWND dialog() const { return dialog_; }
    HWND item(int id) const { return GetDlgItem(dialog_, id); }
    DWORD threadId() const { return threadId_; }

    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) const;
    bool IsChecked(int id) const;
    // A click on a button; returns once the command it sends has run.
    void Click(int id) const;
    // Moves the keyboard focus to a control, as the dialog manager does for Tab.
    void Focus(int id) const;

    // Posts a key press (down and up) to the control with the focus, as the keyboard would, and waits
    // until the dialog's thread has handled it. `alt` makes it a system key (Alt held down).
    void PressKey(WORD virtualKey, bool alt = false) const;
    // Posts the characters to the control with the focus, as typing them would, and waits until the
    // dialog's thread has handled them.
    void Type(const std::wstring& text) const;
    // Posts a message and waits until the dialog's thread has handled it and what it led to.
    void PostAndSettle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
    // Waits until every message posted to the dialog's thread so far has been handled.
    void Settle() const;

    // Waits until DialogBoxParamW has returned; false after the time limit.
    bool WaitForEnd(DWORD timeoutMs = kDialogTimeoutMs);
    INT_PTR result() const { return result_; }

    // A shown dialog on the dialog's thread other than the main one (a picker), or null after the
    // time limit.
    HWND WaitForPicker(DWORD timeoutMs = kDialogTimeoutMs) const;
    // Every shown picker on the dialog's thread, or null.
    HWND FindPicker() const;

  private:
    static DWORD WINAPI RunDialog(void* self);
    static LRESULT CALLBACK MarkerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void FlushOnce() const;

    HINSTANCE module_;
    int templateId_;
    DLGPROC proc_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE ready_ = nullptr;   // set when the marker window exists on the dialog's thread
    HANDLE marked_ = nullptr;  // set when the marker window receives its message
    HWND marker_ = nullptr;    // a message-only window on the dialog's thread, to learn when posts are done
    HWND dialog_ = nullptr;
    INT_PTR result_ = -1;
    bool ended_ = false;
};

// A message sent from a helper thread: the test's thread stays free to answer a modal window that the
// message opens (a picker), and then waits for the command to finish.
class AsyncSend {
  public:
    AsyncSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    ~AsyncSend();
    AsyncSend(const AsyncSend&) = delete;
    AsyncSend& operator=(const AsyncSend&) = delete;

    // True once SendMessageW has returned; false after the time limit.
    bool Wait(DWORD timeoutMs = kDialogTimeoutMs);

  private:
    static DWORD WINAPI Send(void* self);

    HWND window_;
    UINT message_;
    WPARAM wParam_;
    LPARAM lParam_;
    HANDLE thread_ = nullptr;
};

// The visible window of class "#32770" with this caption that belongs to the process, or null.
HWND FindProcessDialog(DWORD processId, const wchar_t* caption = nullptr);
// Waits for such a window; null when the process ends or the time limit passes first.
HWND WaitForProcessDialog(HANDLE process, DWORD processId, DWORD timeoutMs = kDialogTimeoutMs);
// A window's caption.
std::wstring WindowText(HWND window);

// The caption of dialog template 1 in a module file's resources; "(no dialog 1)" when it has none.
std::wstring TemplateCaption(const std::wstring& module);
// Whether a module file's resources hold icon group 1.
bool HasIcon(const std::wstring& module);
