#include "image/png_libpng.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace globeforge::png_detail {

namespace {

PngSession& SessionOf(png_structp png) {
    return *static_cast<PngSession*>(png_get_error_ptr(png));
}

[[noreturn]] void ErrorFn(png_structp png, png_const_charp message) {
    PngSession& session = SessionOf(png);
    std::snprintf(session.message, sizeof session.message, "PNG: %s", message);
    std::longjmp(session.jump, 1);
}

void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, png_size_t length) {
    PngSession& session = *static_cast<PngSession*>(png_get_io_ptr(png));
    if (length > session.input.size() - session.position) png_error(png, "file is truncated");
    std::memcpy(data, session.input.data() + session.position, length);
    session.position += length;
}

void WriteFn(png_structp png, png_bytep data, png_size_t length) {
    PngSession& session = *static_cast<PngSession*>(png_get_io_ptr(png));
    if (!Append(*session.output, data, length)) png_error(png, "out of memory");
}

void FlushFn(png_structp) {}

}  // namespace

bool OpenPng(PngSession& session) {
    const bool write = session.output != nullptr;
    png_structp& png = session.png;
    png = write ? png_create_write_struct(PNG_LIBPNG_VER_STRING, &session, ErrorFn, WarningFn)
                : png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, ErrorFn, WarningFn);
    session.info = png ? png_create_info_struct(png) : nullptr;
    if (!session.info) {
        ClosePng(session);
        SetMessage(session, "out of memory");
        return false;
    }
    if (write) {
        png_set_write_fn(png, &session, WriteFn, FlushFn);
    } else {
        png_set_read_fn(png, &session, ReadFn);
        png_set_user_limits(png, 65535, 65535);
        png_set_chunk_malloc_max(png, 8 << 20);
    }
    return true;
}

void ClosePng(PngSession& session) {
    if (session.output) {
        png_destroy_write_struct(&session.png, &session.info);
    } else {
        png_destroy_read_struct(&session.png, &session.info, nullptr);
    }
}

void SetMessage(PngSession& session, const char* message) {
    std::snprintf(session.message, sizeof session.message, "%s", message);
}

bool Append(std::vector<uint8_t>& out, const uint8_t* data, size_t length) {
    try {
        out.insert(out.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ResizeRow(std::vector<uint8_t>& row, size_t size) noexcept {
    try {
        row.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool Fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

}  // namespace globeforge::png_detail
