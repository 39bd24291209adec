#include "settings/text_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "image/atomic_file.h"

namespace globeforge::settings_io {

namespace {

std::string SystemError(int error) {
    return std::strerror(error);
}

// Closes a file descriptor on every path out of a function.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Returns 0 or the errno of a failed close (which may report a delayed write error).
    int Close() {
        if (fd_ < 0) return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

// Writes every byte, retrying short writes; 0 or errno.
int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace

ReadResult ReadFileBytes(const std::string& path, size_t maxBytes) {
    ReadResult result;
    // Non-blocking, so a FIFO given as a settings file is refused instead of waited on.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.valid()) {
        result.errorNumber = errno;
        result.error = SystemError(result.errorNumber);
        return result;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        result.errorNumber = errno;
        result.error = SystemError(result.errorNumber);
        return result;
    }
    if (S_ISDIR(info.st_mode)) {
        result.errorNumber = EISDIR;
        result.error = SystemError(EISDIR);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = "not a regular file";
        return result;
    }
    const auto tooLarge = [&] {
        result.error = "file too large (more than " + std::to_string(maxBytes >> 20) + " MiB)";
        result.bytes.clear();
    };
    if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        tooLarge();
        return result;
    }
    // The size is only a hint: the file may change while it is read, and the limit holds
    // regardless.
    result.bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            result.errorNumber = errno;
            result.error = SystemError(result.errorNumber);
            result.bytes.clear();
            return result;
        }
        if (got == 0) break;
        if (result.bytes.size() + static_cast<size_t>(got) > maxBytes) {
            tooLarge();
            return result;
        }
        result.bytes.append(buffer, static_cast<size_t>(got));
    }
    result.ok = true;
    return result;
}

std::string ReplaceFileAtomically(const std::string& path, const std::string& contents) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    if (fs::is_directory(target, ec)) return SystemError(EISDIR);
    // Only regular files are replaced: renaming over a device or a pipe (/dev/null, for a
    // program run as root) would destroy it.
    if (fs::exists(target, ec) && !fs::is_regular_file(target, ec)) return "not a regular file";

    // A unique name in the same folder, so the final rename never crosses file systems.
    static std::atomic<unsigned> counter{0};
    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath = target.string() + std::string(kTemporaryMark) + std::to_string(::getpid()) +
                   "-" + std::to_string(counter++);
        // 0666 lets the umask decide the permissions, as for any newly created file.
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return SystemError(errno);
    }
    if (fd < 0) return SystemError(EEXIST);
    FileDescriptor file(fd);

    // A replaced file keeps its permissions: a private file must not become readable.
    struct stat old {};
    int error = 0;
    if (::stat(target.c_str(), &old) == 0 && ::fchmod(file.get(), old.st_mode & 07777) != 0) {
        error = errno;
    }
    if (error == 0) error = WriteAll(file.get(), contents.data(), contents.size());
    if (error == 0 && ::fsync(file.get()) != 0) error = errno;
    const int closeError = file.Close();
    if (error == 0) error = closeError;
    if (error == 0 && ::rename(tempPath.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(tempPath.c_str());
        return SystemError(error);
    }
    return {};
}

}  // namespace globeforge::settings_io
