#include "heap_buffer.h"

void* AllocateBytes(UINT64 size) {
    if (size > static_cast<SIZE_T>(-1) / 2)
        return nullptr;
    return HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(size == 0 ? 1 : size));
}

void FreeBytes(void* block) {
    if (block != nullptr)
        HeapFree(GetProcessHeap(), 0, block);
}

bool AllocateWideText(UINT64 length, WideText* text) {
    *text = {};
    if (length >= kMaxIntCount)
        return false;
    text->units = static_cast<wchar_t*>(AllocateBytes((length + 1) * sizeof(wchar_t)));
    if (text->units == nullptr)
        return false;
    text->units[length] = 0;
    text->length = length;
    return true;
}

bool ResizeWideText(UINT64 length, WideText* text) {
    if (length >= kMaxIntCount)
        return false;
    void* resized = HeapReAlloc(GetProcessHeap(), 0, text->units, static_cast<SIZE_T>((length + 1) * sizeof(wchar_t)));
    if (resized == nullptr)
        return false;
    text->units = static_cast<wchar_t*>(resized);
    text->units[length] = 0;
    text->length = length;
    return true;
}

void FreeWideText(WideText* text) {
    FreeBytes(text->units);
    *text = {};
}
