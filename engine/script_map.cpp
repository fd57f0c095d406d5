#include "script_map.h"

#include "phrase_map.h"

namespace {

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

bool PlatformMapInto(DWORD flag, const WideText& text, UINT64 capacity, WideText* mapped) {
    if (!AllocateWideText(capacity - 1, mapped))
        return false;
    const int written = LCMapStringW(LOCALE_SYSTEM_DEFAULT, flag, text.units, -1, mapped->units,
                                     static_cast<int>(capacity));
    if (written <= 0) {
        FreeWideText(mapped);
        return false;
    }
    mapped->length = static_cast<UINT64>(written - 1);
    mapped->units[mapped->length] = 0;
    return true;
}

bool PlatformMap(DWORD flag, const WideText& text, WideText* mapped) {
    const UINT64 capacity = text.length + 1;
    if (PlatformMapInto(flag, text, capacity, mapped))
        return true;
    // The platform's mapping does not promise to keep the length, so it gets one try with more room.
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER && PlatformMapInto(flag, text, 2 * capacity, mapped);
}

}  // namespace

bool MapScript(DWORD flag, const WideText& text, WideText* mapped) {
    *mapped = {};
    if (flag != LCMAP_SIMPLIFIED_CHINESE && flag != LCMAP_TRADITIONAL_CHINESE)
        return false;
    if (text.length == 0)
        return AllocateWideText(0, mapped);
    if (PlatformMaps())
        return PlatformMap(flag, text, mapped);
    return MapPhrases(flag == LCMAP_SIMPLIFIED_CHINESE, text, mapped);
}
