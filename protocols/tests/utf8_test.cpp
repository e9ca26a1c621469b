#include "protocols/utf8.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace protocols::utf8 {
namespace {

TEST(Utf8, ValidatesStrictly) {
    EXPECT_TRUE(is_valid(""));
    EXPECT_TRUE(is_valid("plain"));
    EXPECT_TRUE(is_valid("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
    EXPECT_FALSE(is_valid("\xc0\xaf"));          // overlong
    EXPECT_FALSE(is_valid("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(is_valid("\xf4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(is_valid("\xe2\x82"));          // truncated
    EXPECT_FALSE(is_valid("\x80"));
}

TEST(Utf8, LossyDecodeReplacesEachMaximalInvalidPart) {
    EXPECT_EQ(decode_lossy("ok"), "ok");
    EXPECT_EQ(decode_lossy("a\xffz"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(decode_lossy("a\xe2\x82z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(decode_lossy("\xe2\x82\xac"), "\xe2\x82\xac");
}

TEST(Utf8, CodePointsRoundTrip) {
    const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    std::string again;
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < text.size();) points.push_back(next_code_point(text, i));
    for (char32_t c : points) append(again, c);
    EXPECT_EQ(points, (std::vector<char32_t>{U'a', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(again, text);
}

}  // namespace
}  // namespace protocols::utf8
