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
    const unsigned char text[] = "abc";
    ByteBuffer result{};
    // The size is checked before a byte is read: a missing check would read far past these four bytes.
    EXPECT_FALSE(ConvertText(text, kMaxSourceBytes + 1, TraditionalBig5, TraditionalUtf8, &result));
    EXPECT_EQ(result.bytes, nullptr);
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
