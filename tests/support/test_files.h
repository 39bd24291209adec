// Files for the tests: a scratch folder removed with everything in it afterwards, and whole
// files read and written in one call.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace globeforge::testing {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary).write(text.data(), std::streamsize(text.size()));
}

inline void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A fresh folder under the system's temporary folder, removed with its content on
// destruction, even where a test took away the write permission.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "gf-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
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

    std::string Write(const std::string& name, std::string_view text) const {
        WriteFile(path_ / name, text);
        return *this / name;
    }
    std::string Read(const std::string& name) const { return ReadFile(path_ / name); }
    // Entries of the folder (or of a subfolder), so tests can see that no temporary is left.
    size_t Count(const std::string& sub = "") const {
        std::error_code ignored;
        const fs::directory_iterator it(path_ / sub, ignored);
        return size_t(std::distance(begin(it), end(it)));
    }
    // Makes a subfolder one that an unprivileged child may enter but not write into.
    void Lock(const std::string& name) const {
        fs::permissions(path_, fs::perms(0711));
        fs::permissions(path_ / name, fs::perms(0555));
    }

  private:
    fs::path path_;
};

}  // namespace globeforge::testing
