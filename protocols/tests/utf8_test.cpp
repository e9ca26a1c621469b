#include "protocols/utf8.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace protocols::utf8
