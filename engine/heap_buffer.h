#pragma once
// Memory blocks from the process heap; the engine has no C run-time to allocate with.

#include <windows.h>

// A block of at least `size` bytes (a zero size gets a valid block too), or null when it can't be had.
void* AllocateBytes(UINT64 size);
// Releases a block from AllocateBytes; null is ignored.
void FreeBytes(void* block);

// The platform's text calls count units and bytes in an int: no text or buffer for them holds more.
constexpr UINT64 kMaxIntCount = 0x7FFFFFFF;

// Zero-terminated UTF-16 text in a block of its own; `length` leaves the terminator out.
struct WideText {
    wchar_t* units;
    UINT64 length;
};

// Room for `length` units and the terminator, which is set; false, with `text` empty, when it can't be had.
bool AllocateWideText(UINT64 length, WideText* text);
// Gives the text room for `length` units and the terminator, which is set, keeping the units that fit; on
// failure the text stays as it was.
bool ResizeWideText(UINT64 length, WideText* text);
// Releases the text's block and leaves it empty.
void FreeWideText(WideText* text);
