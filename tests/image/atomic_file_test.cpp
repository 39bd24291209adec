#include "image/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "image_test_util.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(WriteFileAtomically, ReplacesWholeFilesKeepingModeAndLinks) {
    testing::TempDir dir;
    const std::string file = dir / "a.dat";
    ASSERT_TRUE(WriteFileAtomically(file, Text("first version")));
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0666 & ~mask));
    fs::permissions(file, fs::perms(0640));
    ASSERT_TRUE(WriteFileAtomically(file, Text("second")));
    EXPECT_EQ(ReadBytes(file), Text("second"));  // nothing of the longer old file is left
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
    fs::create_symlink("a.dat", dir / "link");
    ASSERT_TRUE(WriteFileAtomically(dir / "link", Text("through the link")));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(ReadBytes(file), Text("through the link"));
    EXPECT_EQ(dir.Count(), 2u);  // no temporary file left behind
}

TEST(WriteFileAtomically, FailuresLeaveTheOldFileAndNoTemporary) {
    testing::TempDir dir;
    fs::create_directory(dir / "folder");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir / "folder", Text("x"), &error));
    EXPECT_EQ(error, "cannot replace file: Is a directory");
    EXPECT_FALSE(WriteFileAtomically(dir / "missing/x", Text("x"), &error));
    EXPECT_EQ(error, "cannot create file: No such file or directory");
    EXPECT_EQ(dir.Count(), 1u);

    // A write that fails half-way, as on a full disk: here the file size limit stops it.
    const std::string file = dir / "old.dat";
    testing::WriteBytes(file, Text("old content"));
    const std::optional<bool> stopped = testing::RunInChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::string reason;
            return !WriteFileAtomically(file, std::vector<uint8_t>(100000, 7), &reason) &&
                   reason == "cannot write file: File too large";
        },
        false);
    EXPECT_EQ(stopped, std::optional<bool>(true));
    EXPECT_EQ(ReadBytes(file), Text("old content"));
    EXPECT_EQ(dir.Count(), 2u);
}

TEST(WriteFileAtomically, PiecesInOrderAndAProducerThatGivesUpLeavesNothing) {
    testing::TempDir dir;
    const std::string file = dir / "a.dat";
    const auto pieces = [](const ByteSink& sink) {
        return sink(Text("one ")) && sink(Text("")) && sink(Text("two"));
    };
    ASSERT_TRUE(WriteFileAtomically(file, pieces));
    EXPECT_EQ(ReadBytes(file), Text("one two"));

    std::string error = "untouched";
    const auto givesUp = [](const ByteSink& sink) { return sink(Text("half")) && false; };
    EXPECT_FALSE(WriteFileAtomically(file, givesUp, &error));
    EXPECT_EQ(error, "untouched");  // the producer's own reason stands
    const auto throws = [](const ByteSink& sink) -> bool {
        sink(Text("half"));
        throw std::runtime_error("out of memory");
    };
    EXPECT_THROW(WriteFileAtomically(file, throws), std::runtime_error);
    EXPECT_EQ(ReadBytes(file), Text("one two"));
    EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace globeforge
