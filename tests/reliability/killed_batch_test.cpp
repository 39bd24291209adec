// A batch of forty planets killed with SIGKILL at thirty moments, cut short by a file-size
// limit, and left with a folder that became read-only, each time started again: in the end
// the folder holds what one uninterrupted run writes, and never a temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "image/image_files.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;
using Clock = std::chrono::steady_clock;

constexpr int kPlanets = 40;
const std::vector<std::string> kMaps = {"color.png", "clouds.png", "bump.bmp"};

std::vector<std::string> BatchArgs(const std::string& out, int jobs,
                                   const std::string& shard = "0/1") {
    return {"--seeds",  "1.." + std::to_string(kPlanets),
            "base.ORB", "--out-dir",
            out,        "--quiet",
            "--jobs",   std::to_string(jobs),
            "--shard",  shard};
}

// Starts globeforge-render in cwd, its output appended to log; setup runs in the child first.
pid_t Start(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& log,
            const std::function<void()>& setup = {}) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    if (setup) setup();
    std::vector<char*> argv{const_cast<char*>("globeforge-render")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(GLOBEFORGE_RENDER_EXE, argv.data());
    _exit(127);
}

// The exit status, or 128 + the signal that ended it.
int Wait(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunToEnd(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& log,
             const std::function<void()>& setup = {}) {
    return Wait(Start(args, cwd, log, setup));
}

// Files created or renamed into place anywhere below a folder, as they happen.
class FolderWatch {
  public:
    struct Event {
        fs::path path;  // relative to the folder
        bool created;   // else renamed into place
    };

    explicit FolderWatch(const fs::path& root) : root_(root), fd_(inotify_init1(IN_CLOEXEC)) {
        Add(root);
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_directory()) Add(entry.path());
        }
    }
    ~FolderWatch() { close(fd_); }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // The next event, or nothing within timeoutMs.
    std::optional<Event> Next(int timeoutMs) {
        while (pending_.empty()) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
            alignas(inotify_event) char buffer[16384];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                if (e->len == 0 || !folders_.count(e->wd)) continue;
                const fs::path path = folders_[e->wd] / e->name;
                if (e->mask & IN_ISDIR) {
                    Add(path);
                } else {
                    pending_.push_back(
                        {path.lexically_relative(root_), (e->mask & IN_CREATE) != 0});
                }
            }
        }
        const Event e = pending_.front();
        pending_.erase(pending_.begin());
        return e;
    }

  private:
    void Add(const fs::path& folder) {
        const int wd = inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO);
        if (wd >= 0) folders_[wd] = folder;
    }

    fs::path root_;
    int fd_;
    std::map<int, fs::path> folders_;
    std::vector<Event> pending_;
};

bool IsTemporary(const fs::path& path) {
    return path.filename().string().find(".tmp-") != std::string::npos;
}

std::vector<std::string> Temporaries(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (IsTemporary(entry.path())) found.push_back(entry.path().lexically_relative(root));
    }
    return found;
}

// Where a killed run was, read from what it left: the file it was writing (a temporary file
// that was not there before it), else the state of the planets.
std::string PhaseLeft(const fs::path& out, const std::vector<std::string>& before) {
    for (const std::string& temporary : Temporaries(out)) {
        if (std::find(before.begin(), before.end(), temporary) != before.end()) continue;
        if (temporary.rfind("index.", 0) == 0) return "index writing";
        if (temporary.rfind("thumbnails/", 0) == 0) return "thumbnail writing";
        if (temporary.rfind(".batch/", 0) == 0 || temporary.find(".ORB.tmp-") != std::string::npos)
            return "record and settings writing";
        return "map writing";
    }
    int done = 0;
    std::string phase;
    for (int seed = 1; seed <= kPlanets; ++seed) {
        const std::string name = "seed-" + std::to_string(seed);
        const fs::path folder = out / name;
        if (fs::exists(folder / (name + ".ORB"))) {
            ++done;
        } else if (fs::exists(folder)) {
            int maps = 0;
            for (const std::string& map : kMaps) maps += fs::exists(folder / map);
            phase = maps == 0                               ? "rendering"
                    : maps < static_cast<int>(kMaps.size()) ? "map writing"
                    : !fs::exists(out / "thumbnails" / (name + ".png"))
                        ? "thumbnail writing"
                        : "record and settings writing";
        }
    }
    if (done == kPlanets) return "index writing";
    return phase.empty() ? "between planets" : phase;
}

// Kills with SIGKILL at the occurrence-th event that match accepts, delayMs after it.
struct Moment {
    std::function<bool(const FolderWatch::Event&)> match;
    int occurrence;
    int delayMs;
};

// Runs act at the moment; false when the program ended first (or never came to it).
bool AtMoment(pid_t pid, FolderWatch& watch, const Moment& moment,
              const std::function<void()>& act) {
    int seen = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        const std::optional<FolderWatch::Event> e = watch.Next(5);
        if (!e || !moment.match(*e) || ++seen < moment.occurrence) continue;
        if (moment.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(moment.delayMs));
        act();
        return true;
    }
    kill(pid, SIGKILL);
    Wait(pid);
    return false;
}

bool KillAt(pid_t pid, FolderWatch& watch, const Moment& moment) {
    return AtMoment(pid, watch, moment, [pid] { kill(pid, SIGKILL); }) &&
           Wait(pid) == 128 + SIGKILL;
}

std::string Top(const fs::path& p) {
    return p.begin() == p.end() ? std::string() : p.begin()->string();
}

// Thirty moments over the phases of a planet and of the index: a planet's render begins when
// the one before it is recorded; a write, when its temporary file appears.
std::vector<Moment> ThirtyMoments() {
    using Event = FolderWatch::Event;
    const auto writing = [](const Event& e) { return e.created && IsTemporary(e.path); };
    const auto inPlanet = [](const Event& e) { return Top(e.path).rfind("seed-", 0) == 0; };
    const auto settings = [](const Event& e) {
        return e.path.string().find(".ORB.tmp-") != std::string::npos;
    };
    const auto recorded = [](const Event& e) {
        return !e.created && e.path.extension() == ".status";
    };
    const std::vector<Moment> planet = {
        {recorded, 1, 15},
        {[=](const Event& e) { return writing(e) && inPlanet(e) && !settings(e); }, 2, 0},
        {[=](const Event& e) { return writing(e) && Top(e.path) == "thumbnails"; }, 1, 0},
        {[=](const Event& e) { return writing(e) && (Top(e.path) == ".batch" || settings(e)); }, 2,
         0},
        {recorded, 2, 40},
        {[=](const Event& e) { return writing(e) && inPlanet(e); }, 1, 0},
    };
    std::vector<Moment> moments;
    for (size_t i = 0; i < 24; ++i) moments.push_back(planet[i % planet.size()]);
    // The index is written once every planet is done: its temporary files, and the moment
    // between its two files.
    const auto index = [](const std::string& name, bool temporary) {
        return Moment{[=](const Event& e) {
                          return e.path.string().rfind(name, 0) == 0 && e.created == temporary &&
                                 IsTemporary(e.path) == temporary;
                      },
                      1, 0};
    };
    for (int i = 0; i < 2; ++i) {
        moments.push_back(index("index.json", true));
        moments.push_back(index("index.json", false));
        moments.push_back(index("index.html", true));
    }
    return moments;
}

// The timings are the one part of the index that differs between two runs.
std::string WithoutSeconds(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        bool marked = false;
        for (const std::string mark : {"\"seconds\": ", "&middot; "}) {
            if (text.compare(at, mark.size(), mark) != 0) continue;
            out += mark + "S";
            at += mark.size();
            while (at < text.size() &&
                   (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '.')) {
                ++at;
            }
            marked = true;
        }
        if (!marked) out += text[at++];
    }
    return out;
}

bool SamePixels(const fs::path& a, const fs::path& b) {
    FloatImage x, y;
    if (!LoadImageFile(x, a.string()) || !LoadImageFile(y, b.string())) return false;
    if (x.Width != y.Width || x.Height != y.Height) return false;
    for (int32_t row = 0; row < x.Height; ++row) {
        for (int32_t col = 0; col < x.Width; ++col) {
            const FloatPixel p = x.At(col, row), q = y.At(col, row);
            if (p.R != q.R || p.G != q.G || p.B != q.B || p.A != q.A) return false;
        }
    }
    return true;
}

// Every planet folder, thumbnail and the index of out as in the uninterrupted run: maps by
// their pixels (their metadata may differ), the index but for its timings, the rest byte for
// byte. And no temporary file anywhere. With `compared`, only the files it accepts.
void ExpectSameAsOneRun(const fs::path& out, const fs::path& whole,
                        const std::function<bool(const std::string&)>& compared = {}) {
    EXPECT_EQ(Temporaries(out), std::vector<std::string>{});
    std::map<std::string, fs::path> files, expected;
    const auto list = [&](const fs::path& root, std::map<std::string, fs::path>& into) {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string rel = entry.path().lexically_relative(root);
            if (entry.is_regular_file() && rel.rfind(".batch", 0) != 0 &&
                (!compared || compared(rel))) {
                into[rel] = entry.path();
            }
        }
    };
    list(out, files);
    list(whole, expected);
    std::vector<std::string> names, expectedNames;
    for (const auto& [rel, path] : files) names.push_back(rel);
    for (const auto& [rel, path] : expected) expectedNames.push_back(rel);
    ASSERT_EQ(names, expectedNames);
    for (const auto& [rel, path] : files) {
        const std::string ext = path.extension().string();
        if (ext == ".png" || ext == ".bmp") {
            EXPECT_TRUE(SamePixels(path, expected[rel])) << rel;
        } else if (rel.rfind("index.", 0) == 0) {
            EXPECT_EQ(WithoutSeconds(testing::ReadFile(path)),
                      WithoutSeconds(testing::ReadFile(expected[rel])))
                << rel;
        } else {
            EXPECT_EQ(testing::ReadFile(path), testing::ReadFile(expected[rel])) << rel;
        }
    }
}

// One uninterrupted run of the batch, shared by the tests.
class KilledBatch : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir;
        dir_->Write("base.ORB",
                    "GroundAutoCreate True\r\nCloudAutoCreate True\r\nNumberOfCraters 4\r\n"
                    "OutputResolutionX 64\r\nOutputResolutionY 32\r\nOutputColorMap color.png\r\n"
                    "OutputCloudColorMap clouds.png\r\nOutputBumpMap bump.bmp\r\n");
        const auto start = Clock::now();
        wholeStatus_ = RunToEnd(BatchArgs("whole", 1), dir_->path(), dir_->path() / "whole.log");
        wholeSeconds_ = std::chrono::duration<double>(Clock::now() - start).count();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_EQ(wholeStatus_, 0) << dir_->Read("whole.log"); }
    static fs::path Path(const std::string& name) { return dir_->path() / name; }
    static std::string Log(const std::string& name) { return dir_->Read(name + ".log"); }

    static ScratchDir* dir_;
    static int wholeStatus_;
    static double wholeSeconds_;
};

ScratchDir* KilledBatch::dir_ = nullptr;
int KilledBatch::wholeStatus_ = -1;
double KilledBatch::wholeSeconds_ = 0;

TEST_F(KilledBatch, ThirtyKillsLoseNothing) {
    fs::create_directory(Path("killed"));
    std::map<std::string, int> phases;
    const auto start = Clock::now();
    int kills = 0;
    for (const Moment& moment : ThirtyMoments()) {
        // The index is written in a millisecond or two: on a busy machine a run may end before
        // the kill reaches it. Such a run simply finished; the next one writes the index again.
        bool killed = false;
        std::vector<std::string> before;
        for (int attempt = 0; attempt < 8 && !killed; ++attempt) {
            FolderWatch watch(Path("killed"));
            before = Temporaries(Path("killed"));
            // One planet at a time and two at once take turns.
            const pid_t pid =
                Start(BatchArgs("killed", 1 + kills % 2), dir_->path(), Path("killed.log"));
            killed = KillAt(pid, watch, moment);
        }
        ASSERT_TRUE(killed) << "kill " << kills + 1 << " came after the run ended, 8 times\n"
                            << Log("killed");
        ++kills;
        ++phases[PhaseLeft(Path("killed"), before)];
    }
    const int last = RunToEnd(BatchArgs("killed", 2), dir_->path(), Path("killed.log"));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_EQ(last, 0) << Log("killed");
    ExpectSameAsOneRun(Path("killed"), Path("whole"));

    std::printf("%d planets, one run: %.1f s; %d kills and the run that finished: %.1f s\n",
                kPlanets, wholeSeconds_, kills, seconds);
    for (const auto& [phase, count] : phases)
        std::printf("  killed in %s: %d\n", phase.c_str(), count);
}

// Whether a file belongs to a planet whose folder in out holds its settings file.
std::function<bool(const std::string&)> OfDonePlanets(const fs::path& out) {
    return [out](const std::string& rel) {
        const std::string top = Top(rel);
        const std::string name = top == "thumbnails" ? fs::path(rel).stem().string() : top;
        return fs::exists(out / name / (name + ".ORB"));
    };
}

bool Mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Writes cut short part way by a file-size limit: the planets done before stay as they were,
// every other one fails saying why and leaves nothing, and the next run without the limit
// finishes the batch.
TEST_F(KilledBatch, FileSizeLimitFailsCleanlyAndTheNextRunFinishes) {
    const fs::path out = Path("limited");
    ASSERT_EQ(RunToEnd(BatchArgs("limited", 1, "0/4"), dir_->path(), Path("limited-0.log")), 0);
    // 4 KB: the cloud map fits, the colour map, the thumbnail and the index do not.
    const int limited = RunToEnd(BatchArgs("limited", 2), dir_->path(), Path("limited-1.log"), [] {
        std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the program
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    const std::string log = Log("limited-1");
    EXPECT_EQ(limited, 1) << log;
    EXPECT_TRUE(Mentions(log, "seed-2: FAILED: cannot write ")) << log;
    EXPECT_TRUE(Mentions(log, "File too large")) << log;
    EXPECT_TRUE(Mentions(log, "index.json: ")) << log;
    EXPECT_TRUE(Mentions(log, "0 rendered, 10 already done, 30 failed")) << log;
    for (int seed = 1; seed <= kPlanets; ++seed) {
        const std::string name = "seed-" + std::to_string(seed);
        EXPECT_EQ(fs::exists(out / name), seed % 4 == 1) << name;
    }
    ExpectSameAsOneRun(out, Path("whole"), OfDonePlanets(out));

    ASSERT_EQ(RunToEnd(BatchArgs("limited", 2), dir_->path(), Path("limited-2.log")), 0);
    EXPECT_TRUE(Mentions(Log("limited-2"), "30 rendered, 10 already done")) << Log("limited-2");
    ExpectSameAsOneRun(out, Path("whole"));
}

// The output folder made read-only while the batch runs: the planets done stay as they were,
// every later one fails saying why, the run ends with 1, and once the folder may be written
// again the next run finishes the batch. Root writes anywhere, so root's runs are nobody's.
TEST_F(KilledBatch, FolderMadeReadOnlyMidwayFailsCleanly) {
    const fs::path out = Path("locked");
    fs::create_directory(out);
    const bool root = geteuid() == 0;
    if (root) {
        fs::permissions(dir_->path(), fs::perms(0755));
        ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
    }
    const auto unprivileged = [root] {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    };
    FolderWatch watch(out);
    const pid_t pid =
        Start(BatchArgs("locked", 1), dir_->path(), Path("locked-1.log"), unprivileged);
    const Moment fifthRecorded{
        [](const FolderWatch::Event& e) { return !e.created && e.path.extension() == ".status"; },
        5, 0};
    ASSERT_TRUE(AtMoment(pid, watch, fifthRecorded, [&] { chmod(out.c_str(), 0555); }));
    const int status = Wait(pid);
    const std::string log = Log("locked-1");
    EXPECT_EQ(status, 1) << log;
    EXPECT_TRUE(Mentions(log, "FAILED: cannot create folder ")) << log;
    EXPECT_TRUE(Mentions(log, "Permission denied")) << log;
    EXPECT_TRUE(Mentions(log, "index.json: ")) << log;
    int done = 0;
    for (int seed = 1; seed <= kPlanets; ++seed) {
        const std::string name = "seed-" + std::to_string(seed);
        done += fs::exists(out / name / (name + ".ORB"));
    }
    EXPECT_GE(done, 5);
    EXPECT_LT(done, kPlanets);
    ExpectSameAsOneRun(out, Path("whole"), OfDonePlanets(out));

    chmod(out.c_str(), 0755);
    ASSERT_EQ(RunToEnd(BatchArgs("locked", 2), dir_->path(), Path("locked-2.log"), unprivileged), 0)
        << Log("locked-2");
    ExpectSameAsOneRun(out, Path("whole"));
}

}  // namespace
}  // namespace globeforge
