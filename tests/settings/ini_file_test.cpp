#include "settings/ini_file.h"

#include <gtest/gtest.h>

namespace globeforge {
namespace {

TEST(IniFile, ReadsValuesBySectionAndKey) {
    const IniFile ini = IniFile::Parse(
        "; comment=1\r\n"
        "[Other]\r\n"
        "JPEGQuality=10\r\n"
        "[ orbgen ]\r\n"
        "  jpegquality =  75  \r\n"
        "#JPEGQuality=5\r\n"
        "[Orbgen]\r\n"
        "Later=1\r\n");
    EXPECT_EQ(ini.GetValue("Orbgen", "JPEGQuality"), "75");  // names ignore ASCII case
    EXPECT_EQ(ini.GetValue("Other", "JPEGQuality"), "10");
    EXPECT_EQ(ini.GetValue("Orbgen", "Later"), std::nullopt);  // only the first such section
    EXPECT_EQ(ini.GetValue("Orbgen", "Missing"), std::nullopt);
    EXPECT_EQ(ini.GetValue("Missing", "JPEGQuality"), std::nullopt);
    EXPECT_EQ(IniFile::Parse("").GetValue("Orbgen", "JPEGQuality"), std::nullopt);
}

TEST(IniFile, SetValueKeepsEverythingElse) {
    // Replacing a value changes that one line only.
    IniFile ini = IniFile::Parse("; keep me\n[Orbgen]\njpegQuality = 75\nOther=x\n\n[Next]\na=b\n");
    ini.SetValue("Orbgen", "JPEGQuality", "50");
    EXPECT_EQ(ini.Text(), "; keep me\n[Orbgen]\njpegQuality=50\nOther=x\n\n[Next]\na=b\n");

    // A new key goes after the section's last line, before the blank line that ends it.
    ini.SetValue("Orbgen", "Added", "1");
    EXPECT_EQ(ini.Text(), "; keep me\n[Orbgen]\njpegQuality=50\nOther=x\nAdded=1\n\n[Next]\na=b\n");

    // A new section goes at the end.
    IniFile crlf = IniFile::Parse("[A]\r\nk=v");
    crlf.SetValue("Orbgen", "JPEGQuality", "90");
    EXPECT_EQ(crlf.Text(), "[A]\r\nk=v\r\n\r\n[Orbgen]\r\nJPEGQuality=90\r\n");

    IniFile empty;
    empty.SetValue("Orbgen", "JPEGQuality", "90");
    EXPECT_EQ(empty.Text(), "[Orbgen]\r\nJPEGQuality=90\r\n");
    EXPECT_EQ(IniFile::Parse(empty.Text()).GetValue("Orbgen", "JPEGQuality"), "90");
}

}  // namespace
}  // namespace globeforge
