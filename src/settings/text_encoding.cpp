#include "settings/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace globeforge {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Owns one iconv conversion descriptor.
class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid()) iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

  private:
    iconv_t handle_;
};

// Without a converter every non-ASCII byte becomes U+FFFD: the ASCII keys and values of a
// settings file still load.
std::string ReplaceNonAscii(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        if (static_cast<unsigned char>(ch) < 0x80) {
            out += ch;
        } else {
            out += kReplacement;
        }
    }
    return out;
}

std::string ConvertFromCp932(std::string_view bytes) {
    IconvHandle converter("UTF-8", "CP932");
    if (!converter.valid()) return ReplaceNonAscii(bytes);

    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());  // iconv's signature lacks const
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (result != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // An invalid or truncated sequence: replace one byte and resynchronise after it.
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        unsigned char low = 0x80;   // bounds of the second byte exclude overlong forms,
        unsigned char high = 0xBF;  // surrogates and code points past U+10FFFF
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length) return false;
        if (p[i + 1] < low || p[i + 1] > high) return false;
        for (size_t k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

std::string DecodeTextFileBytes(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return ConvertFromCp932(bytes);
}

}  // namespace globeforge
