#include "settings/text_encoding.h"

#include <gtest/gtest.h>

namespace globeforge {
namespace {

TEST(IsValidUtf8, RejectsMalformedSequences) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ASCII\r\n"));
    EXPECT_TRUE(IsValidUtf8("出力/地表色.bmp"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x8C\x8D"));   // four bytes, U+1F30D
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));   // U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE5\x87"));          // cut short at the end
    EXPECT_FALSE(IsValidUtf8("\xE5\x87x"));
    EXPECT_FALSE(IsValidUtf8("\x80"));
    EXPECT_FALSE(IsValidUtf8("\xFF"));
}

TEST(DecodeTextFileBytes, Utf8KeptShiftJisConverted) {
    EXPECT_EQ(DecodeTextFileBytes("\xEF\xBB\xBF"
                                  "a 色"),
              "a 色");
    EXPECT_EQ(DecodeTextFileBytes("a 色"), "a 色");
    // 地表 in Shift-JIS; the second byte of 表 is the code of a backslash.
    EXPECT_EQ(DecodeTextFileBytes("x \x92\x6E\x95\x5C.bmp"), "x 地表.bmp");
    // Half-width katakana are single bytes.
    EXPECT_EQ(DecodeTextFileBytes("\xB1\xB2"), "ｱｲ");
    // Bytes that are neither become U+FFFD, one each, and the rest still converts.
    EXPECT_EQ(DecodeTextFileBytes("\xFF"
                                  "a\x92\x6E"
                                  "\x81"),
              "\xEF\xBF\xBD"
              "a地\xEF\xBF\xBD");
    EXPECT_EQ(DecodeTextFileBytes(std::string_view("\x92\x6E\0z", 4)), std::string("地\0z", 5));
}

}  // namespace
}  // namespace globeforge
