#include "image/image_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "exact/extended.h"
#include "image/atomic_file.h"
#include "image/bmp_file.h"
#include "image/color_pack.h"
#include "image/exr_file.h"
#include "image/jpeg_file.h"
#include "image/png_file.h"

namespace globeforge {

namespace {

enum class ImageFormat { Bmp, Jpeg, Png, Exr };

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace

std::string FileExtension(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = fileName.substr(dot);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

bool IsJpegFileName(const std::string& fileName) {
    const std::string extension = FileExtension(fileName);
    return extension == ".jpg" || extension == ".jpeg" || extension == ".jpe";
}

namespace {

ImageFormat FormatFromName(const std::string& fileName) {
    if (IsJpegFileName(fileName)) return ImageFormat::Jpeg;
    const std::string extension = FileExtension(fileName);
    if (extension == ".png") return ImageFormat::Png;
    if (extension == ".exr") return ImageFormat::Exr;
    return ImageFormat::Bmp;
}

std::optional<ImageFormat> FormatFromContent(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ImageFormat::Bmp;
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        return ImageFormat::Jpeg;
    }
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPng, 8) == 0) return ImageFormat::Png;
    if (LooksLikeExr(bytes)) return ImageFormat::Exr;
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
        case ImageFormat::Exr:
            return Fail(error, "OpenEXR files cannot be loaded as pictures");
        case ImageFormat::Bmp:
            break;
    }
    return DecodeBmp(bytes, bitmap, error);
}

// Floats as an OpenEXR file shows colours: 255 becomes 1.0, nothing is clamped.
float ColourToExr(float value) {
    return static_cast<float>(static_cast<double>(value) / 255.0);
}

FloatRaster ColourRaster(const Bitmap24& bitmap) {
    FloatRaster raster{bitmap.Width, bitmap.Height, 3, {}};
    raster.Samples.resize(bitmap.Bytes.size());
    for (int32_t y = 0; y < bitmap.Height; ++y) {
        const uint8_t* row = bitmap.Row(y);
        float* out = raster.Samples.data() + static_cast<size_t>(y) * bitmap.Stride();
        for (int32_t x = 0; x < bitmap.Width; ++x) {
            // Bitmap rows are blue, green, red.
            out[3 * x] = ColourToExr(row[3 * x + 2]);
            out[3 * x + 1] = ColourToExr(row[3 * x + 1]);
            out[3 * x + 2] = ColourToExr(row[3 * x]);
        }
    }
    return raster;
}

FloatRaster ColourRaster(const FloatImage& image) {
    FloatRaster raster{image.Width, image.Height, 3, {}};
    raster.Samples.resize(image.PixelCount() * 3);
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        const FloatPixel& p = image.Data()[i];
        raster.Samples[3 * i] = ColourToExr(p.R);
        raster.Samples[3 * i + 1] = ColourToExr(p.G);
        raster.Samples[3 * i + 2] = ColourToExr(p.B);
    }
    return raster;
}

// A height is the value of R, as a single-valued layer keeps it.
FloatRaster HeightRaster(const FloatImage& image) {
    FloatRaster raster{image.Width, image.Height, 1, {}};
    raster.Samples.resize(image.PixelCount());
    for (size_t i = 0; i < image.PixelCount(); ++i) raster.Samples[i] = image.Data()[i].R;
    return raster;
}

// 0 .. 256, the range of a normalised bump map, spans the 16-bit range.
uint16_t HeightToSample(float value) {
    const int32_t level = Round(static_cast<Extended>(value) * 65535.0L / 256.0L);
    return static_cast<uint16_t>(std::clamp(level, 0, 65535));
}

Gray16Raster HeightSamples(const FloatImage& image) {
    Gray16Raster raster{image.Width, image.Height, {}};
    raster.Samples.resize(image.PixelCount());
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        raster.Samples[i] = HeightToSample(image.Data()[i].R);
    }
    return raster;
}

MetadataTexts ProvenanceTexts(const ImageFileOptions& options) {
    if (options.settingsText.empty()) return {};
    return {{kSettingsTextKey, options.settingsText},
            {kProductVersionKey, options.productVersion},
            {kJpegQualityKey, std::to_string(options.jpegQuality)}};
}

// One comment per entry: the key, a line feed and the value, which is split over several
// comments sharing the key when it does not fit into one.
std::vector<std::string> JpegComments(const MetadataTexts& texts) {
    std::vector<std::string> comments;
    for (const MetadataText& text : texts) {
        const std::string head = text.key + "\n";
        const size_t room = kMaxJpegCommentBytes - head.size();
        size_t done = 0;
        do {
            const size_t n = std::min(room, text.value.size() - done);
            comments.push_back(head + text.value.substr(done, n));
            done += n;
        } while (done < text.value.size());
    }
    return comments;
}

MetadataTexts TextsFromJpegComments(const std::vector<std::string>& comments) {
    MetadataTexts texts;
    for (const std::string& comment : comments) {
        const size_t newline = comment.find('\n');
        if (newline == std::string::npos) continue;
        const std::string key = comment.substr(0, newline);
        const std::string part = comment.substr(newline + 1);
        auto same = std::find_if(texts.begin(), texts.end(),
                                 [&key](const MetadataText& t) { return t.key == key; });
        if (same == texts.end()) {
            texts.push_back({key, part});
        } else {
            same->value += part;
        }
    }
    return texts;
}

bool EncodeBitmap(const Bitmap24& bitmap, ImageFormat format, const MetadataTexts& texts,
                  int32_t jpegQuality, std::vector<uint8_t>& bytes, std::string* error) {
    switch (format) {
        case ImageFormat::Jpeg:
            return EncodeJpeg(bitmap, jpegQuality, JpegComments(texts), bytes, error);
        case ImageFormat::Png:
            return EncodePng(bitmap, bytes, PngWriteOptions{.CompressionLevel = 6, .Texts = texts},
                             error);
        case ImageFormat::Exr:
            return EncodeExr(ColourRaster(bitmap), texts, bytes, error);
        case ImageFormat::Bmp:
            break;
    }
    return EncodeBmp(bitmap, bytes, error);
}

bool EncodeImage(const FloatImage& image, const std::string& fileName,
                 const ImageFileOptions& options, std::vector<uint8_t>& bytes, std::string* error) {
    const ImageFormat format = FormatFromName(fileName);
    const MetadataTexts texts = ProvenanceTexts(options);
    if (format == ImageFormat::Exr) {
        return EncodeExr(options.heightMap ? HeightRaster(image) : ColourRaster(image), texts,
                         bytes, error);
    }
    if (format == ImageFormat::Png && options.heightMap && options.heightBitDepth == 16) {
        return EncodePngGray16(
            HeightSamples(image), bytes,
            PngWriteOptions{.CompressionLevel = 6, .Texts = texts, .Cancel = options.cancel},
            error);
    }
    if (format == ImageFormat::Png) {
        return EncodePng(image, bytes,
                         PngWriteOptions{.CompressionLevel = 6,
                                         .Texts = texts,
                                         .Cancel = options.cancel,
                                         .Threads = options.threads,
                                         .ThroughLibpng = false},
                         error);
    }
    Bitmap24 bitmap;
    if (!ImageToBitmap(bitmap, image)) return Fail(error, "out of memory");
    return EncodeBitmap(bitmap, format, texts, options.jpegQuality, bytes, error);
}

bool ReadTexts(std::span<const uint8_t> bytes, MetadataTexts& texts, std::string* error) {
    switch (FormatFromContent(bytes).value_or(ImageFormat::Bmp)) {
        case ImageFormat::Png:
            return ReadPngTexts(bytes, texts, error);
        case ImageFormat::Jpeg: {
            std::vector<std::string> comments;
            if (!ReadJpegComments(bytes, comments, error)) return false;
            texts = TextsFromJpegComments(comments);
            return true;
        }
        case ImageFormat::Exr:
            return ReadExrAttributes(bytes, texts, error);
        case ImageFormat::Bmp:
            break;
    }
    return Fail(error, "only PNG, JPEG and OpenEXR files carry settings");
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
        return EncodeBitmap(bitmap, FormatFromName(fileName), {}, ImageFileOptions{}.jpegQuality,
                            bytes, error) &&
               WriteFileAtomically(fileName, bytes, error);
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
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
    return SaveImageFile(image, fileName, ImageFileOptions{}, error);
}

bool SaveImageFile(const FloatImage& image, const std::string& fileName,
                   const ImageFileOptions& options, std::string* error) {
    try {
        std::vector<uint8_t> bytes;
        return EncodeImage(image, fileName, options, bytes, error) &&
               WriteFileAtomically(fileName, bytes, error);
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
    } catch (...) {
        return Fail(error, "unexpected failure");
    }
}

bool CarriesProvenance(const std::string& fileName) {
    return FormatFromName(fileName) != ImageFormat::Bmp;
}

bool EncodingCanBeCancelled(const std::string& fileName) {
    return FormatFromName(fileName) == ImageFormat::Png;
}

bool EncodeImageFile(const FloatImage& image, const std::string& fileName,
                     const ImageFileOptions& options, std::vector<uint8_t>& bytes,
                     std::string* error) {
    try {
        return EncodeImage(image, fileName, options, bytes, error);
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
    } catch (...) {
        return Fail(error, "unexpected failure");
    }
}

bool ReadMapProvenance(const std::string& fileName, MapProvenance& provenance, std::string* error) {
    try {
        std::vector<uint8_t> bytes;
        MetadataTexts texts;
        if (!ReadWholeFile(fileName, bytes, error) || !ReadTexts(bytes, texts, error)) {
            return false;
        }
        MapProvenance found;
        bool hasSettings = false;
        for (const MetadataText& text : texts) {
            if (text.key == kSettingsTextKey) {
                found.settingsText = text.value;
                hasSettings = true;
            } else if (text.key == kProductVersionKey) {
                found.productVersion = text.value;
            } else if (text.key == kJpegQualityKey) {
                int32_t quality = 0;
                const char* end = text.value.data() + text.value.size();
                const auto [ptr, ec] = std::from_chars(text.value.data(), end, quality);
                if (ec == std::errc() && ptr == end && quality >= 0 && quality <= 255) {
                    found.jpegQuality = quality;
                }
            }
        }
        if (!hasSettings) return Fail(error, "the file carries no GlobeForge settings");
        provenance = std::move(found);
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
    } catch (...) {
        return Fail(error, "unexpected failure");
    }
}

}  // namespace globeforge
