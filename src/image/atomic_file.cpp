#include "image/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace globeforge {

namespace {

bool Fail(std::string* error, const char* what, int errorNumber) {
    if (error) *error = std::string(what) + ": " + std::strerror(errorNumber);
    return false;
}

// A suffix that differs between calls and processes; O_EXCL catches the rare collision.
std::string TemporarySuffix() {
    static std::atomic<uint64_t> counter{0};
    uint64_t seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= static_cast<uint64_t>(getpid()) << 32;
    seed += counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(kTemporaryMark);
    for (int i = 0; i < 6; ++i) {
        seed ^= seed >> 29;
        seed *= 0xBF58476D1CE4E5B9ull;
        suffix += kAlphabet[(seed >> 32) % (sizeof(kAlphabet) - 1)];
    }
    return suffix;
}

// The file a write to path lands in: a symbolic link is followed so that the link stays.
std::string ResolveTarget(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return path;  // a dangling link is simply replaced
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // no progress: never loop forever
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here cannot undo the save, so it is ignored.
void SyncFolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error) {
    return WriteFileAtomically(
        path, [bytes](const ByteSink& sink) { return sink(bytes); }, error);
}

bool WriteFileAtomically(const std::string& path, const std::function<bool(const ByteSink&)>& fill,
                         std::string* error) {
    if (path.empty()) return Fail(error, "cannot create file", ENOENT);
    const std::string target = ResolveTarget(path);
    // Only regular files are replaced: renaming over a device or a pipe (/dev/null, for a
    // program run as root) would destroy it.
    struct stat present;
    if (stat(target.c_str(), &present) == 0 && !S_ISREG(present.st_mode) &&
        !S_ISDIR(present.st_mode)) {
        if (error) *error = "cannot replace file: not a regular file";
        return false;
    }

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = target + TemporarySuffix();
        // 0666 lets the umask decide, as for any newly created file.
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return Fail(error, "cannot create file", errno);
    }
    if (fd < 0) return Fail(error, "cannot create file", EEXIST);

    struct stat existing;
    if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        fchmod(fd, existing.st_mode & 07777);  // best effort: the content matters more
    }

    int failure = 0;
    const ByteSink sink = [fd, &failure](std::span<const uint8_t> piece) {
        if (failure == 0 && !WriteAll(fd, piece)) failure = errno;
        return failure == 0;
    };
    bool made = false;
    try {
        made = fill(sink);
    } catch (...) {
        close(fd);
        unlink(temporary.c_str());
        throw;
    }
    if (made && failure == 0 && fsync(fd) != 0) failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (!made || failure != 0) {
        unlink(temporary.c_str());
        // A write that failed explains a producer that gave up because of it.
        if (failure != 0) return Fail(error, "cannot write file", failure);
        return false;
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        failure = errno;
        unlink(temporary.c_str());
        return Fail(error, "cannot replace file", failure);
    }
    SyncFolderOf(target);
    return true;
}

}  // namespace globeforge
