#include "code_page_mend.h"

namespace {

bool RoundTrips(UINT codePage, const wchar_t* character, unsigned length) {
    char bytes[8];
    BOOL defaulted = FALSE;
    const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, character, static_cast<int>(length), bytes,
                                         sizeof bytes, nullptr, &defaulted);
    if (size <= 0 || defaulted)
        return false;
    wchar_t back[4];
    const int backLength = MultiByteToWideChar(codePage, 0, bytes, size, back, 4);
    if (backLength != static_cast<int>(length))
        return false;
    for (unsigned i = 0; i < length; ++i) {
        if (back[i] != character[i])
            return false;
    }
    return true;
}

// Which units of the Basic Multilingual Plane a code page holds (1) or not (0): every unit at once, in one
// round trip of them all, where each unit comes back as one unit; unit by unit should that not be so.
constexpr UINT kMendedCodePages[2] = {950, 936};
unsigned char g_held[2][0x10000];
bool g_known[2];
wchar_t g_allUnits[0x10000];
char g_allBytes[0x20000];
wchar_t g_backUnits[0x10000];

bool IsSurrogate(unsigned unit) {
    return (unit & 0xF800u) == 0xD800u;
}

void FindHeldUnits(UINT codePage, unsigned char* heldUnits) {
    // Unit 0 ends nothing here (counts are given), surrogates stand alone as '?' and are held by no code page.
    for (unsigned u = 0; u < 0x10000; ++u)
        g_allUnits[u] = static_cast<wchar_t>(IsSurrogate(u) ? L'?' : u);
    const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, g_allUnits, 0x10000, g_allBytes,
                                         sizeof g_allBytes, nullptr, nullptr);
    const bool together =
        size > 0 && MultiByteToWideChar(codePage, 0, g_allBytes, size, g_backUnits, 0x10000) == 0x10000;
    for (unsigned u = 0; u < 0x10000; ++u) {
        const wchar_t unit = static_cast<wchar_t>(u);
        const bool held = together ? g_backUnits[u] == unit : RoundTrips(codePage, &unit, 1);
        heldUnits[u] = !IsSurrogate(u) && held ? 1 : 0;
    }
}

const unsigned char* HeldUnitsOf(UINT codePage) {
    for (unsigned i = 0; i < 2; ++i) {
        if (kMendedCodePages[i] != codePage)
            continue;
        if (!g_known[i]) {
            FindHeldUnits(codePage, g_held[i]);
            g_known[i] = true;
        }
        return g_held[i];
    }
    return nullptr;
}

// A surrogate pair is one character; any other unit, a lone surrogate too, is one on its own.
unsigned CharacterLength(const wchar_t* units, UINT64 rest) {
    return rest >= 2 && IS_HIGH_SURROGATE(units[0]) && IS_LOW_SURROGATE(units[1]) ? 2 : 1;
}

UINT64 CharacterCount(const WideText& text) {
    UINT64 count = 0;
    for (UINT64 i = 0; i < text.length; i += CharacterLength(text.units + i, text.length - i))
        ++count;
    return count;
}

bool Holds(UINT codePage, const unsigned char* held, const wchar_t* character, unsigned length) {
    return length == 1 && held != nullptr ? held[static_cast<unsigned short>(character[0])] != 0
                                          : RoundTrips(codePage, character, length);
}

bool SameCharacter(const wchar_t* a, unsigned aLength, const wchar_t* b, unsigned bLength) {
    return aLength == bLength && a[0] == b[0] && (aLength == 1 || a[1] == b[1]);
}

// Whether a text holds the first unit of a surrogate pair (or a lone one), four units at a time: a unit is one
// exactly when its lane of `x` below is zero, which sets that lane's high bit in the test.
bool HoldsHighSurrogate(const WideText& text) {
    UINT64 found = 0;
    UINT64 i = 0;
    for (; i + 4 <= text.length; i += 4) {
        UINT64 word;
        __builtin_memcpy(&word, text.units + i, 8);
        const UINT64 x = (word & 0xFC00FC00FC00FC00ull) ^ 0xD800D800D800D800ull;
        found |= (x - 0x0001000100010001ull) & ~x & 0x8000800080008000ull;
    }
    for (; i < text.length; ++i)
        found |= (text.units[i] & 0xFC00u) == 0xD800u;
    return found != 0;
}

// The usual case: one unit per character on both sides, so places are units. Most units come through mapping
// unchanged: eight at a time are passed over while they do; the others are mended without a branch.
void MendUnits(const unsigned char* held, const WideText& source, WideText* mapped) {
    const wchar_t* was = source.units;
    wchar_t* is = mapped->units;
    for (UINT64 i = 0; i < source.length;) {
        if (i + 8 <= source.length) {
            UINT64 a[2], b[2];
            __builtin_memcpy(a, was + i, 16);
            __builtin_memcpy(b, is + i, 16);
            if (((a[0] ^ b[0]) | (a[1] ^ b[1])) == 0) {
                i += 8;
                continue;
            }
        }
        const UINT64 end = source.length - i < 8 ? source.length : i + 8;
        for (; i < end; ++i) {
            const unsigned from = static_cast<unsigned short>(was[i]);
            const unsigned to = static_cast<unsigned short>(is[i]);
            const bool keep = held[from] > held[to];
            is[i] = static_cast<wchar_t>(keep ? from : to);
        }
    }
}

}  // namespace

void KeepCharactersTheCodePageHolds(UINT codePage, const WideText& source, WideText* mapped) {
    const unsigned char* held = HeldUnitsOf(codePage);
    if (held != nullptr && source.length == mapped->length && !HoldsHighSurrogate(source) &&
        !HoldsHighSurrogate(*mapped)) {
        MendUnits(held, source, mapped);
        return;
    }
    if (CharacterCount(source) != CharacterCount(*mapped))
        return;
    UINT64 from = 0;
    UINT64 write = 0;
    for (UINT64 read = 0; read < mapped->length;) {
        const wchar_t* was = source.units + from;
        const wchar_t* is = mapped->units + read;
        const unsigned wasLength = CharacterLength(was, source.length - from);
        const unsigned isLength = CharacterLength(is, mapped->length - read);
        // Keeping the source character never needs more units than the mapped one had, so the text is
        // mended in place.
        const bool keep = !SameCharacter(was, wasLength, is, isLength) && wasLength <= isLength &&
                          !Holds(codePage, held, is, isLength) && Holds(codePage, held, was, wasLength);
        const wchar_t* kept = keep ? was : is;
        const unsigned keptLength = keep ? wasLength : isLength;
        for (unsigned i = 0; i < keptLength; ++i)
            mapped->units[write + i] = kept[i];
        write += keptLength;
        read += isLength;
        from += wasLength;
    }
    mapped->length = write;
    mapped->units[write] = 0;
}
