// Child processes for the tests: the real globeforge-render run as a user would run it, any
// shell command, and a forked check for failures that need lowered rights or limits.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace globeforge::testing {

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct RunResult {
    int status = -1;     // the exit status, -1 when the program did not exit by itself
    std::string output;  // what the command printed on its standard output
};

inline RunResult RunShell(const std::string& command) {
    RunResult r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

// Runs globeforge-render with the given (shell-quoted) arguments in folder cwd; the output
// holds standard output and error together. `environment`: variables for the run, as "env"
// takes them (NAME=VALUE or -u NAME).
inline RunResult RunRender(const std::string& args, const std::filesystem::path& cwd,
                           const std::string& environment = {}) {
    return RunShell("cd " + ShellQuote(cwd.string()) + " && " +
                    (environment.empty() ? "" : "env " + environment + " ") +
                    ShellQuote(GLOBEFORGE_RENDER_EXE) + " " + args + " 2>&1");
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

}  // namespace globeforge::testing
