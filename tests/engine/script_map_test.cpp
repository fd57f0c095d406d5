// The Traditional/Simplified mapping: our own table (generated from Unihan's kSimplifiedVariant and
// kTraditionalVariant) and MapScript, which uses the platform's mapping where it maps and the table elsewhere.
// Expected characters are taken from Unihan_Variants.txt (Unicode 15.0), not from the code under test.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "script_map.h"

namespace {

constexpr DWORD kToSimplified = LCMAP_SIMPLIFIED_CHINESE;
constexpr DWORD kToTraditional = LCMAP_TRADITIONAL_CHINESE;

struct UnitCase {
    wchar_t from;
    wchar_t to;
};

std::string Describe(DWORD flag, wchar_t unit) {
    char text[64];
    snprintf(text, sizeof text, "%s U+%04X", flag == kToSimplified ? "to Simplified" : "to Traditional",
             static_cast<unsigned>(unit));
    return text;
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(ScriptTable, TraditionalToSimplifiedPairs) {
    const UnitCase cases[] = {
        {L'國', L'国'},
        {L'發', L'发'},
        {L'髮', L'发'},
        {L'體', L'体'},
        {L'簡', L'简'},
        {L'轉', L'转'},
        {L'換', L'换'},
        {L'檔', L'档'},
        {L'龍', L'龙'},
        {L'東', L'东'},
        {L'愛', L'爱'},
        {L'說', L'说'},
        {L'門', L'门'},
        {L'語', L'语'},
        {L'後', L'后'},
        {L'幹', L'干'},
        {L'臺', L'台'},
        {L'鐘', L'钟'},
        // 鍾 lists 钟 then 锺: the first variant is taken.
        {L'鍾', L'钟'},
    };
    for (const UnitCase& c : cases) {
        EXPECT_EQ(MapUnitWithTable(kToSimplified, c.from), c.to) << Describe(kToSimplified, c.from);
    }
}

TEST(ScriptTable, SimplifiedToTraditionalPairs) {
    const UnitCase cases[] = {
        {L'国', L'國'},
        {L'简', L'簡'},
        {L'转', L'轉'},
        {L'换', L'換'},
        {L'档', L'檔'},
        {L'龙', L'龍'},
        {L'东', L'東'},
        {L'爱', L'愛'},
        {L'说', L'說'},
        {L'门', L'門'},
        {L'语', L'語'},
        // 发 lists 發 then 髮, 钟 lists 鍾 then 鐘: the first variant is taken.
        {L'发', L'發'},
        {L'钟', L'鍾'},
    };
    for (const UnitCase& c : cases) {
        EXPECT_EQ(MapUnitWithTable(kToTraditional, c.from), c.to) << Describe(kToTraditional, c.from);
    }
}

// Characters that list themselves among their variants are valid in both scripts and stay as they are.
TEST(ScriptTable, CharactersValidInBothScriptsStay) {
    const wchar_t traditional[] = L"乾著裡干后体台面云系只";  // 乾 -> 乾 干, 著 -> 着 著, 裡 -> 裡 里, ...
    const wchar_t simplified[] = L"干后体里面云台系只着";     // 干 -> 乾 干 幹, 后 -> 后 後, 体 -> 体 體, ...
    for (const wchar_t* unit = traditional; *unit != 0; ++unit) {
        EXPECT_EQ(MapUnitWithTable(kToSimplified, *unit), *unit) << Describe(kToSimplified, *unit);
    }
    for (const wchar_t* unit = simplified; *unit != 0; ++unit) {
        EXPECT_EQ(MapUnitWithTable(kToTraditional, *unit), *unit) << Describe(kToTraditional, *unit);
    }
}

// Only Han characters have Simplified/Traditional variants: every other unit passes through, in both directions.
TEST(ScriptTable, TextOutsideTheTablePassesThrough) {
    struct Range {
        unsigned first;
        unsigned last;
        const char* what;
    };
    const Range ranges[] = {
        {0x0000, 0x2E7F, "ASCII, Latin, Greek, Cyrillic, symbols, punctuation"},
        {0x3000, 0x33FF, "CJK punctuation, kana, bopomofo, enclosed and compatibility forms"},
        {0xAC00, 0xD7AF, "Hangul syllables"},
        {0xD800, 0xDFFF, "surrogates"},
        {0xE000, 0xFFFF, "private use, compatibility ideographs, fullwidth forms, specials"},
    };
    for (const DWORD flag : {kToSimplified, kToTraditional}) {
        for (const Range& range : ranges) {
            for (unsigned u = range.first; u <= range.last; ++u) {
                const wchar_t unit = static_cast<wchar_t>(u);
                ASSERT_EQ(MapUnitWithTable(flag, unit), unit) << Describe(flag, unit) << " in " << range.what;
            }
        }
    }
    // Han characters with no Simplified/Traditional variant.
    for (const wchar_t unit : std::wstring(L"的中文字人大小山水")) {
        EXPECT_EQ(MapUnitWithTable(kToSimplified, unit), unit) << Describe(kToSimplified, unit);
        EXPECT_EQ(MapUnitWithTable(kToTraditional, unit), unit) << Describe(kToTraditional, unit);
    }
}

// Unihan 15.0 has about 2750 single-unit Traditional-to-Simplified pairs and about 2300 the other way;
// a truncated or unsorted table would lose most of them to the binary search.
TEST(ScriptTable, CoversThousandsOfCharacters) {
    for (const DWORD flag : {kToSimplified, kToTraditional}) {
        int mapped = 0;
        for (unsigned u = 0; u <= 0xFFFF; ++u) {
            const wchar_t unit = static_cast<wchar_t>(u);
            const wchar_t result = MapUnitWithTable(flag, unit);
            if (result == unit) {
                continue;
            }
            ++mapped;
            EXPECT_TRUE(result >= 0x3400 && result <= 0x9FFF) << Describe(flag, unit) << " maps outside CJK";
        }
        EXPECT_GE(mapped, 2000) << Describe(flag, 0);
    }
}

TEST(ScriptTable, UnknownFlagMapsNothing) {
    EXPECT_EQ(MapUnitWithTable(LCMAP_UPPERCASE, L'國'), L'國');
    wchar_t out[8] = {};
    EXPECT_EQ(MapScript(LCMAP_UPPERCASE, L"abc", out, 8), 0);
}

// Holds wherever the program runs: 國 and 国 map on every platform, by the platform or by the table.
TEST(MapScript, MapsBothWaysAndKeepsTheLength) {
    const struct {
        DWORD flag;
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {kToSimplified, L"國", L"国"},
        {kToTraditional, L"国", L"國"},
        {kToSimplified, L"", L""},
        {kToTraditional, L"", L""},
    };
    for (const auto& c : cases) {
        wchar_t out[16];
        const int expectedUnits = lstrlenW(c.expected) + 1;
        EXPECT_EQ(MapScript(c.flag, c.text, out, 16), expectedUnits) << Describe(c.flag, c.text[0]);
        EXPECT_EQ(std::wstring(out), c.expected) << Describe(c.flag, c.text[0]);
    }
}

TEST(MapScript, FailsWhenTheResultDoesNotFit) {
    const wchar_t text[] = L"abc 國語!";  // 7 units and the terminator
    for (const DWORD flag : {kToSimplified, kToTraditional}) {
        for (const int capacity : {0, 1, 7}) {
            std::vector<wchar_t> out(16, L'#');
            EXPECT_EQ(MapScript(flag, text, out.data(), capacity), 0) << "capacity " << capacity;
        }
        std::vector<wchar_t> out(8);
        EXPECT_EQ(MapScript(flag, text, out.data(), 8), 8);
        EXPECT_EQ(out[7], L'\0');
    }
    wchar_t out[4];
    EXPECT_EQ(MapScript(kToSimplified, nullptr, out, 4), 0);
    EXPECT_EQ(MapScript(kToSimplified, L"a", nullptr, 4), 0);
}

// Wine's LCMapStringW returns the text unchanged, so there the table always maps and the result is exact.
// On Windows the platform's own mapping is used and may differ from Unihan for a few characters.
TEST(MapScript, MixedTextUnderWine) {
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "exact results are those of the Unihan table, which stands in for the platform under Wine";
    }
    const struct {
        DWORD flag;
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {kToSimplified, L"QTX 1.0: 國語說明書，發髮後臺乾著 かな ★ 한글 \U0001F600 \U00020000 的 End\r\n",
         L"QTX 1.0: 国语说明书，发发后台乾著 かな ★ 한글 \U0001F600 \U00020000 的 End\r\n"},
        {kToTraditional, L"QTX 1.0: 国语说明书，发后台干只 かな ★ 한글 \U0001F600 \U00020000 的 End\r\n",
         L"QTX 1.0: 國語說明書，發后台干只 かな ★ 한글 \U0001F600 \U00020000 的 End\r\n"},
    };
    for (const auto& c : cases) {
        const int units = lstrlenW(c.text) + 1;
        std::vector<wchar_t> out(units);
        ASSERT_EQ(MapScript(c.flag, c.text, out.data(), units), units);
        EXPECT_EQ(std::wstring(out.data()), c.expected);
    }
}

}  // namespace
