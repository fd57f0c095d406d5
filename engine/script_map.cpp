#include "script_map.h"

namespace {

struct ScriptPair {
    unsigned short from;
    unsigned short to;
};

#include "script_table.inc"

// Whether LCMapStringW really maps here, found out on first use (Wine's reports success and maps nothing).
enum PlatformMapping { kNotProbed = 0, kPlatformMaps, kPlatformDoesNotMap };
PlatformMapping g_platformMapping = kNotProbed;

bool PlatformMapsPair(DWORD flag, wchar_t from, wchar_t expected) {
    const wchar_t text[2] = {from, 0};
    wchar_t out[4] = {};
    return LCMapStringW(LOCALE_SYSTEM_DEFAULT, flag, text, -1, out, 4) == 2 && out[0] == expected;
}

bool PlatformMaps() {
    if (g_platformMapping == kNotProbed) {
        // 國 and 国 are the everyday pair for "country"; any real mapping service turns each into the other.
        const bool maps = PlatformMapsPair(LCMAP_SIMPLIFIED_CHINESE, L'\x570B', L'\x56FD') &&
                          PlatformMapsPair(LCMAP_TRADITIONAL_CHINESE, L'\x56FD', L'\x570B');
        g_platformMapping = maps ? kPlatformMaps : kPlatformDoesNotMap;
    }
    return g_platformMapping == kPlatformMaps;
}

wchar_t LookUp(const ScriptPair* pairs, int count, wchar_t unit) {
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (pairs[middle].from == unit) {
            return static_cast<wchar_t>(pairs[middle].to);
        }
        if (pairs[middle].from < unit) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return unit;
}

}  // namespace

int MapScript(DWORD flag, const wchar_t* text, wchar_t* out, int capacity) {
    if (flag != LCMAP_SIMPLIFIED_CHINESE && flag != LCMAP_TRADITIONAL_CHINESE) {
        return 0;
    }
    // A capacity of 0 would make LCMapStringW report the size it needs instead of mapping.
    if (text == nullptr || out == nullptr || capacity <= 0) {
        return 0;
    }
    if (PlatformMaps()) {
        return LCMapStringW(LOCALE_SYSTEM_DEFAULT, flag, text, -1, out, capacity);
    }
    const int units = lstrlenW(text) + 1;
    if (units > capacity) {
        return 0;
    }
    for (int i = 0; i < units; ++i) {
        out[i] = MapUnitWithTable(flag, text[i]);
    }
    return units;
}

wchar_t MapUnitWithTable(DWORD flag, wchar_t unit) {
    if (flag == LCMAP_SIMPLIFIED_CHINESE) {
        return LookUp(kTraditionalToSimplified, ARRAYSIZE(kTraditionalToSimplified), unit);
    }
    if (flag == LCMAP_TRADITIONAL_CHINESE) {
        return LookUp(kSimplifiedToTraditional, ARRAYSIZE(kSimplifiedToTraditional), unit);
    }
    return unit;
}
