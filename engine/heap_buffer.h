#pragma once
// Memory blocks from the process heap; the engine has no C run-time to allocate with.

#include <windows.h>

// A block of at least `size` bytes (a zero size gets a valid block too), or null when it can't be had.
void* AllocateBytes(UINT64 size);
// Releases a block from AllocateBytes; null is ignored.
void FreeBytes(void* block);
