// Helpers for the reliability tests: a scratch folder, the real globeforge-render run as a
// user would run it, and a child process for failures that need lowered rights or limits.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

namespace globeforge::testing {
inline namespace reliability_support {

namespace fs = std::filesystem;

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "gf-reliability-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        // Folders a test made read-only must be writable again to be removed.
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
            if (entry.is_directory(ignored)) {
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
            }
        }
        fs::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return *this / name;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Entries of the folder (or of a subfolder).
    size_t Count(const std::string& sub = "") const {
        std::error_code ignored;
        const fs::directory_iterator it(path_ / sub, ignored);
        return static_cast<size_t>(std::distance(begin(it), end(it)));
    }

  private:
    fs::path path_;
};

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct RunResult {
    int status = -1;     // the exit status, -1 when the program did not exit by itself
    std::string output;  // standard output and error together
};

// Runs globeforge-render with the given (shell-quoted) arguments in folder cwd.
inline RunResult RunRender(const std::string& args, const fs::path& cwd) {
    RunResult r;
    const std::string command = "cd " + ShellQuote(cwd.string()) + " && " +
                                ShellQuote(GLOBEFORGE_RENDER_EXE) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

// Runs check in a child process; with dropRoot, a child of root first becomes "nobody", who
// may write nowhere the test did not open up. nullopt when the child could not be set up.
inline std::optional<bool> RunInChild(const std::function<bool()>& check, bool dropRoot) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (dropRoot && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return std::nullopt;
    if (WEXITSTATUS(status) > 1) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

}  // namespace reliability_support
}  // namespace globeforge::testing
