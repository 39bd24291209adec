#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <map>

#include "cli/batch_index.h"
#include "cli/batch_table.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::RunRender;
using testing::ScratchDir;
using testing::ShellQuote;

// An index with the timings taken out: the one part that differs between two runs.
std::string WithoutSeconds(const std::string& json) {
    const std::string key = "\"seconds\": ";
    std::string out;
    size_t at = 0;
    for (size_t found; (found = json.find(key, at)) != std::string::npos;) {
        size_t end = found + key.size();
        while (end < json.size() &&
               (std::isdigit(static_cast<unsigned char>(json[end])) || json[end] == '.')) {
            ++end;
        }
        out.append(json, at, found - at);
        at = end;
    }
    return out.append(json, at);
}

// Small planets with craters and clouds, two maps that carry their settings and one that
// cannot (BMP).
const char* kBase =
    "GroundAutoCreate True\r\nCloudAutoCreate True\r\nCoastLevel 40\r\nNumberOfCraters 4\r\n"
    "OutputResolutionX 64\r\nOutputResolutionY 32\r\n"
    "OutputColorMap color.png\r\nOutputBumpMap maps/bump.png\r\nOutputSpeculerMap spec.bmp\r\n";

// Names a file system allows but pages, JSON and shells must be careful with.
const char* kTable =
    "name\tRandomSeed\tCoastLevel\tGroundColorHigh\n"
    "mars\t1\t\t\n"
    "\"venus\" <&> 'x'\t2\t60\t$00336699\n"
    "earth #2 ?50%\t3\t\t\n"
    "io\t4\t10\t\n"
    "\n"
    "ceres\t5\n";

std::vector<std::string> Names(const BatchTable& table) {
    std::vector<std::string> names;
    for (const BatchRow& row : table.rows) names.push_back(row.name);
    return names;
}

// Every file below root but the index and the run records, by relative path.
std::map<std::string, std::string> Snapshot(const ScratchDir& dir, const std::string& sub) {
    std::map<std::string, std::string> files;
    const fs::path root = dir.path() / sub;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(entry.path(), root).string();
        if (!entry.is_regular_file() || rel.rfind(".batch", 0) == 0 || rel.rfind("index.", 0) == 0)
            continue;
        files[rel] = dir.Read(sub + "/" + rel);
    }
    return files;
}

std::string RunBatch(const ScratchDir& dir, const std::string& args) {
    const testing::RunResult r = RunRender(args + " --quiet", dir.path());
    return std::to_string(r.status) + "\n" + r.output;
}

TEST(BatchTable, ReadsRowsAndRefusesEveryBadCellByLineAndColumn) {
    BatchTable table;
    std::vector<std::string> errors;
    ASSERT_TRUE(ReadBatchTable(kTable, table, errors)) << ::testing::PrintToString(errors);
    EXPECT_EQ(table.keys,
              (std::vector<std::string>{"RandomSeed", "CoastLevel", "GroundColorHigh"}));
    EXPECT_EQ(Names(table), (std::vector<std::string>{"mars", "\"venus\" <&> 'x'", "earth #2 ?50%",
                                                      "io", "ceres"}));
    EXPECT_EQ(table.rows[1].cells.size(), 3u);
    EXPECT_EQ(table.rows[4].line, 7u);  // the empty line is skipped, not renumbered

    SettingsModel base;
    std::vector<BatchPlanet> planets;
    ASSERT_TRUE(CheckBatchTable(base, table, planets, errors)) << ::testing::PrintToString(errors);
    EXPECT_EQ(planets[1].settings.DeepSeaThr.Position(), 60);
    EXPECT_EQ(planets[1].settings.DeepColor1, 0x00336699u);
    EXPECT_EQ(planets[0].settings.DeepSeaThr.Position(), 0);  // empty cell: the base value

    // Header problems, then row problems; each message names where.
    const std::pair<std::string, std::string> bad[] = {
        {"name\tCostLevel\nx\t1\n", "line 1, column 2 (CostLevel)"},
        {"name\tRandomSeed\tRandomSeed\nx\t1\t2\n", "line 1, column 3 (RandomSeed)"},
        {"RandomSeed\n1\n", "no 'name' column"},
        {"name\tRandomSeed\nx\t1\t2\n", "line 2: 3 cells"},
        {"name\tRandomSeed\nx\t1\x01"
         "2\n",
         "line 2, column 2 (RandomSeed)"},
        {"name\tRandomSeed\nx\t" + std::string(5000, '7') + "\n", "longer than"},
        {"", "empty"},
        {"name\n", "no planets"},
    };
    for (const auto& [text, where] : bad) {
        EXPECT_FALSE(ReadBatchTable(text, table, errors)) << text;
        ASSERT_FALSE(errors.empty());
        EXPECT_NE(errors.front().find(where), std::string::npos) << errors.front();
    }
    // Thousands of unknown columns stop at a bounded number of messages.
    std::string wide = "name";
    for (int i = 0; i < 5000; ++i) wide += "\tk" + std::to_string(i);
    EXPECT_FALSE(ReadBatchTable(wide + "\nx\n", table, errors));
    EXPECT_LE(errors.size(), 51u);

    // Values and names, checked against the settings they make.
    const std::pair<std::string, std::string> badRows[] = {
        {"name\tGroundColorHigh\nok\t$ff\nbad\tred\n", "line 3, column GroundColorHigh"},
        {"name\tOutputResolutionX\nbad\t0\n", "line 2, column OutputResolutionX"},
        {"name\tOutputColorMap\nbad\t../../escape.png\n", "line 2, column OutputColorMap"},
        {"name\tOutputColorMap\nbad\t/tmp/escape.png\n", "line 2, column OutputColorMap"},
        {"name\tOutputBumpMap\nbad\tbad.ORB\n", "line 2, column OutputBumpMap"},
        {"name\n../up\n", "line 2, column name"},
        {"name\na/b\n", "slash"},
        {"name\n.hidden\n", "dot"},
        {"name\tRandomSeed\n\t1\n", "empty"},
        {"name\nindex.html\n", "kept"},
        {"name\n" + std::string(101, 'n') + "\n", "longer"},
        {"name\nMars\nmars\n", "line 3, column name: the name 'mars' is used twice"},
    };
    for (const auto& [text, where] : badRows) {
        ASSERT_TRUE(ReadBatchTable(text, table, errors)) << text;
        EXPECT_FALSE(CheckBatchTable(base, table, planets, errors)) << text;
        ASSERT_FALSE(errors.empty()) << text;
        EXPECT_NE(errors.front().find(where), std::string::npos) << errors.front();
        EXPECT_TRUE(planets.empty());
    }

    std::string error;
    ASSERT_TRUE(SeedRangeTable("-1..2", table, error));
    EXPECT_EQ(Names(table), (std::vector<std::string>{"seed--1", "seed-0", "seed-1", "seed-2"}));
    for (const char* range : {"3..1", "1-2", "..2", "1..x", "0..99999999"}) {
        EXPECT_FALSE(SeedRangeTable(range, table, error)) << range;
    }
}

TEST(BatchIndex, EscapesNamesForJsonPagesAndLinks) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01<&>"), "\"a\\\"b\\\\c\\n\\u0001\\u003c\\u0026\\u003e\"");
    EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(UrlPath("earth #2 ?50%/c\xc3\xa9.png"), "earth%20%232%20%3F50%25/c%C3%A9.png");
}

// One table from start to finish: folders and index, a run that skips everything, a deleted
// map that brings back only its planet, and a planet that fails while the others finish.
TEST(BatchRun, RendersResumesAndReportsEachPlanet) {
    ScratchDir dir;
    dir.Write("base.ORB", kBase);
    dir.Write("planets.tsv", kTable);
    const std::string args = "--batch planets.tsv base.ORB --out-dir out";

    std::string r = RunBatch(dir, args + " --jobs 2");
    ASSERT_EQ(r.substr(0, 2), "0\n") << r;
    EXPECT_NE(r.find("5 rendered, 0 already done, 0 failed"), std::string::npos) << r;
    for (const std::string name : {"mars", "\"venus\" <&> 'x'", "earth #2 ?50%", "io", "ceres"}) {
        for (const std::string& file : {std::string("color.png"), std::string("maps/bump.png"),
                                        std::string("spec.bmp"), name + ".ORB"}) {
            EXPECT_TRUE(fs::is_regular_file(dir.path() / "out" / name / file)) << name << file;
        }
        EXPECT_TRUE(fs::is_regular_file(dir.path() / "out/thumbnails" / (name + ".png")));
    }
    // The settings file beside the maps renders the same planet alone.
    EXPECT_NE(dir.Read("out/io/io.ORB").find("CoastLevel 10\r\n"), std::string::npos);
    const std::string json = dir.Read("out/index.json");
    EXPECT_NE(json.find("\"name\": \"\\\"venus\\\" \\u003c\\u0026\\u003e 'x'\""), std::string::npos)
        << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 1 + 5 * 3);
    EXPECT_EQ(json.find("\"status\": \"missing\""), std::string::npos);
    EXPECT_EQ(json.find("\"status\": \"failed\""), std::string::npos);
    const std::string html = dir.Read("out/index.html");
    EXPECT_NE(html.find("data-name=\"&quot;venus&quot; &lt;&amp;&gt; &#39;x&#39;\""),
              std::string::npos);
    EXPECT_NE(html.find("src=\"thumbnails/earth%20%232%20%3F50%25.png\""), std::string::npos);
    EXPECT_EQ(html.find("http"), std::string::npos) << "the page loads nothing from the network";

    const auto before = Snapshot(dir, "out");
    r = RunBatch(dir, args);
    EXPECT_NE(r.find("0 rendered, 5 already done"), std::string::npos) << r;
    EXPECT_EQ(Snapshot(dir, "out"), before);

    fs::remove(dir.path() / "out/io/spec.bmp");  // a BMP: only its existence tells
    fs::remove(dir.path() / "out/mars/maps/bump.png");
    r = RunBatch(dir, args);
    EXPECT_NE(r.find("2 rendered, 3 already done"), std::string::npos) << r;
    EXPECT_EQ(Snapshot(dir, "out"), before);

    // A map made by other settings is not this planet.
    fs::copy_file(dir.path() / "out/io/color.png", dir.path() / "out/ceres/color.png",
                  fs::copy_options::overwrite_existing);
    r = RunBatch(dir, args + " --shard 4/5");
    EXPECT_NE(r.find("1 rendered, 0 already done"), std::string::npos) << r;
    EXPECT_EQ(Snapshot(dir, "out"), before);

    // A planet whose map folder cannot be made fails; the others still render.
    fs::remove_all(dir.path() / "out");
    fs::create_directories(dir.path() / "out/io");
    dir.Write("out/io/maps", "a file where a folder must go");
    r = RunBatch(dir, args);
    EXPECT_EQ(r.substr(0, 2), "1\n") << r;
    EXPECT_NE(r.find("io: FAILED: cannot create folder"), std::string::npos) << r;
    EXPECT_NE(r.find("4 rendered, 0 already done, 1 failed"), std::string::npos) << r;
    EXPECT_NE(dir.Read("out/index.json").find("\"status\": \"failed\""), std::string::npos);
    EXPECT_EQ(dir.Read("out/io/maps"), "a file where a folder must go");
}

TEST(BatchRun, ShardsAndJobsTogetherGiveTheUnshardedBytes) {
    ScratchDir dir;
    dir.Write("base.ORB", kBase);
    dir.Write("planets.tsv", kTable);
    ASSERT_EQ(RunBatch(dir, "--batch planets.tsv base.ORB --out-dir whole --jobs 1").substr(0, 2),
              "0\n");
    // Each shard is done when its own planets are; the index lists the others as missing.
    for (const char* shard : {"0/3", "1/3"}) {
        EXPECT_EQ(
            RunBatch(dir,
                     std::string("--batch planets.tsv base.ORB --out-dir parts --shard ") + shard)
                .substr(0, 2),
            "0\n");
    }
    EXPECT_NE(dir.Read("parts/index.json").find("\"status\": \"missing\""), std::string::npos);
    const std::string last =
        RunBatch(dir, "--batch planets.tsv base.ORB --out-dir parts --shard 2/3 --jobs 2");
    EXPECT_EQ(last.substr(0, 2), "0\n") << last;
    EXPECT_EQ(Snapshot(dir, "parts"), Snapshot(dir, "whole"));
    // The index of the last shard lists every planet; only the seconds differ.
    EXPECT_EQ(WithoutSeconds(dir.Read("parts/index.json")),
              WithoutSeconds(dir.Read("whole/index.json")));

    const std::string seeds = RunBatch(dir, "--seeds 7..9 base.ORB --out-dir seeds --jobs 2");
    EXPECT_EQ(seeds.substr(0, 2), "0\n") << seeds;
    EXPECT_NE(dir.Read("seeds/seed-8/seed-8.ORB").find("RandomSeed 8\r\n"), std::string::npos);
}

// Nothing renders when any cell is bad, and no table writes outside the output folder.
TEST(BatchRun, BadTablesRenderNothingAndStayInsideTheFolder) {
    ScratchDir dir;
    dir.Write("base.ORB", kBase);
    fs::create_directories(dir.path() / "work");
    const std::pair<std::string, std::string> tables[] = {
        {"name\tGroundColorHigh\nok\t$ff\nbad\tred\n", "line 3, column GroundColorHigh"},
        {"name\n../escape\n", "line 2, column name"},
        {"name\tOutputColorMap\nx\t../../escape.png\n", "line 2, column OutputColorMap"},
        {"name\tOutputSpeculerMap\nx\tmaps/../../../escape.bmp\n", "OutputSpeculerMap"},
        {"name\tOutputColorMap\nx\t" + (dir.path() / "escape.png").string() + "\n",
         "OutputColorMap"},
    };
    for (const auto& [table, where] : tables) {
        dir.Write("work/t.tsv", table);
        const std::string r = RunBatch(dir, "--batch work/t.tsv base.ORB --out-dir work/out");
        EXPECT_EQ(r.substr(0, 2), "2\n") << r;
        EXPECT_NE(r.find(where), std::string::npos) << r;
        EXPECT_NE(r.find("nothing was rendered"), std::string::npos) << r;
        EXPECT_FALSE(fs::exists(dir.path() / "work/out"));
    }
    EXPECT_EQ(dir.Count(), 2u) << "only base.ORB and work/";
    EXPECT_EQ(dir.Count("work"), 1u);

    // Options that make no sense for a batch.
    for (const char* args : {"--batch t.tsv base.ORB", "base.ORB --shard 0/2",
                             "--seeds 1..2 base.ORB --out-dir o "
                             "--shard 2/2",
                             "--seeds 1..2 --batch t.tsv base.ORB --out-dir o",
                             "--seeds 1..2 base.ORB --out-dir o "
                             "--jobs 0"}) {
        EXPECT_EQ(RunBatch(dir, args).substr(0, 2), "2\n") << args;
    }
}

TEST(BatchRun, InterruptRemovesThePlanetInProgressAndTheNextRunFinishes) {
    ScratchDir dir;
    dir.Write("base.ORB",
              "GroundAutoCreate True\r\nCloudAutoCreate True\r\nNumberOfCraters 40\r\n"
              "OutputResolutionX 160\r\nOutputResolutionY 80\r\nOverSampling 2\r\n"
              "OutputColorMap color.png\r\nOutputCloudColorMap clouds.png\r\n");
    const std::string args = "--seeds 1..3 base.ORB --out-dir out";
    // The first planet's summary line is the moment: the second is then under way.
    const std::string command = "cd " + ShellQuote(dir.path().string()) + " && (" +
                                ShellQuote(GLOBEFORGE_RENDER_EXE) + " " + args +
                                " --threads 1 2>&1 & pid=$!; "
                                "while ! [ -e out/.batch/seed-1.status ]; do sleep 0.05; done; "
                                "kill -INT $pid; wait $pid; echo status=$?)";
    const std::string output = testing::RunShell(command).output;
    EXPECT_NE(output.find("status=1"), std::string::npos) << output;
    EXPECT_NE(output.find("(stopped)"), std::string::npos) << output;
    // Every planet folder left is a whole planet.
    for (const auto& entry : fs::directory_iterator(dir.path() / "out")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("seed-", 0) != 0) continue;
        EXPECT_TRUE(fs::exists(entry.path() / (name + ".ORB"))) << name;
        EXPECT_TRUE(fs::exists(entry.path() / "clouds.png")) << name;
    }
    const std::string again = RunBatch(dir, args);
    EXPECT_EQ(again.substr(0, 2), "0\n") << again;
    EXPECT_EQ(again.find("0 rendered"), std::string::npos) << again;
}

// The gallery in a real browser: every thumbnail decodes.
TEST(BatchRun, GalleryThumbnailsDecodeInChromium) {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "chromium is not installed (scripts/bootstrap --batch-tests installs it)";
    }
    ScratchDir dir;
    dir.Write("base.ORB", kBase);
    dir.Write("planets.tsv", kTable);
    ASSERT_EQ(RunBatch(dir, "--batch planets.tsv base.ORB --out-dir out").substr(0, 2), "0\n");
    // The page as it is, plus a script that reports each image's decoded width once all
    // have loaded.
    dir.Write("out/check.html",
              dir.Read("out/index.html") +
                  "<script>window.addEventListener('load', function () {"
                  " var w = Array.prototype.map.call(document.images, function (i) {"
                  " return i.complete ? i.naturalWidth : -1; });"
                  " var p = document.createElement('pre'); p.id = 'decoded';"
                  " p.textContent = 'decoded:' + w.join(',') + ':end';"
                  " document.body.appendChild(p); });</script>\n");
    fs::create_directories(dir.path() / "profile");
    const std::string command =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --user-data-dir=" +
        ShellQuote((dir.path() / "profile").string()) + " --virtual-time-budget=5000 --dump-dom " +
        ShellQuote("file://" + (dir.path() / "out/check.html").string()) + " 2>/dev/null";
    const std::string dom = testing::RunShell(command).output;
    // The page's own script holds the marker too; the written one is digits and commas.
    std::string decoded;
    bool found = false;
    for (size_t at = 0; !found && (at = dom.find("decoded:", at)) != std::string::npos; ++at) {
        const size_t end = dom.find(":end", at);
        decoded = dom.substr(at + 8, end == std::string::npos ? 0 : end - at - 8);
        found = end != std::string::npos &&
                decoded.find_first_not_of("-0123456789,") == std::string::npos;
    }
    ASSERT_TRUE(found) << dom;
    EXPECT_EQ(decoded, "160,160,160,160,160") << "every thumbnail decoded";
    // Sorting by name is a click away.
    EXPECT_NE(dom.find("id=\"sort\""), std::string::npos);
}

}  // namespace
}  // namespace globeforge
