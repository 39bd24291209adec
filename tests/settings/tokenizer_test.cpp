#include "settings/tokenizer.h"

#include <gtest/gtest.h>

#include <string>

namespace globeforge {
namespace {

TEST(SafeStrToInt, AcceptsOnlyTheIntegerSyntax) {
    EXPECT_EQ(SafeStrToInt("abc"), 0);
    EXPECT_EQ(SafeStrToInt(""), 0);
    EXPECT_EQ(SafeStrToInt("12 "), 0);  // nothing may follow
    EXPECT_EQ(SafeStrToInt("-7"), -7);
    EXPECT_EQ(SafeStrToInt("+7"), 7);
    EXPECT_EQ(SafeStrToInt("   42"), 42);  // leading spaces are skipped
    EXPECT_EQ(SafeStrToInt("\t42"), 0);    // but only spaces
    EXPECT_EQ(SafeStrToInt("-"), 0);
    EXPECT_EQ(SafeStrToInt("+"), 0);
    EXPECT_EQ(SafeStrToInt("- 5"), 0);
    EXPECT_EQ(SafeStrToInt("1e3"), 0);
    EXPECT_EQ(SafeStrToInt("0x10"), 0);
}

TEST(SafeStrToInt, DecimalRangeEndsAtInt32Max) {
    EXPECT_EQ(SafeStrToInt("2147483647"), 2147483647);
    EXPECT_EQ(SafeStrToInt("-2147483647"), -2147483647);
    EXPECT_EQ(SafeStrToInt("2147483648"), 0);
    EXPECT_EQ(SafeStrToInt("-2147483648"), 0);  // the digits themselves must fit
    EXPECT_EQ(SafeStrToInt("99999999999999999999999999"), 0);
    EXPECT_EQ(SafeStrToInt("000000000000000000000000012"), 12);
}

TEST(SafeStrToInt, HexadecimalWrapsToNegative) {
    EXPECT_EQ(SafeStrToInt("$10"), 16);
    EXPECT_EQ(SafeStrToInt("$ffffffff"), -1);
    EXPECT_EQ(SafeStrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(SafeStrToInt("$80000000"), INT32_MIN);
    EXPECT_EQ(SafeStrToInt("$00CCEEFF"), 0x00CCEEFF);
    EXPECT_EQ(SafeStrToInt("$"), 0);
    EXPECT_EQ(SafeStrToInt("$123456789"), 0);  // at most eight digits
    EXPECT_EQ(SafeStrToInt("-$10"), 0);
    EXPECT_EQ(SafeStrToInt("$1g"), 0);
    EXPECT_EQ(SafeStrToInt("  $7f"), 127);
}

TEST(NextToken, SplitsAtTheFirstSeparatorOnly) {
    Split split = NextToken("  CoastLevel 40  ", "=");
    EXPECT_EQ(split.token, "CoastLevel");
    EXPECT_EQ(split.rest, "40");

    split = SplitKeyValue("CoastLevel=40");
    EXPECT_EQ(split.token, "CoastLevel");
    EXPECT_EQ(split.rest, "40");

    split = SplitKeyValue("CoastLevel \t   40");
    EXPECT_EQ(split.rest, "40");

    // Only one separator is consumed, so a blank and "=" leave the "=" in the value.
    split = SplitKeyValue("CoastLevel = 40");
    EXPECT_EQ(split.token, "CoastLevel");
    EXPECT_EQ(split.rest, "= 40");

    split = SplitKeyValue("OutputColorMap my maps/a b.bmp ");
    EXPECT_EQ(split.rest, "my maps/a b.bmp");

    split = SplitKeyValue("Key");
    EXPECT_EQ(split.token, "Key");
    EXPECT_EQ(split.rest, "");

    split = SplitKeyValue(" \t\r ");
    EXPECT_EQ(split.token, "");
    EXPECT_EQ(split.rest, "");

    split = SplitKeyValue("=value");
    EXPECT_EQ(split.token, "");
    EXPECT_EQ(split.rest, "value");
}

TEST(NextToken, MultibyteTextIsNeverTakenForBlanks) {
    // Every byte of a UTF-8 multibyte character is above 127; a signed-char comparison
    // would see them as negative, hence as blanks.
    const std::string line = "OutputColorMap \xE5\x87\xBA\xE5\x8A\x9B.bmp\xE3\x80\x80";
    const Split split = SplitKeyValue(line);
    EXPECT_EQ(split.rest, "\xE5\x87\xBA\xE5\x8A\x9B.bmp\xE3\x80\x80");
    EXPECT_EQ(TrimBlanks("\x01 \xC3\xA9 \x7F"), "\xC3\xA9 \x7F");
    EXPECT_TRUE(IsSeparator('\0', ""));
    EXPECT_TRUE(IsSeparator('=', "="));
    EXPECT_FALSE(IsSeparator('\xE5', "="));
}

TEST(StripExtension, RemovesOnlyShortExtensions) {
    EXPECT_EQ(StripExtension("/opt/gen.exe"), "/opt/gen");
    EXPECT_EQ(StripExtension("gen.ab"), "gen");
    EXPECT_EQ(StripExtension("gen."), "gen");
    EXPECT_EQ(StripExtension("page.html"), "page.html");
    EXPECT_EQ(StripExtension("globeforge"), "globeforge");
    EXPECT_EQ(StripExtension("a.b.c"), "a.b");
    EXPECT_EQ(StripExtension(".ab"), "");
    EXPECT_EQ(StripExtension(""), "");
    // A dot in a folder name close to the end is not an extension.
    EXPECT_EQ(StripExtension("/opt/x.d/gf"), "/opt/x.d/gf");
    EXPECT_EQ(StripExtension("/opt/x./g"), "/opt/x./g");
}

}  // namespace
}  // namespace globeforge
