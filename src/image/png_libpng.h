// What the PNG writer and reader share: one libpng session, its callbacks and its
// structures, and small helpers that never throw across libpng's frames.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace globeforge::png_detail {

// libpng's error and I/O callbacks share this record with the calling function. A session
// reads input, or writes to output when that is set.
struct PngSession {
    std::jmp_buf jump;
    char message[256] = "";
    std::span<const uint8_t> input;
    size_t position = 0;
    std::vector<uint8_t>* output = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

// libpng's structures for session; a reader is limited to 65535 pixels a side and 8 MB a
// chunk. False, with the message given, when memory cannot be had. None of these calls can
// raise a libpng error, so a setjmp may follow them.
bool OpenPng(PngSession& session);
void ClosePng(PngSession& session);

// Runs body(png, info) on libpng's structures for session; false, with the message given,
// when libpng raises an error or memory cannot be had, and when body gives false (after
// giving its message). This frame holds the setjmp, and no object with a destructor may
// live in body's frame, since the error handler jumps back here past it and libpng's.
template <typename Body>
bool RunLibpng(PngSession& session, Body&& body) {
    if (!OpenPng(session)) return false;
    if (setjmp(session.jump)) {
        ClosePng(session);
        return false;
    }
    const bool done = body(session.png, session.info);
    ClosePng(session);
    return done;
}

void SetMessage(PngSession& session, const char* message);

// False when memory cannot be had.
bool Append(std::vector<uint8_t>& out, const uint8_t* data, size_t length);
bool ResizeRow(std::vector<uint8_t>& row, size_t size) noexcept;

bool Fail(std::string* error, const char* reason);

}  // namespace globeforge::png_detail
