#pragma once
// The path box's drop handling and auto-completion, and the Browse command's pickers.

#include <windows.h>

// Subclasses the dialog's path box for dropped files and turns on file-system auto-completion.
void InstallPathBox(HWND dialog);

// Reads the path the box names into `path` (MAX_PATH units): the box's text, or, when the text (leaving
// out spaces and tabs at either end) is wrapped in double quotes as Explorer's "Copy as path" writes it,
// the text between them. Returns false, with `path` empty, when that path does not fit in MAX_PATH units.
bool ReadPathBox(HWND dialog, wchar_t* path);

// The Browse command: the file picker in File mode, the folder picker in Folder mode, starting from
// the path box's text; the choice replaces the box's text.
void BrowseForPath(HWND dialog);

LRESULT CALLBACK PathBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int CALLBACK BrowseForFolderCallback(HWND picker, UINT message, LPARAM lParam, LPARAM data);
