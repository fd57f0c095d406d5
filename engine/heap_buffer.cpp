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
