#include "image/bmp_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

namespace globeforge {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kOs2HeaderSize = 64;  // OS/2 2.x: compression 3 means Huffman there

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

bool Fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

uint16_t ReadU16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t ReadU32(std::span<const uint8_t> b, size_t at) {
    return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) |
           (uint32_t{b[at + 3]} << 24);
}

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, v & 0xFFFF);
    PutU16(p + 2, v >> 16);
}

// One colour channel of a 16 or 32-bit pixel, taken by mask and scaled to 0..255.
struct MaskChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    // False for a mask whose bits are not contiguous.
    bool Set(uint32_t m) {
        mask = m;
        if (m == 0) return true;
        shift = std::countr_zero(m);
        max = m >> shift;
        return (max & (max + 1)) == 0;
    }
    uint8_t Extract(uint32_t value) const {
        if (max == 0) return 0;
        const uint64_t v = (value & mask) >> shift;
        if (max == 255) return static_cast<uint8_t>(v);
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

// Everything the headers say about the pixel data, brought to one form.
struct BmpLayout {
    int64_t width = 0;
    int64_t height = 0;  // positive; topDown says the row order
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kBiRgb;
    uint64_t colorsUsed = 0;
    uint32_t paletteStart = 0;
    uint32_t paletteEntrySize = 4;
    std::array<uint32_t, 3> masks{};  // red, green, blue
};

bool ReadHeaders(std::span<const uint8_t> b, BmpLayout& layout, std::string* error) {
    const uint32_t headerSize = ReadU32(b, kFileHeaderSize);
    if (headerSize != kCoreHeaderSize && headerSize != kInfoHeaderSize && headerSize != 52 &&
        headerSize != 56 && headerSize != kOs2HeaderSize && headerSize != 108 &&
        headerSize != 124) {
        return Fail(error, "unsupported BMP header version");
    }
    if (b.size() < kFileHeaderSize + headerSize) return Fail(error, "BMP file is truncated");
    const size_t h = kFileHeaderSize;
    layout.paletteStart = kFileHeaderSize + headerSize;
    if (headerSize == kCoreHeaderSize) {
        layout.width = ReadU16(b, h + 4);
        layout.height = ReadU16(b, h + 6);
        layout.bitCount = ReadU16(b, h + 10);
        layout.paletteEntrySize = 3;
        return true;
    }
    layout.width = static_cast<int32_t>(ReadU32(b, h + 4));
    const int64_t height = static_cast<int32_t>(ReadU32(b, h + 8));
    layout.topDown = height < 0;
    layout.height = height < 0 ? -height : height;
    layout.bitCount = ReadU16(b, h + 14);
    layout.compression = ReadU32(b, h + 16);
    layout.colorsUsed = ReadU32(b, h + 32);
    const bool masked =
        layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields;
    if (headerSize == kOs2HeaderSize && layout.compression != kBiRgb) {
        return Fail(error, "compressed BMP files are not supported");
    }
    if (masked) {
        // A plain info header is followed by the masks; later versions hold them inside.
        const uint32_t maskCount = layout.compression == kBiAlphaBitfields ? 4 : 3;
        size_t at = h + kInfoHeaderSize;
        if (headerSize == kInfoHeaderSize) {
            layout.paletteStart += 4 * maskCount;
            if (b.size() < at + 4 * maskCount) return Fail(error, "BMP file is truncated");
        }
        for (uint32_t& mask : layout.masks) {
            mask = ReadU32(b, at);
            at += 4;
        }
    }
    return true;
}

bool CheckLayout(BmpLayout& layout, std::string* error) {
    if (layout.width <= 0 || layout.height <= 0) return Fail(error, "BMP size is not positive");
    if (layout.width > kMaxBmpSide || layout.height > kMaxBmpSide) {
        return Fail(error, "BMP size is too large");
    }
    const uint32_t bits = layout.bitCount;
    const bool masked =
        layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields;
    if (layout.compression != kBiRgb && !masked) {
        return Fail(error, "compressed BMP files are not supported");
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return Fail(error, "unsupported BMP bit depth");
    }
    if (masked && bits != 16 && bits != 32) return Fail(error, "unsupported BMP bit depth");
    if (!masked && bits == 16) layout.masks = {0x7C00, 0x03E0, 0x001F};
    if (!masked && bits == 32) layout.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    if (bits == 16 && ((layout.masks[0] | layout.masks[1] | layout.masks[2]) >> 16) != 0) {
        return Fail(error, "BMP colour masks do not fit the pixel");
    }
    return true;
}

// The palette as bitmap pixels; empty for files without one. Entries are blue, green, red
// (and a spare byte, except in core files).
bool ReadPalette(std::span<const uint8_t> b, const BmpLayout& layout, uint32_t dataOffset,
                 std::vector<BgrPixel>& palette, std::string* error) {
    if (layout.bitCount > 8) return true;
    const uint64_t full = uint64_t{1} << layout.bitCount;
    uint64_t count = layout.colorsUsed == 0 || layout.colorsUsed > full ? full : layout.colorsUsed;
    // Some writers leave colorsUsed at 0 and store only the colours they use: the gap
    // before the pixel data tells how many entries there really are.
    count = std::min<uint64_t>(count, (dataOffset - layout.paletteStart) / layout.paletteEntrySize);
    if (count == 0) return Fail(error, "BMP palette is missing");
    if (layout.paletteStart + count * layout.paletteEntrySize > b.size()) {
        return Fail(error, "BMP file is truncated");
    }
    palette.resize(count);
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = layout.paletteStart + i * layout.paletteEntrySize;
        palette[i] = {b[at], b[at + 1], b[at + 2]};
    }
    return true;
}

bool ConvertPaletteRow(const uint8_t* src, uint32_t bits, int64_t width,
                       const std::vector<BgrPixel>& palette, uint8_t* dst) {
    const uint32_t perByte = 8 / bits;
    const uint32_t valueMask = (1u << bits) - 1;
    for (int64_t x = 0; x < width; ++x) {
        const uint32_t shift = 8 - bits * (1 + static_cast<uint32_t>(x % perByte));
        const uint32_t index = (src[x / perByte] >> shift) & valueMask;
        if (index >= palette.size()) return false;
        const BgrPixel p = palette[index];
        dst[0] = p.B;
        dst[1] = p.G;
        dst[2] = p.R;
        dst += 3;
    }
    return true;
}

void ConvertMaskedRow(const uint8_t* src, uint32_t bits, int64_t width,
                      const std::array<MaskChannel, 3>& channels, uint8_t* dst) {
    const uint32_t bytesPerPixel = bits / 8;
    for (int64_t x = 0; x < width; ++x) {
        uint32_t v = 0;
        for (uint32_t i = 0; i < bytesPerPixel; ++i) v |= uint32_t{src[i]} << (8 * i);
        src += bytesPerPixel;
        dst[0] = channels[2].Extract(v);
        dst[1] = channels[1].Extract(v);
        dst[2] = channels[0].Extract(v);
        dst += 3;
    }
}

}  // namespace

bool EncodeBmp(const Bitmap24& bitmap, std::vector<uint8_t>& out, std::string* error) {
    if (bitmap.Width <= 0 || bitmap.Height <= 0) return Fail(error, "image has no pixels");
    const uint64_t stride = (uint64_t(bitmap.Width) * 3 + 3) & ~uint64_t{3};
    const uint64_t imageSize = stride * uint64_t(bitmap.Height);
    const uint64_t headers = kFileHeaderSize + kInfoHeaderSize;
    if (headers + imageSize > 0xFFFFFFFFull) return Fail(error, "image is too large for BMP");
    try {
        out.assign(headers + imageSize, 0);
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory");
    }
    uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, static_cast<uint32_t>(headers + imageSize));
    PutU32(p + 10, static_cast<uint32_t>(headers));  // pixel data offset
    PutU32(p + 14, kInfoHeaderSize);
    PutU32(p + 18, static_cast<uint32_t>(bitmap.Width));
    PutU32(p + 22, static_cast<uint32_t>(bitmap.Height));  // positive: bottom-up rows
    PutU16(p + 26, 1);                                     // planes
    PutU16(p + 28, 24);                                    // bits per pixel
    PutU32(p + 30, kBiRgb);
    PutU32(p + 34, static_cast<uint32_t>(imageSize));
    // Resolution and palette fields stay 0: unspecified, no palette.
    for (int32_t y = 0; y < bitmap.Height; ++y) {
        uint8_t* row = p + headers + stride * uint64_t(bitmap.Height - 1 - y);
        std::memcpy(row, bitmap.Row(y), bitmap.Stride());
    }
    return true;
}

bool DecodeBmp(std::span<const uint8_t> b, Bitmap24& bitmap, std::string* error) {
    if (b.size() < kFileHeaderSize + 4 || b[0] != 'B' || b[1] != 'M') {
        return Fail(error, "not a BMP file");
    }
    BmpLayout layout;
    if (!ReadHeaders(b, layout, error) || !CheckLayout(layout, error)) return false;
    const uint32_t dataOffset = ReadU32(b, 10);
    if (dataOffset < layout.paletteStart) return Fail(error, "BMP pixel data offset is invalid");
    std::vector<BgrPixel> palette;
    if (!ReadPalette(b, layout, dataOffset, palette, error)) return false;
    std::array<MaskChannel, 3> channels;
    for (int i = 0; i < 3; ++i) {
        if (!channels[i].Set(layout.masks[i])) return Fail(error, "unsupported BMP colour masks");
    }

    const uint64_t rowBytes = (uint64_t(layout.width) * layout.bitCount + 7) / 8;
    const uint64_t stride = (rowBytes + 3) & ~uint64_t{3};
    // The last row may lack its padding; every byte of pixel data must be in the file.
    if (uint64_t{dataOffset} + stride * uint64_t(layout.height - 1) + rowBytes > b.size()) {
        return Fail(error, "BMP file is truncated");
    }

    Bitmap24 decoded;
    if (!SetBitmapSize(decoded, static_cast<int32_t>(layout.width),
                       static_cast<int32_t>(layout.height))) {
        return Fail(error, "out of memory");
    }
    for (int64_t y = 0; y < layout.height; ++y) {
        const int64_t fileRow = layout.topDown ? y : layout.height - 1 - y;
        const uint8_t* src = b.data() + dataOffset + stride * uint64_t(fileRow);
        uint8_t* dst = decoded.Row(static_cast<int32_t>(y));
        if (layout.bitCount == 24) {
            std::memcpy(dst, src, decoded.Stride());
        } else if (layout.bitCount <= 8) {
            if (!ConvertPaletteRow(src, layout.bitCount, layout.width, palette, dst)) {
                return Fail(error, "BMP pixel refers to a missing palette entry");
            }
        } else {
            ConvertMaskedRow(src, layout.bitCount, layout.width, channels, dst);
        }
    }
    bitmap = std::move(decoded);
    return true;
}

}  // namespace globeforge
