// Saving never destroys what was there: a read-only folder, a file-size limit, a full disk or
// an interrupted render leave every existing map, settings and preferences file as it was,
// and no temporary file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "output/save_maps.h"
#include "render/render_planet.h"
#include "settings/gather_render_params.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::RunInChild;
using testing::RunRender;
using testing::ScratchDir;

// Maps of a finished render, small enough to write quickly, large enough to beat the limits.
RenderParams FinishedRender(const std::string& folder) {
    RenderParams params;
    params.OutputColorMap = folder + "/color.bmp";
    params.OutputBumpMap = folder + "/bump.png";
    params.ColorMapImage = NewFilledImage(64, 32, FloatPixel{10, 20, 30, 255});
    params.BumpMapImage = NewFilledImage(64, 32, FloatPixel{90, 90, 90, 255});
    return params;
}

// What a folder holds before a failed save, and the check that it still does.
struct OldFiles {
    explicit OldFiles(const ScratchDir& d, const std::string& sub) : dir(d), folder(sub) {
        dir.Write(folder + "/color.bmp", "an earlier colour map");
        dir.Write(folder + "/p.ORB", "CoastLevel 40\r\n");
        // Longer than the new file would be, so a truncating writer would show.
        dir.Write(folder + "/prefs.INI",
                  "; kept by hand\r\n[Orbgen]\r\nJPEGQuality=75\r\n[Other]\r\n" +
                      std::string(2000, 'x') + "=1\r\n");
        for (const char* name : {"color.bmp", "p.ORB", "prefs.INI"}) {
            fs::permissions(dir / (folder + "/" + name), fs::perms(0666));
        }
        before = {dir.Read(folder + "/color.bmp"), dir.Read(folder + "/p.ORB"),
                  dir.Read(folder + "/prefs.INI")};
    }
    void ExpectUnchanged() const {
        EXPECT_EQ(dir.Read(folder + "/color.bmp"), before[0]);
        EXPECT_EQ(dir.Read(folder + "/p.ORB"), before[1]);
        EXPECT_EQ(dir.Read(folder + "/prefs.INI"), before[2]);
        EXPECT_EQ(dir.Count(folder), 3u) << "no new file and no temporary";
    }
    std::string Path(const std::string& name) const { return dir / (folder + "/" + name); }
    std::string Folder() const { return dir / folder; }

    const ScratchDir& dir;
    std::string folder;
    std::vector<std::string> before;
};

bool Contains(const std::string& text, const std::string& part) {
    const bool found = text.find(part) != std::string::npos;
    if (!found) std::fprintf(stderr, "'%s' does not mention '%s'\n", text.c_str(), part.c_str());
    return found;
}

// Every writer of the program refuses cleanly and says why.
bool EveryWriterFails(const OldFiles& old, const std::string& why) {
    std::string failedName, reason;
    const bool mapsFailed = !SaveRenderMaps(FinishedRender(old.Folder()), &failedName, &reason) &&
                            failedName == old.Path("color.bmp") && Contains(reason, why);
    SettingsModel model;
    const SettingsResult settings = SaveSettings(model, old.Path("p.ORB"));
    const SettingsResult prefs = WriteJpegQualityPreference(old.Path("prefs.INI"), 50);
    return mapsFailed && !settings.ok && Contains(settings.message, why) && !prefs.ok &&
           Contains(prefs.message, why);
}

TEST(NothingLost, ReadOnlyFolderKeepsEveryFile) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "locked");
    const OldFiles old(dir, "locked");
    dir.Write("p.ORB",
              "GroundAutoCreate True\r\nOutputResolutionX 8\r\nOutputResolutionY 4\r\n"
              "OutputColorMap color.bmp\r\nOutputBumpMap bump.png\r\n");
    // The files themselves may be written; the folder may not, so no temporary can be made.
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(dir.path() / "locked", fs::perms(0555));

    const std::optional<bool> refused = RunInChild(
        [&] {
            const testing::RunResult r = RunRender("p.ORB --quiet --out-dir locked", dir.path());
            return EveryWriterFails(old, "Permission denied") && r.status == 1 &&
                   Contains(r.output, "color.bmp") && Contains(r.output, "Permission denied");
        },
        true);
    ASSERT_TRUE(refused.has_value()) << "could not become an unprivileged user";
    EXPECT_TRUE(*refused);
    old.ExpectUnchanged();
}

// Runs every writer and a render into old's folder under a 512-byte file-size limit: settings
// (about 900 bytes), preferences (about 2 KB) and maps (6 KB) each outgrow it.
bool FailsUnderAFileSizeLimit(const ScratchDir& dir, const OldFiles& old) {
    const std::optional<bool> refused = RunInChild(
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
            const rlimit limit{512, 512};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
            // The limit and the ignored signal carry over to the program.
            const testing::RunResult r =
                RunRender("p.ORB --quiet --out-dir " + old.folder, dir.path());
            return EveryWriterFails(old, "File too large") && r.status == 1 &&
                   Contains(r.output, "File too large");
        },
        false);
    return refused.value_or(false);
}

TEST(NothingLost, WritesCutShortByAFileSizeLimitKeepEveryFile) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "maps");
    const OldFiles old(dir, "maps");
    dir.Write("p.ORB",
              "GroundAutoCreate True\r\nOutputResolutionX 64\r\nOutputResolutionY 32\r\n"
              "OutputColorMap color.bmp\r\n");

    EXPECT_TRUE(FailsUnderAFileSizeLimit(dir, old));
    old.ExpectUnchanged();
}

// Fills the file system of folder until a write fails for lack of space.
bool FillUp(const std::string& folder) {
    const int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    const bool full = errno == ENOSPC;
    close(fd);
    return full;
}

TEST(NothingLost, FullDiskKeepsEveryFile) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "disk");
    dir.Write("p.ORB",
              "GroundAutoCreate True\r\nOutputResolutionX 64\r\nOutputResolutionY 32\r\n"
              "OutputColorMap color.bmp\r\n");
    const std::string disk = dir / "disk";

    // A tiny file system of its own, mounted in a private mount namespace of a child, so it
    // vanishes with the child whatever happens. Needs the right to mount.
    const std::optional<bool> refused = RunInChild(
        [&] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
                _exit(3);
            }
            const OldFiles old(dir, "disk");
            if (!FillUp(disk)) return false;
            const testing::RunResult r = RunRender("p.ORB --quiet --out-dir disk", dir.path());
            const bool ok = EveryWriterFails(old, "No space left on device") && r.status == 1 &&
                            Contains(r.output, "No space left on device");
            std::remove((disk + "/filler").c_str());
            // Checked inside: the file system goes away with this process.
            old.ExpectUnchanged();
            return ok && !::testing::Test::HasFailure();
        },
        false);
    if (refused) {
        EXPECT_TRUE(*refused);
        return;
    }
    // No right to mount: a write that runs out of room is modelled by a file-size limit,
    // which fails the same writes at the same points.
    std::fprintf(stderr, "no small file system could be mounted; using a file-size limit\n");
    const OldFiles old(dir, "disk");
    EXPECT_TRUE(FailsUnderAFileSizeLimit(dir, old));
    old.ExpectUnchanged();
}

// AddressSanitizer reserves terabytes of address space for itself: no limit leaves a render
// room to run there, so these runs belong to the other builds.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GLOBEFORGE_TEST_ASAN 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(GLOBEFORGE_TEST_ASAN)
// A render under an address-space limit too small for it: refused before any work when the
// limit is below what its size needs, else ended when a buffer cannot be had. Either way it
// says so and exits with a status, and the map that was there stays.
TEST(NothingLost, TooLittleAddressSpaceEndsWithAMessage) {
    ScratchDir dir;
    const std::string settings =
        "GroundAutoCreate True\r\nCloudAutoCreate True\r\nNumberOfCraters 40\r\n"
        "OutputResolutionX 512\r\nOutputResolutionY 256\r\nOverSampling 2\r\n"
        "OutputColorMap color.bmp\r\nOutputCloudColorMap clouds.png\r\n";
    dir.Write("p.ORB", settings);
    dir.Write("color.bmp", "an earlier colour map");
    SettingsModel model;
    ASSERT_TRUE(LoadSettings(model, dir / "p.ORB").ok);
    const double peak = EstimateRenderFootprint(GatherRenderParams(model)).peakBytes;
    // Below the estimate; then just above it, where the program, its threads and encoders
    // need more than the images alone and a buffer or a thread's stack cannot be had (which
    // one depends on the limit: every step must end well).
    struct Case {
        double bytes;
        int status;
        std::string message;
    };
    std::vector<Case> cases = {{peak - 1e6, 2, "address-space limit"}};
    for (double more = 1e6; more < 22e6; more += 3e6) {
        cases.push_back({peak + more, 1, "render failed: "});
    }
    for (const auto& [bytes, status, message] : cases) {
        SCOPED_TRACE(message);
        testing::RunResult r;
        const std::optional<bool> ran = RunInChild(
            [&, limit = static_cast<rlim_t>(bytes)] {
                const rlimit as{limit, limit};
                if (setrlimit(RLIMIT_AS, &as) != 0) return false;
                r = RunRender("p.ORB --quiet --threads 2", dir.path());
                return r.status == status && Contains(r.output, message);
            },
            false);
        EXPECT_EQ(ran, std::optional<bool>(true));
        EXPECT_EQ(dir.Read("color.bmp"), "an earlier colour map");
        EXPECT_EQ(dir.Count(), 2u) << "no map and no temporary";
    }
}
#endif

// A map or settings file named after a device or a pipe (say /dev/null) must not replace it.
TEST(NothingLost, DevicesAndPipesAreNeverReplaced) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
    // A null device of the scratch folder's own stands in for /dev/null (only root may make
    // one; others test the pipe alone).
    const bool device = mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    fs::create_symlink("pipe", dir.path() / "link");
    std::vector<std::string> specials = {"pipe", "link"};
    if (device) specials.push_back("null");

    for (const std::string& name : specials) {
        SCOPED_TRACE(name);
        const std::string path = dir / name;
        const std::optional<FloatImage> map = NewFilledImage(4, 2, FloatPixel{1, 2, 3, 255});
        std::string reason;
        EXPECT_FALSE(SaveImageFile(*map, path, &reason));
        EXPECT_EQ(reason, "cannot replace file: not a regular file");
        const SettingsResult settings = SaveSettings(SettingsModel{}, path);
        EXPECT_FALSE(settings.ok);
        EXPECT_NE(settings.message.find("not a regular file"), std::string::npos);
        EXPECT_FALSE(WriteJpegQualityPreference(path, 50).ok);

        dir.Write("p.ORB",
                  "OutputResolutionX 4\r\nOutputResolutionY 2\r\nOutputColorMap " + name + "\r\n");
        const testing::RunResult r = RunRender("p.ORB --quiet", dir.path());
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("not a regular file"), std::string::npos) << r.output;
        EXPECT_EQ(RunRender("p.ORB --quiet --write-settings " + name, dir.path()).status, 1);
    }
    EXPECT_TRUE(fs::is_fifo(dir.path() / "pipe"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link"));
    if (device) {
        EXPECT_TRUE(fs::is_character_file(dir.path() / "null"));
    }
    EXPECT_EQ(dir.Count(), specials.size() + 1) << "no temporary left";
}

// Starts globeforge-render in folder, waits for its first progress line, sends sig and
// returns the exit status (-1 when it did not exit by itself) and everything it printed.
testing::RunResult InterruptRender(const std::string& folder, const std::string& settings,
                                   int sig) {
    testing::RunResult r;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return r;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {  // never let a failed fork turn into kill(-1, sig)
        close(pipeFds[0]);
        close(pipeFds[1]);
        return r;
    }
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (chdir(folder.c_str()) != 0) _exit(127);
        execl(GLOBEFORGE_RENDER_EXE, "globeforge-render", settings.c_str(), nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    bool sent = false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        r.output.append(buffer, static_cast<size_t>(n));
        // The first line is the render's start: its handlers are in place by then.
        if (!sent && r.output.find('\n') != std::string::npos) {
            kill(pid, sig);
            sent = true;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(NothingLost, InterruptedRenderWritesNoMap) {
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        ScratchDir dir;
        // Large enough to be running still when the signal comes.
        dir.Write("big.ORB",
                  "GroundAutoCreate True\r\nCloudAutoCreate True\r\nNumberOfCraters 100\r\n"
                  "OutputResolutionX 512\r\nOutputResolutionY 256\r\nOverSampling 2\r\n"
                  "OutputColorMap color.bmp\r\nOutputCloudColorMap clouds.png\r\n");
        dir.Write("color.bmp", "an earlier colour map");

        const testing::RunResult r = InterruptRender(dir.path().string(), "big.ORB", sig);
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("render aborted"), std::string::npos) << r.output;
        EXPECT_EQ(dir.Read("color.bmp"), "an earlier colour map");
        EXPECT_FALSE(fs::exists(dir.path() / "clouds.png"));
        EXPECT_EQ(dir.Count(), 2u) << "no temporary left";
    }
}

}  // namespace
}  // namespace globeforge
