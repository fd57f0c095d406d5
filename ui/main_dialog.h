#pragma once
// The main dialog: its procedure and the Convert command.

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Reads the dialog's controls into a conversion request and hands it to the engine.
void RunConversion(HWND dialog);
