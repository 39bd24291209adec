// Values a user types (--set, batch cells, --seeds) are refused when they are not values of
// their key; settings files load as leniently as ever but say what they changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/batch_table.h"
#include "cli/cli_options.h"
#include "settings/settings_file.h"
#include "settings/tokenizer.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::RunRender;
using testing::ScratchDir;

std::string SetProblem(const std::string& line) {
    CliOptions options;
    std::string error;
    EXPECT_TRUE(ParseCliOptions({"p.ORB", "--set", line}, options, error)) << error;
    SettingsModel model;
    return ApplyCliOverrides(options, model);
}

std::vector<std::string> TableProblems(const std::string& text) {
    BatchTable table;
    std::vector<std::string> errors;
    EXPECT_TRUE(ReadBatchTable(text, table, errors)) << ::testing::PrintToString(errors);
    std::vector<BatchPlanet> planets;
    const bool checked = CheckBatchTable(SettingsModel{}, table, planets, errors);
    EXPECT_EQ(checked, errors.empty());
    EXPECT_EQ(planets.empty(), !errors.empty());
    return errors;
}

TEST(TypedInput, BadValuesAreRefusedNamingWhereAndWhatIsAllowed) {
    const struct {
        const char* line;
        const char* problem;  // empty: accepted
    } sets[] = {
        {"CoastLevel=banana", "'banana' is not a whole number from 0 to 100"},
        {"CoastLevel=400", "'400' is not a whole number from 0 to 100"},
        {"GroundXWarp=0", "'0' is not a whole number from 1 to 100"},
        {"OverSampling=12", "'12' is not a whole number from 1 to 9"},
        {"OutputResolutionX=0", "'0' is not a whole number from 1 to 2147483647"},
        {"NumberOfCraters=-5", "'-5' is not a whole number from 0 to 2147483647"},
        {"CraterBasicRadius=1.5", "'1.5' is not a whole number from 0 to 2147483647"},
        {"RandomSeed=-2147483648",
         "'-2147483648' is not a whole number from -2147483647 to "
         "2147483647"},
        {"GroundAutoCreate=yes", "'yes' is not True or False"},
        {"GroundMixtureMode=add", "'add' is not Add, Norm or Sub"},
        {"OutputTransparencyMode=Alpha", "'Alpha' is not TransparencyMap or AlphaMap"},
        {"HeightBitDepth=12", "'12' is not 8 or 16"},
        {"GroundColorHigh=red", "'red' is not a colour ($ and up to eight hex digits, 00BBGGRR)"},
        {"CoastLevel=", "'' is not a whole number from 0 to 100"},
        {"CoastLevel=$64", ""},
        {"RandomSeed=-2147483647", ""},
        {"GroundAutoCreate=FALSE", ""},
        {"CloudMixtureMode=Sub", ""},
        {"HeightBitDepth=16", ""},
        {"GroundColorHigh=$00ff8000", ""},
        {"OutputColorMap=any name.png", ""},
    };
    for (const auto& c : sets) {
        const std::string expected = *c.problem ? Concat({"--set ", c.line, ": ", c.problem}) : "";
        EXPECT_EQ(SetProblem(c.line), expected);
    }

    // Every bad cell of the table, in order, each with its line and column.
    EXPECT_EQ(TableProblems("name\tCoastLevel\tGroundAutoCreate\tOverSampling\n"
                            "good\t40\tTrue\t3\n"
                            "bad\tbanana\tyes\t\n"
                            "worse\t\t\t0\n"),
              (std::vector<std::string>{
                  "line 3, column CoastLevel: 'banana' is not a whole number from 0 to 100",
                  "line 3, column GroundAutoCreate: 'yes' is not True or False",
                  "line 4, column OverSampling: '0' is not a whole number from 1 to 9"}));
    // Many bad cells: the first 20, then how many more.
    std::string many = "name\tCoastLevel\n";
    for (int i = 0; i < 25; ++i)
        many += Concat({"p", std::to_string(i), "\t", std::to_string(101 + i), "\n"});
    const std::vector<std::string> listed = TableProblems(many);
    ASSERT_EQ(listed.size(), 21u);
    EXPECT_EQ(listed.front(),
              "line 2, column CoastLevel: '101' is not a whole number from 0 to 100");
    EXPECT_EQ(listed.back(), "and 5 more");

    const struct {
        const char* range;
        const char* error;  // empty: accepted
    } seeds[] = {
        {"1..banana",
         "--seeds 1..banana: 'banana' is not a whole number from -2147483647 to "
         "2147483647"},
        {"-2147483648..0",
         "--seeds -2147483648..0: '-2147483648' is not a whole number from "
         "-2147483647 to 2147483647"},
        {"5..3", "--seeds 5..3: the first seed is larger than the last"},
        {"7", "--seeds needs A..B with whole numbers A <= B, not '7'"},
        {"-3..-1", ""},
    };
    for (const auto& c : seeds) {
        BatchTable table;
        std::string error;
        EXPECT_EQ(SeedRangeTable(c.range, table, error), !*c.error) << c.range;
        EXPECT_EQ(error, c.error);
    }

    // Refused before anything renders, with the status of bad input.
    ScratchDir dir;
    dir.Write("p.ORB", "OutputResolutionX 8\r\nOutputResolutionY 4\r\nOutputColorMap c.png\r\n");
    dir.Write("t.tsv", "name\tCoastLevel\nx\tbanana\n");
    for (const char* args : {"p.ORB --set CoastLevel=banana", "p.ORB --batch t.tsv --out-dir o",
                             "p.ORB --seeds 1..x --out-dir o", "p.ORB --seed 12abc"}) {
        const testing::RunResult r = RunRender(args, dir.path());
        EXPECT_EQ(r.status, 2) << args << "\n" << r.output;
        EXPECT_FALSE(fs::exists(dir.path() / "c.png")) << args;
        EXPECT_FALSE(fs::exists(dir.path() / "o")) << args;
    }
}

TEST(SettingsWarnings, LenientFileSaysWhatItChangedAndStrictRefusesIt) {
    ScratchDir dir;
    dir.Write("p.ORB",
              "OutputResolutionX 8\r\nCoastLevel 400\r\nGroundXWarp abc\r\n"
              "GroundMixtureMode add\r\nCloudAutoCreate yes\r\nColour 5\r\n"
              "OutputTransparencyMode Alpha\r\nHeightBitDepth 12\r\nRandomSeed 7x\r\n"
              "OverSampling 0\r\nOutputResolutionY 4\r\nOutputColorMap c.png\r\n");
    const std::string file = (dir.path() / "p.ORB").string();
    SettingsModel model;
    const SettingsResult loaded = LoadSettings(model, file);
    ASSERT_TRUE(loaded.ok) << loaded.message;
    const std::vector<std::string> expected = {
        "line 2: CoastLevel 400 is out of range, 100 used",
        "line 3: GroundXWarp 'abc' is not a whole number, 1 used",
        "line 4: GroundMixtureMode 'add' is not Add, Norm or Sub, Add kept",
        "line 5: CloudAutoCreate 'yes' is not True or False, False used",
        "line 6: 'Colour' is not a settings key, line ignored",
        "line 7: OutputTransparencyMode 'Alpha' is not TransparencyMap or AlphaMap, AlphaMap used",
        "line 8: HeightBitDepth '12' is not 8 or 16, 8 used",
        "line 9: RandomSeed '7x' is not a whole number, 0 used",
        "line 10: OverSampling 0 is out of range, 1 used",
    };
    ASSERT_EQ(loaded.warnings.size(), expected.size()) << ::testing::PrintToString(loaded.warnings);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(loaded.warnings[i], Concat({file, " ", expected[i]}));
    }
    // The values are what they always were.
    EXPECT_EQ(model.DeepSeaThr.Position(), 100);
    EXPECT_EQ(model.DeepSizeX.Position(), 1);
    EXPECT_EQ(model.DeepMixture, MixtureButton::Add);
    EXPECT_TRUE(model.forAlphaBlending);
    EXPECT_EQ(model.Seed, "7x");

    // Thirty unknown keys: twenty warnings, then a count.
    std::string junk;
    for (int i = 0; i < 30; ++i) junk += Concat({"Key", std::to_string(i), " 1\n"});
    const SettingsResult many = ApplySettingsText(model, junk, "j.ORB");
    ASSERT_EQ(many.warnings.size(), 21u);
    EXPECT_EQ(many.warnings.back(), "and 10 more");

    testing::RunResult r = RunRender("p.ORB --quiet", dir.path());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("globeforge-render: warning: p.ORB line 2: CoastLevel 400 is out of "
                            "range, 100 used\n"),
              std::string::npos)
        << r.output;
    EXPECT_TRUE(fs::exists(dir.path() / "c.png"));

    fs::remove(dir.path() / "c.png");
    r = RunRender("p.ORB --quiet --strict", dir.path());
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("globeforge-render: p.ORB line 10: OverSampling 0"), std::string::npos);
    EXPECT_NE(r.output.find("--strict"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.path() / "c.png"));
}

TEST(SettingsWarnings, ExampleFilesLoadWithoutAny) {
    size_t examples = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(GLOBEFORGE_SOURCE_DIR) / "examples")) {
        if (entry.path().extension() != ".ORB") continue;
        ++examples;
        SettingsModel model;
        const SettingsResult loaded = LoadSettings(model, entry.path().string());
        EXPECT_TRUE(loaded.ok) << entry.path();
        EXPECT_TRUE(loaded.warnings.empty()) << ::testing::PrintToString(loaded.warnings);
    }
    EXPECT_GE(examples, 4u);
}

}  // namespace
}  // namespace globeforge
