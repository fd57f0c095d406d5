// The Traditional/Simplified mapping: MapScript uses the platform's mapping where it maps and, elsewhere (Wine),
// our tables made from OpenCC's dictionaries. Every expected text comes from the opencc command at build time
// (tests/fixtures/make_conversion_fixtures.py, make_corpus.py), never from our tables.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "import_patch.h"
#include "script_map.h"
#include "seeded_texts.h"
#include "test_files.h"
#include "text_conversion.h"

namespace {

constexpr DWORD kToSimplified = LCMAP_SIMPLIFIED_CHINESE;
constexpr DWORD kToTraditional = LCMAP_TRADITIONAL_CHINESE;

bool PlatformMaps() {
    wchar_t out[2] = {};
    return LCMapStringW(LOCALE_SYSTEM_DEFAULT, kToSimplified, L"\u570B", 1, out, 2) == 1 && out[0] == L'\u56FD';
}

// Maps `text` as ConvertText does; "(failed)" when MapScript refuses.
std::u16string Map(DWORD flag, std::u16string text) {
    const WideText source = {reinterpret_cast<wchar_t*>(text.data()), text.size()};
    WideText mapped;
    if (!MapScript(flag, source, &mapped))
        return u"(failed)";
    std::u16string result(reinterpret_cast<const char16_t*>(mapped.units), mapped.length);
    const bool terminated = mapped.units[mapped.length] == 0;
    FreeWideText(&mapped);
    return terminated ? result : u"(not terminated)";
}

std::string Units(std::u16string_view text) {
    std::string out;
    char unit[8];
    for (const char16_t u : text.substr(0, 40)) {
        snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(u));
        out += unit;
    }
    return out + (text.size() > 40 ? "..." : "");
}

// Holds wherever the program runs: 國 and 国 map on every platform, by the platform or by our tables.
TEST(MapScript, MapsBothWaysAndRefusesOtherFlags) {
    EXPECT_EQ(Map(kToSimplified, u"\u570B"), u"\u56FD");
    EXPECT_EQ(Map(kToTraditional, u"\u56FD"), u"\u570B");
    EXPECT_EQ(Map(kToSimplified, u""), u"");
    EXPECT_EQ(Map(kToTraditional, u""), u"");
    EXPECT_EQ(Map(LCMAP_UPPERCASE, u"abc"), u"(failed)");
    EXPECT_EQ(Map(0, u"abc"), u"(failed)");
}

// Wine's LCMapStringW returns text unchanged, so there our tables map and must give exactly what opencc
// gives; on Windows the platform maps in its own way.
TEST(MapScript, SeededTextsAsOpenccMapsThem) {
    if (PlatformMaps())
        GTEST_SKIP() << "the platform maps here; opencc's results are those of our tables, which stand in elsewhere";
    int wrong = 0;
    for (const fixtures::MappedText& text : fixtures::kSeededTexts) {
        const std::u16string mapped = Map(text.toSimplified ? kToSimplified : kToTraditional, std::u16string(text.source));
        if (mapped != text.expected && ++wrong <= 5) {
            ADD_FAILURE() << (text.toSimplified ? "to Simplified" : "to Traditional") << "\n  source   "
                          << Units(text.source) << "\n  expected " << Units(text.expected) << "\n  got      "
                          << Units(mapped);
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << std::size(fixtures::kSeededTexts) << " texts";
}

LPVOID WINAPI GrowingFails(HANDLE, DWORD, LPVOID, SIZE_T) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// A text whose mapping needs more units than it has (U+4980 becomes U+289AB, a surrogate pair) is refused,
// not written past its end, when the mapped text cannot grow.
TEST(MapScript, RefusesWhenTheMappedTextCannotGrow) {
    if (PlatformMaps())
        GTEST_SKIP() << "the platform maps here";
    const std::u16string growing(3000, u'\u4980');
    ASSERT_EQ(Map(kToTraditional, growing).size(), 2 * growing.size()) << "the text no longer grows";
    ImportPatch<decltype(&HeapReAlloc)> patch("kernel32.dll", "HeapReAlloc", &GrowingFails);
    ASSERT_TRUE(patch.active());
    EXPECT_EQ(Map(kToTraditional, growing), u"(failed)");
}

// The corpus check: manpages-zh's pages converted by ConvertText, against opencc's output (and, for a code
// page, that output mended and encoded by Python), from files make_corpus.py wrote into QTX_CORPUS.
struct CorpusCase {
    const wchar_t* source;
    const wchar_t* expected;
    TextFormat from;
    TextFormat to;
};

// How many characters two UTF-8 or code-page texts share, place by place, and how many the expected one has.
struct Agreement {
    size_t same;
    size_t total;
};

Agreement Compare(const Bytes& got, const Bytes& expected, UINT codePage) {
    auto decode = [codePage](const Bytes& bytes) {
        std::wstring text(bytes.size(), L'\0');
        text.resize(static_cast<size_t>(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                            text.data(), static_cast<int>(text.size()))));
        return text;
    };
    const std::wstring a = decode(got), b = decode(expected);
    Agreement agreement = {0, b.size()};
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        agreement.same += a[i] == b[i];
    return agreement;
}

TEST(MapScript, CorpusAsOpenccMapsIt) {
    if (PlatformMaps())
        GTEST_SKIP() << "the platform maps here; opencc's results are those of our tables, which stand in elsewhere";
    const char* folder = std::getenv("QTX_CORPUS");
    ASSERT_TRUE(folder != nullptr && *folder != 0) << "QTX_CORPUS names no folder";
    const std::wstring corpus = FromUnixPath(folder);
    const CorpusCase cases[] = {
        {L"zh_CN.txt", L"zh_CN.mapped.txt", SimplifiedUtf8, TraditionalUtf8},
        {L"zh_TW.txt", L"zh_TW.mapped.txt", TraditionalUtf8, SimplifiedUtf8},
        {L"zh_CN.lines.txt", L"zh_CN.codepage.txt", SimplifiedUtf8, TraditionalBig5},
        {L"zh_TW.lines.txt", L"zh_TW.codepage.txt", TraditionalUtf8, SimplifiedGb2312},
    };
    for (const CorpusCase& c : cases) {
        const Bytes source = ReadFileBytes(corpus + L"\\" + c.source);
        const Bytes expected = ReadFileBytes(corpus + L"\\" + c.expected);
        ASSERT_FALSE(source.empty() || expected.empty()) << "corpus files missing in " << folder;
        ByteBuffer result;
        ASSERT_TRUE(ConvertText(reinterpret_cast<const unsigned char*>(source.data()), source.size(), c.from, c.to,
                                &result))
            << "refused: " << testing::PrintToString(std::wstring(c.source));
        const Bytes got(reinterpret_cast<const char*>(result.bytes), result.size);
        FreeByteBuffer(&result);
        const Agreement agreement = Compare(got, expected, CodePageOf(c.to));
        printf("corpus: %ls to %s: %zu of %zu characters as opencc gives them\n", c.source,
               c.to == TraditionalUtf8 || c.to == SimplifiedUtf8 ? "UTF-8" : "its code page", agreement.same,
               agreement.total);
        EXPECT_TRUE(got == expected) << testing::PrintToString(std::wstring(c.source)) << ": "
                                     << agreement.total - agreement.same << " characters differ";
    }
}

}  // namespace
