#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "base/wyrand.h"

namespace vornex {
namespace {

// Length of the well-formed sequence at text[i] by the table of well-formed
// byte sequences in the Unicode standard (ranges of the first two bytes),
// 0 when there is none.
size_t reference_sequence_length(const std::string& text, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(text[k])); };
    const unsigned b0 = at(i);
    if (b0 <= 0x7F) return 1;
    size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) len = 2;
    else if (b0 == 0xE0) len = 3, lo = 0xA0;
    else if (b0 >= 0xE1 && b0 <= 0xEC) len = 3;
    else if (b0 == 0xED) len = 3, hi = 0x9F;
    else if (b0 >= 0xEE && b0 <= 0xEF) len = 3;
    else if (b0 == 0xF0) len = 4, lo = 0x90;
    else if (b0 >= 0xF1 && b0 <= 0xF3) len = 4;
    else if (b0 == 0xF4) len = 4, hi = 0x8F;
    else return 0;
    if (i + len > text.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return len;
}

TEST(Utf8, ValidityAndLossyTextAgreeWithTheTableOfWellFormedSequences) {
    Wyrand rng(17);
    // Bytes drawn mostly from the interesting range so that long valid
    // sequences, truncations and near misses all occur.
    const unsigned char pool[] = {'a', ' ', 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                  0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
    for (int trial = 0; trial < 20000; ++trial) {
        std::string text;
        const size_t length = rng.next_u64() % 9;
        for (size_t k = 0; k < length; ++k) text += static_cast<char>(pool[rng.next_u64() % sizeof pool]);

        std::string expected;
        bool valid = true;
        for (size_t i = 0; i < text.size();) {
            const size_t len = reference_sequence_length(text, i);
            expected += len ? text.substr(i, len) : "\xEF\xBF\xBD";
            valid = valid && len > 0;
            i += len ? len : 1;
        }
        ASSERT_EQ(is_valid_utf8(text), valid) << trial;
        ASSERT_EQ(utf8_lossy(text), expected) << trial;
    }
}

TEST(Utf8, NamedCases) {
    EXPECT_FALSE(is_valid_utf8("\xff"));
    EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));  // a surrogate
    EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));      // overlong
    EXPECT_TRUE(is_valid_utf8("\xf0\x9f\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_EQ(utf8_lossy("GPU \xe2\x82"), "GPU \xEF\xBF\xBD\xEF\xBF\xBD");  // truncated: one mark per byte
    uint32_t cp = 0;
    EXPECT_EQ(utf8_char("\xe2\x82\xac", 0, cp), 3u);
    EXPECT_EQ(cp, 0x20ACu);
}

}  // namespace
}  // namespace vornex
