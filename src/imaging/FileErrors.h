#pragma once

// The errors of picture files: files that cannot be opened or written, with the system's
// own words for the failure, and readers' errors naming their file. Internal to the
// imaging library.

#include "common/Format.h"
#include "imaging/Bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <system_error>
#include <vector>

namespace vantorel::detail {

/// The system's words for the last failed file operation ("No such file or directory"),
/// or `fallback` when the system gave none.
inline std::string SystemCause(const std::string& fallback) {
    const int code = errno;
    return code != 0 ? std::generic_category().message(code) : fallback;
}

/// A file that cannot be opened for reading.
inline EFOpenError OpenError(const std::string& path) {
    return EFOpenError(Format("Cannot open file \"%s\"", path),
                       SystemCause("the file cannot be opened"), path);
}

/// A file that cannot be created for writing.
inline EWriteError CreateError(const std::string& path) {
    return EWriteError(Format("Cannot create file \"%s\"", path),
                       SystemCause("the file cannot be created"), path);
}

/// Runs `read`, naming the file in the EInvalidGraphic it may throw.
template <typename Read> auto NamingFile(const std::string& path, Read read) -> decltype(read()) {
    try {
        return read();
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(e.Headline(), e.Cause(), path);
    }
}

/// Opens the file and hands the stream to `read`. Throws EFOpenError when the file
/// cannot be opened, and read's EInvalidGraphic with the file named.
template <typename Read> void ReadFile(const std::string& path, Read read) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw OpenError(path);
    }
    NamingFile(path, [&] { read(static_cast<std::istream&>(file)); });
}

/// The bytes from the stream's position to its end, read in large blocks (a byte at a
/// time took longer than decoding a large picture). Leaves the stream's state as it is.
inline TByteBuffer ReadToEnd(std::istream& stream) {
    std::streambuf& buffer = *stream.rdbuf();
    // The size when the stream can tell it, so that one block holds the whole file.
    std::size_t block = std::size_t{1} << 16;
    const std::streamoff at = buffer.pubseekoff(0, std::ios::cur, std::ios::in);
    if (at >= 0) {
        const std::streamoff end = buffer.pubseekoff(0, std::ios::end, std::ios::in);
        if (buffer.pubseekpos(at, std::ios::in) == at && end > at) {
            block = std::max(block, static_cast<std::size_t>(end - at) + 1);
        }
    }
    TByteBuffer bytes;
    std::size_t size = 0;
    for (;;) {
        bytes.resize(size + block);
        const std::streamsize got = buffer.sgetn(reinterpret_cast<char*>(bytes.data() + size),
                                                 static_cast<std::streamsize>(block));
        size += static_cast<std::size_t>(std::max<std::streamsize>(got, 0));
        if (got < static_cast<std::streamsize>(block)) {
            break;
        }
        block = size; // doubles what is held
    }
    bytes.resize(size);
    return bytes;
}

} // namespace vantorel::detail
