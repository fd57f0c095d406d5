#include "script_map.h"

int MapScript(DWORD flag, const wchar_t* text, wchar_t* out, int capacity) {
    return LCMapStringW(LOCALE_SYSTEM_DEFAULT, flag, text, -1, out, capacity);
}

wchar_t MapUnitWithTable(DWORD, wchar_t unit) {
    return unit;
}
