#include "image/image_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "image/atomic_file.h"
#include "image/bmp_file.h"
#include "image/jpeg_file.h"
#include "image/png_file.h"

namespace globeforge {

namespace {

std::atomic<uint8_t> jpegQuality{90};

enum class ImageFormat { Bmp, Jpeg, Png };

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

// The extension runs from the last dot of the last path component; letters compare
// without case.
ImageFormat FormatFromName(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return ImageFormat::Bmp;
    }
    std::string extension = fileName.substr(dot);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (extension == ".jpg" || extension == ".jpeg" || extension == ".jpe") {
        return ImageFormat::Jpeg;
    }
    if (extension == ".png") return ImageFormat::Png;
    return ImageFormat::Bmp;
}

std::optional<ImageFormat> FormatFromContent(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ImageFormat::Bmp;
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        return ImageFormat::Jpeg;
    }
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPng, 8) == 0) return ImageFormat::Png;
    return std::nullopt;
}

bool ReadWholeFile(const std::string& fileName, std::vector<uint8_t>& bytes, std::string* error) {
    // Non-blocking, so a pipe given as a picture is refused below instead of waited on.
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Fail(error, std::string("cannot open file: ") + std::strerror(errno));
    struct stat info;
    std::string reason;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = "not a regular file";
    } else if (info.st_size == 0) {
        reason = "file is empty";
    } else {
        try {
            bytes.resize(static_cast<size_t>(info.st_size));
        } catch (const std::bad_alloc&) {
            reason = "out of memory";
        }
    }
    size_t done = 0;
    while (reason.empty() && done < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) reason = std::string("cannot read file: ") + std::strerror(errno);
        if (n == 0) reason = "file shrank while being read";
        if (n > 0) done += static_cast<size_t>(n);
    }
    close(fd);
    return reason.empty() || Fail(error, reason);
}

bool Decode(std::span<const uint8_t> bytes, const std::string& fileName, Bitmap24& bitmap,
            std::string* error) {
    // The name decides, unless the content plainly is another format: renamed files still
    // load.
    ImageFormat format = FormatFromName(fileName);
    const std::optional<ImageFormat> content = FormatFromContent(bytes);
    if (!content) return Fail(error, "not a BMP, JPEG or PNG file");
    if (*content != format) format = *content;
    switch (format) {
        case ImageFormat::Jpeg:
            return DecodeJpeg(bytes, bitmap, error);
        case ImageFormat::Png:
            return DecodePng(bytes, bitmap, error);
        case ImageFormat::Bmp:
            break;
    }
    return DecodeBmp(bytes, bitmap, error);
}

bool Encode(const Bitmap24& bitmap, const std::string& fileName, std::vector<uint8_t>& bytes,
            std::string* error) {
    switch (FormatFromName(fileName)) {
        case ImageFormat::Jpeg:
            return EncodeJpeg(bitmap, GetJpegQuality(), bytes, error);
        case ImageFormat::Png:
            return EncodePng(bitmap, bytes, PngWriteOptions{}, error);
        case ImageFormat::Bmp:
            break;
    }
    return EncodeBmp(bitmap, bytes, error);
}

}  // namespace

bool LoadBitmapFile(Bitmap24& bitmap, const std::string& fileName, std::string* error) {
    try {
        std::vector<uint8_t> bytes;
        return ReadWholeFile(fileName, bytes, error) && Decode(bytes, fileName, bitmap, error);
    } catch (...) {
        return Fail(error, "unexpected failure");
    }
}

bool SaveBitmapFile(const Bitmap24& bitmap, const std::string& fileName, std::string* error) {
    try {
        // Encoding first means an encoder failure never touches the disk.
        std::vector<uint8_t> bytes;
        return Encode(bitmap, fileName, bytes, error) &&
               WriteFileAtomically(fileName, bytes, error);
    } catch (...) {
        return Fail(error, "unexpected failure");
    }
}

bool LoadImageFile(FloatImage& image, const std::string& fileName, std::string* error) {
    Bitmap24 bitmap;
    if (!LoadBitmapFile(bitmap, fileName, error)) return false;
    return BitmapToImage(image, bitmap) || Fail(error, "out of memory");
}

bool SaveImageFile(const FloatImage& image, const std::string& fileName, std::string* error) {
    Bitmap24 bitmap;
    if (!ImageToBitmap(bitmap, image)) return Fail(error, "out of memory");
    return SaveBitmapFile(bitmap, fileName, error);
}

int32_t GetJpegQuality() {
    return jpegQuality.load();
}
void SetJpegQuality(int32_t quality) {
    jpegQuality.store(static_cast<uint8_t>(quality & 0xFF));
}

}  // namespace globeforge
