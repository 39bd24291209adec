#include "settings/preferences.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "settings/settings_test_support.h"

namespace globeforge {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ReadJpegQualityPreference, DefaultsTo90) {
    ScratchDir dir;
    const std::string file = dir / "gen.INI";
    EXPECT_EQ(ReadJpegQualityPreference(file), 90);  // no file

    WriteFile(file, "[Orbgen]\r\nJPEGQuality=75\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 75);
    WriteFile(file, "[Orbgen]\r\nJPEGQuality=200\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 200);  // stored values are not limited here
    WriteFile(file, "[Orbgen]\r\nJPEGQuality=high\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 90);
    WriteFile(file, "[Orbgen]\r\nJPEGQuality=\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 90);
    WriteFile(file, "[Orbgen]\r\nOther=1\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 90);
    WriteFile(file, "[Elsewhere]\r\nJPEGQuality=10\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 90);
    EXPECT_EQ(ReadJpegQualityPreference(dir.path().string()), 90);  // a folder
}

TEST(WriteJpegQualityPreference, CreatesOrUpdatesTheFile) {
    ScratchDir dir;
    const std::string file = dir / "config/globeforge/globeforge.INI";
    ASSERT_TRUE(WriteJpegQualityPreference(file, 75).ok);  // folder created on the way
    EXPECT_EQ(ReadJpegQualityPreference(file), 75);

    WriteFile(file, "; mine\r\n[Window]\r\nX=3\r\n[Orbgen]\r\nJPEGQuality=75\r\n");
    ASSERT_TRUE(WriteJpegQualityPreference(file, 50).ok);
    EXPECT_EQ(ReadFile(file), "; mine\r\n[Window]\r\nX=3\r\n[Orbgen]\r\nJPEGQuality=50\r\n");
    EXPECT_EQ(ReadJpegQualityPreference(file), 50);

    // A file that exists but cannot be read is reported, not overwritten.
    const std::string folder = dir / "taken.INI";
    std::filesystem::create_directory(folder);
    const SettingsResult result = WriteJpegQualityPreference(folder, 90);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("taken.INI"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// The language has a section of its own: the quality's section and every other line stay
// byte for byte, and a missing or unknown value means auto.
TEST(LanguagePreference, OwnSectionLeavesOrbgenAndOtherKeysAlone) {
    ScratchDir dir;
    const std::string file = dir / "globeforge.INI";
    EXPECT_EQ(ReadLanguagePreference(file), LanguageChoice::Auto);
    const std::string before = "; mine\r\n[Orbgen]\r\nJPEGQuality=201\r\nOther=x\r\n";
    WriteFile(file, before);
    EXPECT_EQ(ReadLanguagePreference(file), LanguageChoice::Auto);
    ASSERT_TRUE(WriteLanguagePreference(file, LanguageChoice::English).ok);
    EXPECT_EQ(ReadFile(file), before + "\r\n[GlobeForge]\r\nLanguage=en\r\n");
    EXPECT_EQ(ReadLanguagePreference(file), LanguageChoice::English);
    EXPECT_EQ(ReadJpegQualityPreference(file), 201);
    ASSERT_TRUE(WriteLanguagePreference(file, LanguageChoice::Japanese).ok);
    ASSERT_TRUE(WriteJpegQualityPreference(file, 75).ok);
    EXPECT_EQ(
        ReadFile(file),
        "; mine\r\n[Orbgen]\r\nJPEGQuality=75\r\nOther=x\r\n\r\n[GlobeForge]\r\nLanguage=ja\r\n");
    EXPECT_EQ(ReadLanguagePreference(file), LanguageChoice::Japanese);
    WriteFile(file, "[GlobeForge]\r\nLanguage=fr\r\n");
    EXPECT_EQ(ReadLanguagePreference(file), LanguageChoice::Auto);
}

TEST(PreferencesFilePath, BesideTheProgramElseInTheConfigFolder) {
    ScratchDir dir;
    const std::string program = dir / "gen.exe";
    const std::string beside = dir / "gen.INI";

    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
        EXPECT_EQ(PreferencesFilePath(program), "/xdg/config/globeforge/globeforge.INI");
        WriteFile(beside, "");
        EXPECT_EQ(PreferencesFilePath(program), beside);
        std::filesystem::remove(beside);
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(PreferencesFilePath(program), "/home/someone/.config/globeforge/globeforge.INI");
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/dir");  // not absolute: ignored
        EXPECT_EQ(PreferencesFilePath(program), "/home/someone/.config/globeforge/globeforge.INI");
    }
    EXPECT_FALSE(CurrentProgramPath().empty());
}

}  // namespace
}  // namespace globeforge
