// The script-mapping rule and the in-memory conversion's refusals that a file can't reach cheaply.

#include <gtest/gtest.h>

#include "text_conversion.h"
#include "text_format.h"

namespace {

TEST(TextFormat, MappingDependsOnTheFamiliesAlone) {
    int reencodeOnly = 0;
    int mapped = 0;
    for (unsigned from = 0; from < kTextFormatCount; ++from) {
        for (unsigned to = 0; to < kTextFormatCount; ++to) {
            if (from == to)
                continue;
            const DWORD flag = ScriptMappingFor(static_cast<TextFormat>(from), static_cast<TextFormat>(to));
            const DWORD expected = (from <= 2) == (to <= 2) ? 0
                                   : from <= 2              ? LCMAP_SIMPLIFIED_CHINESE
                                                            : LCMAP_TRADITIONAL_CHINESE;
            EXPECT_EQ(flag, expected) << from << " to " << to;
            ++(flag == 0 ? reencodeOnly : mapped);
        }
    }
    EXPECT_EQ(reencodeOnly, 12);
    EXPECT_EQ(mapped, 18);
}

TEST(ConvertText, RefusesWhatThePlatformCallsCantTakeWithoutReadingIt) {
    // Sources past the limit lie in address space that is reserved but not committed: reading any byte of
    // it faults and ends this program, so the size must be refused before a byte is looked at.
    const UINT64 reserved = 0x100000004;
    auto* unreadable = static_cast<const unsigned char*>(VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(unreadable, nullptr);
    ByteBuffer result{};
    for (const UINT64 size : {kMaxSourceBytes + 1, reserved}) {
        for (const TextFormat from : {TraditionalUnicode, SimplifiedUtf8, TraditionalBig5}) {
            EXPECT_FALSE(ConvertText(unreadable, size, from, SimplifiedGb2312, &result)) << size << " bytes";
            EXPECT_EQ(result.bytes, nullptr);
        }
    }
    VirtualFree(const_cast<unsigned char*>(unreadable), 0, MEM_RELEASE);
    const unsigned char text[] = {'a', 'b', 'c'};
    EXPECT_FALSE(ConvertText(text, 3, static_cast<TextFormat>(kTextFormatCount), TraditionalUtf8, &result));
    EXPECT_FALSE(ConvertText(nullptr, 3, TraditionalBig5, TraditionalUtf8, &result));
}

TEST(ConvertText, FailureLeavesNoResult) {
    const unsigned char withZero[] = {'a', 0, 'b'};
    ByteBuffer result{};
    EXPECT_FALSE(ConvertText(withZero, sizeof withZero, SimplifiedGb2312, SimplifiedUtf8, &result));
    EXPECT_EQ(result.bytes, nullptr);
    EXPECT_EQ(result.size, 0u);
}

}  // namespace
