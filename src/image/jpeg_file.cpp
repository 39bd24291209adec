#include "image/jpeg_file.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <new>
#include <utility>

// clang-format off
#include <jpeglib.h>  // before jerror.h, whose message list depends on jconfig.h
#include <jerror.h>
// clang-format on

namespace globeforge {

namespace {

// A hostile progressive file can hold thousands of tiny scans that each cost a full pass.
constexpr int kMaxScans = 500;

// libjpeg's error manager extended with the jump back into the calling function.
struct ErrorManager {
    jpeg_error_mgr pub;  // first, so the library's pointer is also ours
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool readingRows;  // set once jpeg_start_decompress is through
};

ErrorManager& ErrorsOf(j_common_ptr cinfo) {
    return *reinterpret_cast<ErrorManager*>(cinfo->err);
}

[[noreturn]] void AbortWith(j_common_ptr cinfo, const char* message) {
    ErrorManager& err = ErrorsOf(cinfo);
    std::snprintf(err.message, sizeof err.message, "%s", message);
    std::longjmp(err.jump, 1);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    // The library asks for disk space when the memory budget runs out.
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE) {
        AbortWith(cinfo, "JPEG picture needs more memory than its file justifies");
    }
    ErrorManager& err = ErrorsOf(cinfo);
    (*cinfo->err->format_message)(cinfo, err.message);
    std::longjmp(err.jump, 1);
}

void OutputMessage(j_common_ptr) {}

// Whether reaching the end of the file now is harmless: only a missing end marker. The
// decoder reads a little ahead and decodes one block row ahead of its output, so the end
// may be hit with all picture data present during the last two block rows. Earlier, the
// end means lost scans or rows.
bool EndOfFileIsHarmless(j_common_ptr cinfo) {
    if (!ErrorsOf(cinfo).readingRows) return false;
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    const JDIMENSION window = 2 * JDIMENSION(d->max_v_samp_factor * d->min_DCT_scaled_size);
    return d->output_scanline + window >= d->output_height;
}

// Warnings that mean the picture data is damaged or missing end the decoding; the others
// (unknown version numbers, stray bytes between markers) are harmless.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace output
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
            if (EndOfFileIsHarmless(cinfo)) break;
            [[fallthrough]];
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
            ErrorExit(cinfo);
        default:
            break;
    }
    ++cinfo->err->num_warnings;
}

void LimitScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        AbortWith(cinfo, "JPEG file has too many scans");
    }
}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    err.pub.emit_message = EmitMessage;
    err.message[0] = '\0';
    err.readingRows = false;
}

// Rows decoded so far. The block grows with the rows actually decoded, so a header that
// claims a huge picture costs nothing until its data arrives.
struct DecodeTarget {
    std::span<const uint8_t> bytes;
    std::vector<uint8_t> pixels;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rows = 0;
};

// The budget for libjpeg's own whole-picture buffers (progressive files), in proportion to
// the file: a tiny file cannot make the library zero gigabytes.
long MemoryBudget(size_t fileSize) {
    constexpr uint64_t kFloor = 64ull << 20;
    constexpr uint64_t kCeiling = 2ull << 30;
    const uint64_t budget = std::min(kCeiling, std::max(kFloor, uint64_t{fileSize} * 4096));
    return static_cast<long>(budget);
}

// Where the next row goes; nullptr when memory cannot be had.
uint8_t* NextRow(DecodeTarget& target) {
    const size_t stride = static_cast<size_t>(target.width) * 3;
    const size_t full = stride * static_cast<size_t>(target.height);
    const size_t needed = stride * static_cast<size_t>(target.rows + 1);
    try {
        if (target.pixels.capacity() == 0) {
            // Real files hold far more than a byte per 64 bytes of picture: reserve it all
            // at once then, and let a file claiming more prove it row by row.
            const bool plausible = full <= (64u << 20) || full / 64 <= target.bytes.size();
            target.pixels.reserve(plausible ? full : std::min(full, size_t{16} << 20));
        } else if (needed > target.pixels.capacity()) {
            target.pixels.reserve(std::min(full, std::max(needed, target.pixels.capacity() * 2)));
        }
        target.pixels.resize(needed);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return target.pixels.data() + stride * static_cast<size_t>(target.rows++);
}

void Create(jpeg_compress_struct& cinfo) {
    jpeg_create_compress(&cinfo);
}

void Create(jpeg_decompress_struct& cinfo) {
    jpeg_create_decompress(&cinfo);
}

// Creates cinfo and runs work on it, then destroys it; false when the library or work gave up
// on an error. Holds the setjmp: no object with a destructor may live in this frame or in
// work's, since the error handler jumps back here past them and the library's frames.
template <typename Info, typename Work>
bool RunGuarded(Info& cinfo, ErrorManager& err, Work&& work) {
    cinfo.err = &err.pub;
    if (setjmp(err.jump)) {
        jpeg_destroy(reinterpret_cast<j_common_ptr>(&cinfo));
        return false;
    }
    Create(cinfo);
    work();
    jpeg_destroy(reinterpret_cast<j_common_ptr>(&cinfo));
    return true;
}

bool RunDecode(DecodeTarget& target, ErrorManager& err) {
    jpeg_decompress_struct cinfo;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = LimitScans;
    return RunGuarded(cinfo, err, [&] {
        cinfo.progress = &progress;
        cinfo.mem->max_memory_to_use = MemoryBudget(target.bytes.size());
        jpeg_mem_src(&cinfo, target.bytes.data(), static_cast<unsigned long>(target.bytes.size()));
        jpeg_read_header(&cinfo, TRUE);
        // Arithmetic-coded data that runs out decodes as zeros without a warning, so a damaged
        // file could not be told from a whole one; such files are rare enough to refuse.
        if (cinfo.arith_code) {
            AbortWith(reinterpret_cast<j_common_ptr>(&cinfo),
                      "arithmetic-coded JPEG files are not supported");
        }
        if (cinfo.jpeg_color_space != JCS_GRAYSCALE && cinfo.jpeg_color_space != JCS_YCbCr &&
            cinfo.jpeg_color_space != JCS_RGB) {
            AbortWith(reinterpret_cast<j_common_ptr>(&cinfo), "unsupported JPEG colour space");
        }
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_components != 3 || cinfo.output_width > 65535 ||
            cinfo.output_height > 65535) {
            AbortWith(reinterpret_cast<j_common_ptr>(&cinfo), "unsupported JPEG layout");
        }
        if (!PictureFitsInMemory(cinfo.output_width, cinfo.output_height)) {
            AbortWith(reinterpret_cast<j_common_ptr>(&cinfo),
                      "picture needs more memory than this machine has");
        }
        target.width = static_cast<int32_t>(cinfo.output_width);
        target.height = static_cast<int32_t>(cinfo.output_height);
        err.readingRows = true;
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = NextRow(target);
            if (!row) AbortWith(reinterpret_cast<j_common_ptr>(&cinfo), "out of memory");
            if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
                AbortWith(reinterpret_cast<j_common_ptr>(&cinfo), "JPEG file is truncated");
            }
        }
        jpeg_finish_decompress(&cinfo);
    });
}

// libjpeg's output goes straight into a growing vector.
struct VectorDestination {
    jpeg_destination_mgr pub;  // first, so the library's pointer is also ours
    std::vector<uint8_t>* out;
};

VectorDestination& DestinationOf(j_compress_ptr cinfo) {
    return *reinterpret_cast<VectorDestination*>(cinfo->dest);
}

// Grows the output to at least the given size and points the library at the new space.
bool GrowOutput(j_compress_ptr cinfo, size_t used, size_t size) {
    std::vector<uint8_t>& out = *DestinationOf(cinfo).out;
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    cinfo->dest->next_output_byte = out.data() + used;
    cinfo->dest->free_in_buffer = out.size() - used;
    return true;
}

void InitDestination(j_compress_ptr cinfo) {
    if (!GrowOutput(cinfo, 0, 64 << 10)) {
        AbortWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    // The library only calls this when the whole buffer is full.
    const size_t used = DestinationOf(cinfo).out->size();
    if (!GrowOutput(cinfo, used, used * 2)) {
        AbortWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    }
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    std::vector<uint8_t>& out = *DestinationOf(cinfo).out;
    out.resize(out.size() - cinfo->dest->free_in_buffer);
}

bool RunEncode(const Bitmap24& bitmap, int32_t quality, const std::vector<std::string>& comments,
               VectorDestination& dest, ErrorManager& err) {
    jpeg_compress_struct cinfo;
    return RunGuarded(cinfo, err, [&] {
        cinfo.dest = &dest.pub;
        cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width);
        cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);  // YCbCr with a JFIF header
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        for (const std::string& comment : comments) {
            jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data()),
                              static_cast<unsigned int>(comment.size()));
        }
        while (cinfo.next_scanline < cinfo.image_height) {
            // The library does not write through the row pointer.
            JSAMPROW row =
                const_cast<uint8_t*>(bitmap.Row(static_cast<int32_t>(cinfo.next_scanline)));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
    });
}

// Copies the saved comment markers; false when memory cannot be had.
bool CollectComments(jpeg_saved_marker_ptr marker, std::vector<std::string>& comments) noexcept {
    try {
        for (; marker != nullptr; marker = marker->next) {
            if (marker->marker != JPEG_COM) continue;
            comments.emplace_back(reinterpret_cast<const char*>(marker->data), marker->data_length);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Only the header is read.
bool RunReadComments(std::span<const uint8_t> bytes, std::vector<std::string>& comments,
                     ErrorManager& err) {
    jpeg_decompress_struct cinfo;
    return RunGuarded(cinfo, err, [&] {
        cinfo.mem->max_memory_to_use = MemoryBudget(bytes.size());
        jpeg_save_markers(&cinfo, JPEG_COM, 0xFFFF);
        jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&cinfo, TRUE);
        if (!CollectComments(cinfo.marker_list, comments)) {
            AbortWith(reinterpret_cast<j_common_ptr>(&cinfo), "out of memory");
        }
    });
}

bool Fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace

bool EncodeJpeg(const Bitmap24& bitmap, int32_t quality, std::vector<uint8_t>& out,
                std::string* error) {
    return EncodeJpeg(bitmap, quality, {}, out, error);
}

bool EncodeJpeg(const Bitmap24& bitmap, int32_t quality, const std::vector<std::string>& comments,
                std::vector<uint8_t>& out, std::string* error) {
    if (bitmap.Width <= 0 || bitmap.Height <= 0) return Fail(error, "image has no pixels");
    for (const std::string& comment : comments) {
        if (comment.size() > kMaxJpegCommentBytes) return Fail(error, "JPEG comment too long");
    }
    std::vector<uint8_t> bytes;
    VectorDestination dest{};
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyOutputBuffer;
    dest.pub.term_destination = TermDestination;
    dest.out = &bytes;
    ErrorManager err;
    InstallErrorManager(err);
    if (!RunEncode(bitmap, quality, comments, dest, err)) return Fail(error, err.message);
    out = std::move(bytes);
    return true;
}

bool DecodeJpeg(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error) {
    DecodeTarget target;
    target.bytes = bytes;
    ErrorManager err;
    InstallErrorManager(err);
    if (!RunDecode(target, err)) return Fail(error, err.message);
    try {
        // Only a block grown row by row has spare room worth giving back.
        if (target.pixels.capacity() > target.pixels.size()) target.pixels.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        // Keeping the spare room is harmless.
    }
    bitmap.Width = target.width;
    bitmap.Height = target.height;
    bitmap.Bytes = std::move(target.pixels);
    return true;
}

}  // namespace globeforge

namespace globeforge {

bool ReadJpegComments(std::span<const uint8_t> bytes, std::vector<std::string>& comments,
                      std::string* error) {
    ErrorManager err;
    InstallErrorManager(err);
    std::vector<std::string> found;
    if (!RunReadComments(bytes, found, err)) return Fail(error, err.message);
    comments = std::move(found);
    return true;
}

}  // namespace globeforge
