#include "image/exr_file.h"

#include <Iex.h>
#include <ImfChannelList.h>
#include <ImfCompression.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStringAttribute.h>

#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <string>

namespace globeforge {

namespace {

constexpr int32_t kMaxSide = 65535;

class MemoryOutput final : public Imf::OStream {
  public:
    explicit MemoryOutput(std::vector<uint8_t>& bytes) : Imf::OStream("memory"), bytes_(bytes) {}

    void write(const char c[], int n) override {
        const size_t end = position_ + static_cast<size_t>(n);
        if (end > bytes_.size()) bytes_.resize(end);
        std::memcpy(bytes_.data() + position_, c, static_cast<size_t>(n));
        position_ = end;
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t pos) override { position_ = static_cast<size_t>(pos); }

  private:
    std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

class MemoryInput final : public Imf::IStream {
  public:
    explicit MemoryInput(std::span<const uint8_t> bytes) : Imf::IStream("memory"), bytes_(bytes) {}

    bool read(char c[], int n) override {
        if (n < 0 || position_ > bytes_.size() || bytes_.size() - position_ < size_t(n)) {
            throw Iex::InputExc("file is truncated");
        }
        std::memcpy(c, bytes_.data() + position_, static_cast<size_t>(n));
        position_ += static_cast<size_t>(n);
        return position_ < bytes_.size();
    }
    uint64_t tellg() override { return position_; }
    void seekg(uint64_t pos) override { position_ = static_cast<size_t>(pos); }

  private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

// Headers claiming larger pictures are refused before the library allocates for them.
void LimitPictureSize() {
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(kMaxSide, kMaxSide);
        Imf::Header::setMaxTileSize(kMaxSide, kMaxSide);
    });
}

// Reads a zero-terminated name of at most maxLength characters at pos.
bool ReadName(std::span<const uint8_t> bytes, size_t& pos, size_t maxLength, std::string& name) {
    const size_t start = pos;
    while (pos < bytes.size() && pos - start <= maxLength) {
        if (bytes[pos++] == 0) {
            name.assign(reinterpret_cast<const char*>(bytes.data() + start), pos - start - 1);
            return true;
        }
    }
    return false;
}

struct HeaderAttribute {
    int part = 0;  // which header of a multi-part file
    std::string name;
    std::string type;
    std::span<const uint8_t> value;
};

// Walks the attributes of every header, checking that each one's stated size lies within the
// file. The library allocates what an attribute states before reading it, and reads some
// types (channel lists, previews) by their content rather than their stated size, so a few
// damaged bytes could make it ask for gigabytes; this walk is what the header really holds.
bool WalkHeader(std::span<const uint8_t> bytes, std::string* error,
                const std::function<void(const HeaderAttribute&)>& visit) {
    if (bytes.size() < 8) return Fail(error, "OpenEXR: the header is truncated");
    const uint32_t flags = bytes[5] | (uint32_t{bytes[6]} << 8) | (uint32_t{bytes[7]} << 16);
    const size_t maxName = (flags & 0x400) ? 255 : 31;  // the long-names flag
    const bool multiPart = (flags & 0x1000) != 0;
    size_t pos = 8;
    HeaderAttribute attribute;
    for (;; ++attribute.part) {
        bool headerEmpty = true;
        for (;;) {
            if (!ReadName(bytes, pos, maxName, attribute.name)) {
                return Fail(error, "OpenEXR: an attribute name is too long or truncated");
            }
            if (attribute.name.empty()) break;
            headerEmpty = false;
            if (!ReadName(bytes, pos, maxName, attribute.type) || attribute.type.empty()) {
                return Fail(error, "OpenEXR: an attribute type is missing or truncated");
            }
            if (bytes.size() - pos < 4) return Fail(error, "OpenEXR: the header is truncated");
            const uint32_t size = bytes[pos] | (uint32_t{bytes[pos + 1]} << 8) |
                                  (uint32_t{bytes[pos + 2]} << 16) |
                                  (uint32_t{bytes[pos + 3]} << 24);
            pos += 4;
            if (size > bytes.size() - pos) {
                return Fail(error, "OpenEXR: an attribute claims " + std::to_string(size) +
                                       " bytes, more than the file holds");
            }
            attribute.value = bytes.subspan(pos, size);
            if (visit) visit(attribute);
            pos += size;
        }
        if (headerEmpty && attribute.part == 0) return Fail(error, "OpenEXR: the header is empty");
        // One header, or several ended by an empty one.
        if (!multiPart || headerEmpty) return true;
    }
}

// Runs work, whose library calls may throw, with what they throw as the reason for failing.
template <typename Work>
bool CatchingLibraryErrors(std::string* error, Work&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
    } catch (const std::exception& e) {
        return Fail(error, std::string("OpenEXR: ") + e.what());
    }
}

const char* const kRgb[] = {"R", "G", "B"};
const char* const kGrey[] = {"Y"};

}  // namespace

bool LooksLikeExr(std::span<const uint8_t> bytes) {
    return bytes.size() >= 4 && bytes[0] == 0x76 && bytes[1] == 0x2F && bytes[2] == 0x31 &&
           bytes[3] == 0x01;
}

bool EncodeExrChannels(int32_t width, int32_t height, std::span<const ExrChannelSource> channels,
                       const MetadataTexts& attributes, std::vector<uint8_t>& out,
                       std::string* error) {
    if (width <= 0 || height <= 0) return Fail(error, "image has no pixels");
    if (channels.empty()) return Fail(error, "unsupported channels");
    return CatchingLibraryErrors(error, [&] {
        Imf::Header header(width, height);
        header.compression() = Imf::ZIP_COMPRESSION;
        for (const MetadataText& attribute : attributes) {
            header.insert(attribute.key, Imf::StringAttribute(attribute.value));
        }
        Imf::FrameBuffer frame;
        for (const ExrChannelSource& channel : channels) {
            if (channel.xStride == 0) return Fail(error, "unsupported channels");
            header.channels().insert(channel.name, Imf::Channel(Imf::FLOAT));
            // The library only reads through the slice when writing.
            char* base = reinterpret_cast<char*>(const_cast<float*>(channel.base));
            frame.insert(channel.name, Imf::Slice(Imf::FLOAT, base, sizeof(float) * channel.xStride,
                                                  sizeof(float) * channel.yStride));
        }
        std::vector<uint8_t> bytes;
        {
            MemoryOutput stream(bytes);
            // One thread: the bytes must not depend on scheduling.
            Imf::OutputFile file(stream, header, 0);
            file.setFrameBuffer(frame);
            file.writePixels(height);
        }  // the file completes its offset table when it closes
        out = std::move(bytes);
        return true;
    });
}

bool EncodeExr(const FloatRaster& raster, const MetadataTexts& attributes,
               std::vector<uint8_t>& out, std::string* error) {
    if (raster.Width <= 0 || raster.Height <= 0) return Fail(error, "image has no pixels");
    if (raster.Channels != 1 && raster.Channels != 3) return Fail(error, "unsupported channels");
    const size_t channels = static_cast<size_t>(raster.Channels);
    const size_t stride = static_cast<size_t>(raster.Width) * channels;
    if (raster.Samples.size() != stride * static_cast<size_t>(raster.Height)) {
        return Fail(error, "sample count does not match the size");
    }
    const char* const* names = raster.Channels == 3 ? kRgb : kGrey;
    ExrChannelSource sources[3];
    for (size_t c = 0; c < channels; ++c) {
        sources[c] = {names[c], raster.Samples.data() + c, channels, stride};
    }
    return EncodeExrChannels(raster.Width, raster.Height, std::span(sources, channels), attributes,
                             out, error);
}

bool DecodeExr(std::span<const uint8_t> bytes, FloatRaster& raster, std::string* error) {
    if (!LooksLikeExr(bytes)) return Fail(error, "not an OpenEXR file");
    if (!WalkHeader(bytes, error, nullptr)) return false;
    LimitPictureSize();
    return CatchingLibraryErrors(error, [&] {
        MemoryInput stream(bytes);
        Imf::InputFile file(stream, 0);
        const Imf::Header& header = file.header();
        const Imath::Box2i window = header.dataWindow();
        const int64_t width = int64_t{window.max.x} - window.min.x + 1;
        const int64_t height = int64_t{window.max.y} - window.min.y + 1;
        if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
            return Fail(error, "unsupported OpenEXR picture size");
        }
        const Imf::ChannelList& list = header.channels();
        const bool rgb = list.findChannel("R") && list.findChannel("G") && list.findChannel("B");
        if (!rgb && !list.findChannel("Y")) return Fail(error, "OpenEXR file has no R, G, B or Y");
        FloatRaster decoded;
        decoded.Width = static_cast<int32_t>(width);
        decoded.Height = static_cast<int32_t>(height);
        decoded.Channels = rgb ? 3 : 1;
        const size_t channels = static_cast<size_t>(decoded.Channels);
        decoded.Samples.resize(static_cast<size_t>(width * height) * channels);
        const char* const* names = rgb ? kRgb : kGrey;
        Imf::FrameBuffer frame;
        for (size_t c = 0; c < channels; ++c) {
            frame.insert(names[c], Imf::Slice::Make(Imf::FLOAT, decoded.Samples.data() + c, window,
                                                    sizeof(float) * channels,
                                                    sizeof(float) * channels * size_t(width)));
        }
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        raster = std::move(decoded);
        return true;
    });
}

// The header is read here rather than by the library: only the string attributes are
// wanted, and a damaged attribute of any other type must not cost more than its bytes.
bool ReadExrAttributes(std::span<const uint8_t> bytes, MetadataTexts& attributes,
                       std::string* error) {
    if (!LooksLikeExr(bytes)) return Fail(error, "not an OpenEXR file");
    try {
        MetadataTexts found;
        const bool read = WalkHeader(bytes, error, [&found](const HeaderAttribute& a) {
            if (a.part != 0 || a.type != "string") return;
            found.push_back({a.name, std::string(reinterpret_cast<const char*>(a.value.data()),
                                                 a.value.size())});
        });
        if (!read) return false;
        attributes = std::move(found);
        return true;
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
    }
}

}  // namespace globeforge
