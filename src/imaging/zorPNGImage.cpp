// TPngImage on libpng 1.6, after the read and write sequences of libpng's manual
// (libpng-manual.txt, "Reading PNG files" and "Writing PNG files"). Every call into
// libpng happens inside a plain function that holds its own setjmp and nothing with a
// destructor, so libpng's error exit (a longjmp) never crosses a C++ frame; the C++ side
// owns the structures and destroys them on every path, then throws the error's text.
//
// Where this goes beyond a plain libpng wrapper of the same interface:
// - the structures are made with the linked library's version string (an old fixed
//   one makes libpng 1.6 refuse to start);
// - the stream callbacks move any number of bytes libpng asks for (libpng 1.6 asks for
//   whole text chunks and colour profiles at once, often more than 8 KiB); a stream that
//   ends early is an error;
// - the callbacks find their stream and image through libpng's own io and error
//   pointers, not through process-wide variables, so nothing dangles after an error;
// - a palette image read without ForceColor keeps its palette at every bit depth (not
//   only at 8 bits), otherwise 1-, 2- and 4-bit palette images showed as grey;
// - writing describes the rows as they are held (after a read: expanded, unpacked,
//   16-bit little-endian, alpha inverted), so a read image writes back unchanged; the
//   published BitDepth and ColorType stay the values of the file read;
// - an image without pixels is not written at all (a header without image data or end
//   chunk is a file no reader accepts);
// - two-channel rows (grey + alpha) reach a bitmap as grey blended like the four-channel
//   case rather than as raw bytes in a 5-6-5 word; 16-bit samples give their high byte;
// - a header whose pixels could not be real is refused before pixel memory is taken, and
//   libpng's own blocks are limited to the size of the stream, or 16 MiB for small ones.
#include "imaging/zorPNGImage.h"

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Parallel.h"
#include "common/StringUtils.h"
#include "imaging/Canvas.h"
#include "imaging/FileErrors.h"

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace vantorel {

namespace {

const char* const kNotPng = "Is not a valid PNG !";
const char* const kEndOfStream = "Unexpected end of PNG stream";
const char* const kStreamWrite = "Cannot write the PNG stream";
constexpr double kScreenGamma = 2.2;
constexpr double kDefaultFileGamma = 0.45455;
constexpr std::uint64_t kProgressIntervalMs = 100;
// Deflate cannot expand data more than about 1032 times.
constexpr std::int64_t kMaxInflateRatio = 1032;
// Largest single block libpng may take beyond the size of the stream. libpng 1.6.39
// allocates a text chunk's buffer from the length its header claims before reading it,
// so a lying length could ask for 2 GiB; a refused block makes libpng give up on the
// file. Real files stay far below: rows take at most 65536 x 8 bytes, decompressed text
// and profiles at most 8 MB (libpng's own limit), and no chunk is longer than the
// stream that holds it.
constexpr std::int64_t kMaxAllocation = std::int64_t{16} << 20;

// ---- shared by the callbacks: plain data reached through libpng's pointers ---------

struct IoContext {
    std::istream* in = nullptr;
    std::ostream* out = nullptr;
    TPngImage* image = nullptr;
    // Rows of the image read or written, for the progress reports.
    int height = 0;
    // An exception thrown by the stream or the progress handler, rethrown after libpng
    // has been left.
    std::exception_ptr pending;
    // Largest block libpng may allocate, bytes.
    std::int64_t allocationLimit = kMaxAllocation;
    char message[256] = {};
};

IoContext* ContextOf(png_structp png) {
    return static_cast<IoContext*>(png_get_error_ptr(png));
}

void ErrorExit(png_structp png, png_const_charp message) {
    IoContext* context = ContextOf(png);
    std::snprintf(context->message, sizeof context->message, "%s",
                  message != nullptr ? message : "PNG error");
    png_longjmp(png, 1);
}

// libpng's warnings (damaged ancillary chunks it skips) are not printed.
void Warning(png_structp, png_const_charp) {}

png_voidp LimitedMalloc(png_structp png, png_alloc_size_t size) {
    const auto* context = static_cast<const IoContext*>(png_get_mem_ptr(png));
    return size <= static_cast<std::uint64_t>(context->allocationLimit) ? std::malloc(size)
                                                                        : nullptr;
}

void Free(png_structp, png_voidp block) {
    std::free(block);
}

// The C++ halves of the callbacks: no exception escapes, the result says whether to go
// on. The libpng halves call png_error only when nothing with a destructor is alive.
bool ReadBytes(IoContext& context, png_bytep data, std::size_t length) {
    try {
        context.in->read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(length));
        return static_cast<std::size_t>(context.in->gcount()) == length;
    } catch (...) {
        context.pending = std::current_exception();
    }
    return false;
}

bool WriteBytes(IoContext& context, png_bytep data, std::size_t length) {
    try {
        context.out->write(reinterpret_cast<const char*>(data),
                           static_cast<std::streamsize>(length));
        return static_cast<bool>(*context.out);
    } catch (...) {
        context.pending = std::current_exception();
    }
    return false;
}

} // namespace

// The row report is private to the image; this gives the callbacks a way in.
struct PngCallbacks {
    static bool Row(IoContext& context, std::uint32_t row) {
        try {
            context.image->ReportRow(row, context.height);
            return true;
        } catch (...) {
            context.pending = std::current_exception();
            return false;
        }
    }
};

namespace {

void ReadCallback(png_structp png, png_bytep data, std::size_t length) {
    if (!ReadBytes(*static_cast<IoContext*>(png_get_io_ptr(png)), data, length)) {
        png_error(png, kEndOfStream);
    }
}

void WriteCallback(png_structp png, png_bytep data, std::size_t length) {
    if (!WriteBytes(*static_cast<IoContext*>(png_get_io_ptr(png)), data, length)) {
        png_error(png, kStreamWrite);
    }
}

void FlushCallback(png_structp) {}

void RowCallback(png_structp png, png_uint_32 row, int) {
    if (!PngCallbacks::Row(*static_cast<IoContext*>(png_get_io_ptr(png)), row)) {
        png_error(png, "Stopped by the progress handler");
    }
}

// The header chunk's values.
struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int interlace;
    int compression;
    int filterMethod;
};

// ---- reading: two plain functions with their own setjmp ----------------------------

struct ReadHeaderJob {
    bool forceColor;
    PngHeader ihdr;
    bool hasBackground;
    int passes;
    std::size_t rowBytes;
    int channels;
};

bool ReadHeader(png_structp png, png_infop info, ReadHeaderJob* job) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    PngHeader& h = job->ihdr;
    png_set_sig_bytes(png, 4);
    png_read_info(png, info);
    png_get_IHDR(png, info, &h.width, &h.height, &h.bitDepth, &h.colorType, &h.interlace,
                 &h.compression, &h.filterMethod);
    png_color_16p background = nullptr;
    job->hasBackground = png_get_bKGD(png, info, &background) != 0;

    if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
        if (job->forceColor) {
            png_set_palette_to_rgb(png);
        }
    }
    if (h.colorType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) {
        png_set_tRNS_to_alpha(png);
    }
    if (job->forceColor &&
        (h.colorType == PNG_COLOR_TYPE_GRAY || h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA)) {
        png_set_gray_to_rgb(png);
    }
    double fileGamma = 0;
    if (png_get_gAMA(png, info, &fileGamma) != 0) {
        png_set_gamma(png, kScreenGamma, fileGamma);
    } else {
        png_set_gamma(png, kScreenGamma, kDefaultFileGamma);
    }
    png_set_invert_alpha(png);
    if (h.bitDepth < 8) {
        png_set_packing(png);
    }
    if (h.bitDepth == 16) {
        png_set_swap(png);
    }
    job->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    job->rowBytes = png_get_rowbytes(png, info);
    job->channels = png_get_channels(png, info);
    return true;
}

bool ReadPixels(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_read_status_fn(png, RowCallback);
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

// ---- writing: one plain function with its own setjmp --------------------------------

struct WriteJob {
    int level;
    PngHeader ihdr;
    int filters;
    png_colorp palette;
    int paletteCount;
    png_textp texts;
    int textCount;
    bool pack;
    bool swap;
    bool invertAlpha;
    bool bgr;
    png_bytepp rows;
    png_time time;
    // The image data coded already (a zlib stream of the filtered rows), or none.
    const unsigned char* idat;
    std::size_t idatSize;
};

bool WritePng(png_structp png, png_infop info, WriteJob* job) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    const PngHeader& h = job->ihdr;
    png_set_compression_level(png, job->level);
    png_set_IHDR(png, info, h.width, h.height, h.bitDepth, h.colorType, h.interlace, h.compression,
                 h.filterMethod);
    if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, job->palette, job->paletteCount);
    }
    if (job->textCount > 0) {
        png_set_text(png, info, job->texts, job->textCount);
    }
    png_write_info(png, info);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, job->filters);
    if (job->pack) {
        png_set_packing(png);
    }
    if (job->swap) {
        png_set_swap(png);
    }
    if (job->invertAlpha) {
        png_set_invert_alpha(png);
    }
    if (job->bgr) {
        png_set_bgr(png);
    }
    if (job->idat != nullptr) {
        // The rows coded already: their IDAT chunks, then what png_write_end would add.
        constexpr std::size_t kChunk = std::size_t{1} << 20;
        for (std::size_t at = 0; at < job->idatSize; at += kChunk) {
            png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), job->idat + at,
                            std::min(kChunk, job->idatSize - at));
        }
        const png_time& t = job->time;
        const png_byte time[7] = {static_cast<png_byte>(t.year >> 8),
                                  static_cast<png_byte>(t.year & 0xFF),
                                  t.month,
                                  t.day,
                                  t.hour,
                                  t.minute,
                                  t.second};
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("tIME"), time, sizeof time);
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
        png_write_flush(png);
        return true;
    }
    png_set_write_status_fn(png, RowCallback);
    png_write_image(png, job->rows);
    png_set_tIME(png, info, &job->time);
    png_write_end(png, info);
    return true;
}

// ---- rows coded in bands on every core ------------------------------------------------

// The rows of an 8-bit picture of `channels` samples a pixel (blue first when bgr), each
// row its filter byte then the row through one filter (None or Sub), deflated as one zlib
// stream: in bands of about a quarter of a million bytes on every core, each band primed
// with the 32 KB before it and ended with a sync flush, the last with the stream's end.
// zlib codes one stream on one core only, and writing took a third of a pass.
std::vector<unsigned char> DeflateRowsInBands(const std::vector<png_bytep>& rows, int width,
                                              int channels, bool bgr, bool sub, int level) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    const std::size_t filtered = rowBytes + 1;
    const auto height = static_cast<long long>(rows.size());
    const auto filter = [&](long long y, unsigned char* out) {
        const png_bytep row = rows[static_cast<std::size_t>(y)];
        *out++ = sub ? 1 : 0;
        if (bgr) {
            for (std::size_t i = 0; i < rowBytes; i += 3) {
                out[i] = row[i + 2];
                out[i + 1] = row[i + 1];
                out[i + 2] = row[i];
            }
        } else {
            std::memcpy(out, row, rowBytes);
        }
        if (sub) {
            for (std::size_t i = rowBytes; i-- > static_cast<std::size_t>(channels);) {
                out[i] = static_cast<unsigned char>(out[i] - out[i - channels]);
            }
        }
    };
    constexpr std::size_t kBandBytes = std::size_t{1} << 18;
    constexpr std::size_t kWindow = std::size_t{1} << 15;
    const long long bandRows =
        std::max<long long>(1, static_cast<long long>(kBandBytes / filtered));
    const long long bands = (height + bandRows - 1) / bandRows;
    struct TBand {
        std::vector<unsigned char> coded;
        uLong adler = 1;
        uLong length = 0;
        bool ok = false;
    };
    std::vector<TBand> out(static_cast<std::size_t>(bands));
    ForEachPart(bands, ThreadsFor(bands, 2), [&](long long first, long long end) {
        std::vector<unsigned char> data;
        for (long long band = first; band < end; ++band) {
            const long long top = band * bandRows;
            const long long bottom = std::min(height, top + bandRows);
            // The rows before the band that the window reaches, then the band's own.
            const long long primed =
                std::max<long long>(0, top - static_cast<long long>(kWindow / filtered + 1));
            data.resize(static_cast<std::size_t>(bottom - primed) * filtered);
            for (long long y = primed; y < bottom; ++y) {
                filter(y, data.data() + static_cast<std::size_t>(y - primed) * filtered);
            }
            const std::size_t own = static_cast<std::size_t>(top - primed) * filtered;
            TBand& b = out[static_cast<std::size_t>(band)];
            z_stream z{};
            if (deflateInit2(&z, level, Z_DEFLATED, -15, 8,
                             sub ? Z_FILTERED : Z_DEFAULT_STRATEGY) != Z_OK) {
                continue;
            }
            const std::size_t dictionary = std::min(own, kWindow);
            bool ok =
                dictionary == 0 || deflateSetDictionary(&z, data.data() + own - dictionary,
                                                        static_cast<uInt>(dictionary)) == Z_OK;
            const std::size_t length = data.size() - own;
            b.coded.resize(deflateBound(&z, static_cast<uLong>(length)) + 16);
            z.next_in = data.data() + own;
            z.avail_in = static_cast<uInt>(length);
            z.next_out = b.coded.data();
            z.avail_out = static_cast<uInt>(b.coded.size());
            const bool last = band + 1 == bands;
            ok = ok &&
                 deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH) == (last ? Z_STREAM_END : Z_OK) &&
                 z.avail_in == 0;
            b.coded.resize(b.coded.size() - z.avail_out);
            deflateEnd(&z);
            b.adler = adler32(1, data.data() + own, static_cast<uInt>(length));
            b.length = static_cast<uLong>(length);
            b.ok = ok;
        }
    });
    // zlib's header for a 32 KB window at this level, the bands, the Adler-32 of it all.
    const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    unsigned header = (0x78u << 8) | (levelFlags << 6);
    header += 31 - header % 31;
    std::vector<unsigned char> stream = {static_cast<unsigned char>(header >> 8),
                                         static_cast<unsigned char>(header & 0xFF)};
    uLong adler = 1;
    for (const TBand& b : out) {
        if (!b.ok) {
            return {};
        }
        stream.insert(stream.end(), b.coded.begin(), b.coded.end());
        adler = adler32_combine(adler, b.adler, static_cast<z_off_t>(b.length));
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        stream.push_back(static_cast<unsigned char>((adler >> shift) & 0xFF));
    }
    return stream;
}

// ---- the C++ side --------------------------------------------------------------------

// A libpng structure with its information structure, both destroyed on every path.
// Made with the linked library's own version string.
class PngStructs {
public:
    enum class Kind { Read, Write };
    PngStructs(Kind kind, IoContext& context)
        : kind_(kind),
          png_(kind == Kind::Read
                   ? png_create_read_struct_2(png_get_libpng_ver(nullptr), &context, ErrorExit,
                                              Warning, &context, LimitedMalloc, Free)
                   : png_create_write_struct(png_get_libpng_ver(nullptr), &context, ErrorExit,
                                             Warning)) {}
    ~PngStructs() {
        png_infopp info = info_ != nullptr ? &info_ : nullptr;
        if (kind_ == Kind::Read) {
            png_destroy_read_struct(&png_, info, nullptr);
        } else {
            png_destroy_write_struct(&png_, info);
        }
    }
    PngStructs(const PngStructs&) = delete;
    PngStructs& operator=(const PngStructs&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    bool CreateInfo() { return (info_ = png_create_info_struct(png_)) != nullptr; }

private:
    Kind kind_;
    png_structp png_;
    png_infop info_ = nullptr;
};

// Bytes left in the stream from its current position, or -1 when it cannot tell.
std::int64_t RemainingBytes(std::istream& stream) {
    const std::istream::pos_type here = stream ? stream.tellg() : std::istream::pos_type(-1);
    if (here == std::istream::pos_type(-1)) {
        return -1;
    }
    stream.seekg(0, std::ios::end);
    const std::istream::pos_type end = stream ? stream.tellg() : std::istream::pos_type(-1);
    stream.clear();
    stream.seekg(here);
    if (end == std::istream::pos_type(-1) || end < here) {
        return -1;
    }
    return static_cast<std::int64_t>(end - here);
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

// Text chunks hold Latin-1, the 8-bit code page PNG prescribes for them; characters
// outside it become '?'.
std::string Utf8ToLatin1(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        int length = 1;
        unsigned code = u;
        if (u >= 0xF0) {
            length = 4;
            code = u & 0x07u;
        } else if (u >= 0xE0) {
            length = 3;
            code = u & 0x0Fu;
        } else if (u >= 0xC0) {
            length = 2;
            code = u & 0x1Fu;
        } else if (u >= 0x80) {
            code = '?';
        }
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < text.size(); ++k) {
            code = (code << 6) |
                   (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3Fu);
        }
        out += code <= 0xFF ? static_cast<char>(code) : '?';
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::string ChunkText(const png_text& chunk) {
    const std::string_view text(chunk.text != nullptr ? chunk.text : "",
                                chunk.compression >= PNG_ITXT_COMPRESSION_NONE ? chunk.itxt_length
                                                                               : chunk.text_length);
    // International text is UTF-8 already.
    return chunk.compression >= PNG_ITXT_COMPRESSION_NONE ? std::string(text) : Latin1ToUtf8(text);
}

int ChannelsOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 0;
    }
}

} // namespace

std::uint64_t SystemTickCount() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

TPngImage::TPngImage() = default;

std::span<const std::uint8_t> TPngImage::Row(int y) const {
    if (y < 0 || y >= height_ || pixels_.empty()) {
        throw std::out_of_range("PNG row out of range");
    }
    return {pixels_.data() + static_cast<std::size_t>(y) * rowBytes_, rowBytes_};
}

void TPngImage::ReportProgress(TProgressStage stage, int percent, const std::string& message) {
    if (stage == TProgressStage::psStarting) {
        lastTick_ = TickCount ? TickCount() : SystemTickCount();
    }
    if (OnProgress) {
        OnProgress(*this, stage, percent, message);
    }
}

void TPngImage::ReportRow(std::uint32_t row, int height) {
    if (!OnProgress || height <= 0) {
        return;
    }
    const std::uint64_t now = TickCount ? TickCount() : SystemTickCount();
    if (now - lastTick_ <= kProgressIntervalMs) {
        return;
    }
    lastTick_ = now;
    const auto percent = static_cast<int>(std::int64_t{row} * 100 / height);
    OnProgress(*this, TProgressStage::psRunning, percent, "Running");
}

void TPngImage::SetPixels(int width, int height, int colorType, int bitDepth,
                          std::vector<std::uint8_t> rows, std::vector<TRGBQuad> palette) {
    const int channels = ChannelsOf(colorType);
    if (channels == 0) {
        throw std::invalid_argument(Format("PNG colour type %d does not exist", colorType));
    }
    if (bitDepth != 8 && !(bitDepth == 16 && colorType != PNG_COLOR_TYPE_PALETTE)) {
        throw std::invalid_argument(
            Format("Bit depth %d is not held for colour type %d", bitDepth, colorType));
    }
    if (width < 1 || height < 1 || width > TBitmap::kMaxDimension ||
        height > TBitmap::kMaxDimension) {
        throw std::invalid_argument(Format("PNG size %d x %d is out of range", width, height));
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE && (palette.empty() || palette.size() > 256)) {
        throw std::invalid_argument("A palette image needs 1 to 256 palette entries");
    }
    const std::size_t rowBytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(channels * bitDepth / 8);
    if (rows.size() != rowBytes * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("PNG pixel bytes do not match the size");
    }
    width_ = width;
    height_ = height;
    colorType_ = rowColorType_ = colorType;
    bitDepth_ = rowDepth_ = bitDepth;
    channels_ = channels;
    rowBytes_ = rowBytes;
    pixels_ = std::move(rows);
    palette_ = colorType == PNG_COLOR_TYPE_PALETTE ? std::move(palette) : std::vector<TRGBQuad>{};
}

// ---- reading, step by step --------------------------------------------------------

// TPngImage::ReadStream. The image takes the header values and the texts before the
// pixels are read, so that a failed read keeps those but never pixels.
class PngReader {
public:
    PngReader(TPngImage& image, std::istream& stream) : image_(image), stream_(stream) {}
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    void Read() {
        remaining_ = RemainingBytes(stream_);
        CheckSignature();
        context_.in = &stream_;
        context_.image = &image_;
        context_.allocationLimit = std::max(kMaxAllocation, remaining_ + 1024);
        PngStructs structs(PngStructs::Kind::Read, context_);
        if (structs.png() == nullptr) {
            return;
        }
        image_.ReportProgress(TProgressStage::psStarting, 0, "Start PNG read");
        if (!structs.CreateInfo()) {
            throw EInvalidGraphic("Failed to Create info struct");
        }
        png_ = structs.png();
        info_ = structs.info();
        png_set_read_fn(png_, &context_, ReadCallback);
        // Sizes TBitmap could not hold are refused by libpng while it reads the header.
        png_set_user_limits(png_, TBitmap::kMaxDimension, TBitmap::kMaxDimension);

        header_.forceColor = image_.ForceColor;
        if (!ReadHeader(png_, info_, &header_)) {
            Fail();
        }
        ClearTexts();
        const int textsBeforeImage = TakeTexts(0);
        TakeHeaderValues();
        std::vector<TRGBQuad> palette = KeptPalette();
        CheckSize();
        context_.height = image_.height_;
        std::vector<std::uint8_t> pixels = ReadRows();
        TakeTexts(textsBeforeImage);
        TakeRows(std::move(pixels), std::move(palette));
        TakeTime();
        image_.ReportProgress(TProgressStage::psEnding, 100, "Ended PNG read");
    }

private:
    void CheckSignature() {
        png_byte signature[4] = {};
        stream_.read(reinterpret_cast<char*>(signature), sizeof signature);
        if (stream_.gcount() != static_cast<std::streamsize>(sizeof signature) ||
            png_sig_cmp(signature, 0, sizeof signature) != 0) {
            throw EInvalidGraphic(kNotPng);
        }
    }

    // The stream's or the progress handler's own exception, else libpng's message.
    [[noreturn]] void Fail() const {
        if (context_.pending) {
            std::rethrow_exception(context_.pending);
        }
        throw EInvalidGraphic(context_.message, context_.message);
    }

    void ClearTexts() {
        image_.textChk_.Clear();
        image_.Title.clear();
        image_.Author.clear();
        image_.Description.clear();
    }

    // Adds the text chunks from index `from` on; returns how many libpng holds.
    int TakeTexts(int from) {
        png_textp texts = nullptr;
        const int count = png_get_text(png_, info_, &texts, nullptr);
        for (int i = from; i < count; ++i) {
            const std::string key = texts[i].key != nullptr ? texts[i].key : "";
            const std::string text = ChunkText(texts[i]);
            image_.textChk_.Add(key + "=" + text);
            if (SameText(key, "Title")) {
                image_.Title = text;
            } else if (SameText(key, "Author")) {
                image_.Author = text;
            } else if (SameText(key, "Description")) {
                image_.Description = text;
            }
        }
        return count;
    }

    void TakeHeaderValues() {
        const PngHeader& ihdr = header_.ihdr;
        TPngImage& im = image_;
        im.width_ = static_cast<int>(ihdr.width);
        im.height_ = static_cast<int>(ihdr.height);
        im.bitDepth_ = ihdr.bitDepth;
        im.colorType_ = ihdr.colorType;
        im.interlace_ = ihdr.interlace;
        im.compression_ = ihdr.compression;
        im.filterMethod_ = ihdr.filterMethod;
        im.transparent_ = header_.hasBackground;
        im.numberOfPasses_ = ihdr.interlace == PNG_INTERLACE_ADAM7 ? header_.passes : 0;
        im.lastModified_ = 0;
        im.channels_ = header_.channels;
        im.pixels_.clear();
        im.rowBytes_ = 0;
        im.palette_.clear();
    }

    // The palette of a palette image whose indices are kept (read without ForceColor).
    std::vector<TRGBQuad> KeptPalette() const {
        std::vector<TRGBQuad> palette;
        if (header_.ihdr.colorType == PNG_COLOR_TYPE_PALETTE && header_.channels == 1) {
            png_colorp entries = nullptr;
            int count = 0;
            if (png_get_PLTE(png_, info_, &entries, &count) != 0) {
                for (int i = 0; i < count; ++i) {
                    palette.push_back(
                        TRGBQuad{entries[i].blue, entries[i].green, entries[i].red, 0});
                }
            }
        }
        return palette;
    }

    // A lying header must not make us take memory: the pixels have to fit a bitmap, and
    // the rest of the stream has to be able to inflate to the raw rows.
    void CheckSize() const {
        const PngHeader& ihdr = header_.ihdr;
        const std::int64_t rawRowBytes =
            1 + (std::int64_t{ihdr.width} * ChannelsOf(ihdr.colorType) * ihdr.bitDepth + 7) / 8;
        const std::int64_t decodedBytes =
            static_cast<std::int64_t>(header_.rowBytes) * std::int64_t{ihdr.height};
        if (decodedBytes > TBitmap::kMaxBytes) {
            throw EInvalidGraphic("Image too large");
        }
        // Too few bytes left for the rows the header promises: a file cut short, most
        // likely, or a header that lies.
        if (remaining_ >= 0 &&
            rawRowBytes * std::int64_t{ihdr.height} > remaining_ * kMaxInflateRatio + 4096) {
            throw EInvalidGraphic("Image too large for its file (cut short?)");
        }
    }

    std::vector<std::uint8_t> ReadRows() {
        std::vector<std::uint8_t> pixels(header_.rowBytes * header_.ihdr.height);
        std::vector<png_bytep> rows(header_.ihdr.height);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            rows[r] = pixels.data() + r * header_.rowBytes;
        }
        if (!ReadPixels(png_, info_, rows.data())) {
            Fail();
        }
        return pixels;
    }

    // The decoded rows and how they are laid out (what writing them back describes).
    void TakeRows(std::vector<std::uint8_t> pixels, std::vector<TRGBQuad> palette) {
        TPngImage& im = image_;
        const int bitDepth = header_.ihdr.bitDepth;
        im.rowBytes_ = header_.rowBytes;
        im.pixels_ = std::move(pixels);
        im.palette_ = std::move(palette);
        im.rowDepth_ = bitDepth == 16 ? 16 : 8;
        switch (header_.channels) {
        case 1:
            im.rowColorType_ = im.palette_.empty() ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
            break;
        case 2:
            im.rowColorType_ = PNG_COLOR_TYPE_GRAY_ALPHA;
            break;
        case 3:
            im.rowColorType_ = PNG_COLOR_TYPE_RGB;
            break;
        default:
            im.rowColorType_ = PNG_COLOR_TYPE_RGB_ALPHA;
            break;
        }
        if (im.rowColorType_ == PNG_COLOR_TYPE_PALETTE) {
            im.rowDepth_ = bitDepth;
        }
    }

    void TakeTime() {
        png_timep time = nullptr;
        if (png_get_tIME(png_, info_, &time) == 0 || time == nullptr) {
            return;
        }
        const int second = std::min<int>(time->second, 59);
        if (TryEncodeDate(time->year, time->month, time->day).has_value() &&
            TryEncodeTime(time->hour, time->minute, second)) {
            image_.lastModified_ = EncodeDateTime(time->year, time->month, time->day, time->hour,
                                                  time->minute, second);
        }
    }

    TPngImage& image_;
    std::istream& stream_;
    std::int64_t remaining_ = -1;
    IoContext context_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    ReadHeaderJob header_{};
};

void TPngImage::ReadStream(std::istream& stream) {
    PngReader(*this, stream).Read();
}

// The rows handed to libpng and how they are laid out.
struct PngRows {
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool bgr = false; // 8-bit colour held as blue, green, red
    std::vector<png_bytep> rows;
};

void TPngImage::WriteStream(std::ostream& stream) {
    if (pixels_.empty()) {
        throw EWriteError("Cannot write a PNG without pixels");
    }
    PngRows rows{width_, height_, rowDepth_, rowColorType_, false, {}};
    for (std::size_t r = 0; r < static_cast<std::size_t>(height_); ++r) {
        rows.rows.push_back(pixels_.data() + r * rowBytes_);
    }
    Encode(stream, rows);
}

void TPngImage::Encode(std::ostream& stream, const PngRows& rows) {
    IoContext context;
    context.out = &stream;
    context.image = this;
    context.height = rows.height;
    PngStructs structs(PngStructs::Kind::Write, context);
    ReportProgress(TProgressStage::psStarting, 0, "Starting PNG write");
    if (structs.png() == nullptr) {
        return;
    }
    if (!structs.CreateInfo()) {
        throw EWriteError("Failed to Create info struct");
    }
    png_set_write_fn(structs.png(), &context, WriteCallback, FlushCallback);

    std::vector<png_color> palette;
    for (const TRGBQuad& q : palette_) {
        palette.push_back(png_color{q.Red, q.Green, q.Blue});
    }
    // Keys and values stay alive in these strings while libpng copies them.
    const std::pair<const char*, const std::string*> fields[] = {{"Author", &Author},
                                                                 {"Description", &Description},
                                                                 {"Software", &Software},
                                                                 {"Title", &Title}};
    std::vector<std::string> keys;
    std::vector<std::string> values;
    for (const auto& [key, value] : fields) {
        if (!Trim(*value).empty()) {
            keys.emplace_back(key);
            values.push_back(Utf8ToLatin1(*value));
        }
    }
    std::vector<png_text> texts(keys.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
        texts[i].key = keys[i].data();
        texts[i].text = values[i].data();
        texts[i].text_length = values[i].size();
    }
    const DateTimeParts now = DecodeDateTime(NowUTC());

    WriteJob job{};
    job.level = CompressionLevel;
    job.ihdr.width = static_cast<png_uint_32>(rows.width);
    job.ihdr.height = static_cast<png_uint_32>(rows.height);
    job.ihdr.bitDepth = rows.bitDepth;
    job.ihdr.colorType = rows.colorType;
    job.ihdr.interlace = interlace_;
    job.ihdr.compression = compression_;
    job.ihdr.filterMethod = filterMethod_;
    job.filters = Filters;
    job.palette = palette.data();
    job.paletteCount = static_cast<int>(palette.size());
    job.texts = texts.data();
    job.textCount = static_cast<int>(texts.size());
    job.pack = rows.bitDepth < 8;
    job.swap = rows.bitDepth == 16;
    job.invertAlpha = (rows.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    job.bgr = rows.bgr;
    // libpng copies each row before it changes it: the rows themselves are only read.
    job.rows = const_cast<png_bytepp>(rows.rows.data());
    job.time.year = static_cast<png_uint_16>(now.year);
    job.time.month = static_cast<png_byte>(now.month);
    job.time.day = static_cast<png_byte>(now.day);
    job.time.hour = static_cast<png_byte>(now.hour);
    job.time.minute = static_cast<png_byte>(now.minute);
    job.time.second = static_cast<png_byte>(now.second);
    // A large 8-bit picture with one filter and nobody watching the rows: coded in bands.
    std::vector<unsigned char> idat;
    const int channels =
        rows.colorType == PNG_COLOR_TYPE_RGB                                                ? 3
        : rows.colorType == PNG_COLOR_TYPE_GRAY || rows.colorType == PNG_COLOR_TYPE_PALETTE ? 1
                                                                                            : 0;
    if (channels > 0 && rows.bitDepth == 8 && job.ihdr.interlace == PNG_INTERLACE_NONE &&
        job.ihdr.filterMethod == PNG_FILTER_TYPE_BASE &&
        (Filters == PNG_FILTER_SUB || Filters == PNG_FILTER_NONE) && !OnProgress &&
        static_cast<long long>(rows.width) * rows.height * channels >= (1LL << 20)) {
        idat = DeflateRowsInBands(rows.rows, rows.width, channels, rows.bgr,
                                  Filters == PNG_FILTER_SUB, CompressionLevel);
        job.idat = idat.empty() ? nullptr : idat.data();
        job.idatSize = idat.size();
    }
    if (!WritePng(structs.png(), structs.info(), &job)) {
        if (context.pending) {
            std::rethrow_exception(context.pending);
        }
        throw EWriteError(context.message, context.message);
    }
    ReportProgress(TProgressStage::psEnding, 100, "Ended PNG write");
}

void TPngImage::LoadFromFile(const std::string& fileName) {
    detail::ReadFile(fileName, [this](std::istream& stream) { ReadStream(stream); });
}

namespace {

EWriteError FileWriteError(const std::string& fileName) {
    return EWriteError(Format("Error writing PNG to file \"%s\"", fileName),
                       detail::SystemCause("the file cannot be written"), fileName);
}

// Runs `write`, naming the file in the EWriteError it may throw.
template <typename Write> void NamingWrittenFile(const std::string& fileName, Write write) {
    try {
        write();
    } catch (const EWriteError& e) {
        throw EWriteError(e.Headline(), e.Cause(), fileName);
    }
}

// Writes what `encode` makes to the file; a failure leaves an old file as it was. A plain
// file, or none yet, is written under a temporary name beside it as the rows are encoded,
// and that is renamed over it when complete: a whole picture is never held in memory.
// Whatever else the name stands for (a link, a file of several names, a device, a file in
// a folder where we cannot create one) is encoded in memory first and then written through
// the name.
void SaveEncoded(const std::string& fileName, const std::function<void(std::ostream&)>& encode) {
    const auto encodeNaming = [&](std::ostream& stream) {
        NamingWrittenFile(fileName, [&] { encode(stream); });
    };
    struct stat old {};
    const bool exists = ::lstat(fileName.c_str(), &old) == 0;
    if (!exists || (S_ISREG(old.st_mode) && old.st_nlink == 1)) {
        // A file we may not write is not replaced.
        if (exists && ::access(fileName.c_str(), W_OK) != 0) {
            throw detail::CreateError(fileName);
        }
        const std::string temporary = TemporaryBeside(fileName);
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (file) {
            if (exists) {
                std::error_code ignored;
                std::filesystem::permissions(
                    temporary, static_cast<std::filesystem::perms>(old.st_mode & 07777), ignored);
            }
            try {
                encodeNaming(file);
            } catch (const EWriteError& e) {
                // A file that took no more bytes is told as such, not as the encoder's failure.
                const EWriteError error = file.bad() ? FileWriteError(fileName) : e;
                ::unlink(temporary.c_str());
                throw error;
            } catch (...) {
                ::unlink(temporary.c_str());
                throw;
            }
            file.close();
            if (!file || ::rename(temporary.c_str(), fileName.c_str()) != 0) {
                const EWriteError error = FileWriteError(fileName);
                ::unlink(temporary.c_str());
                throw error;
            }
            return;
        }
        if (!exists) {
            throw detail::CreateError(fileName);
        }
    }
    std::ostringstream buffer(std::ios::binary);
    encodeNaming(buffer);
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file) {
        throw detail::CreateError(fileName);
    }
    const std::string bytes = std::move(buffer).str();
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        throw FileWriteError(fileName);
    }
}

} // namespace

void TPngImage::SaveToFile(const std::string& fileName) {
    if (pixels_.empty()) {
        // Refused before any file is made.
        std::ostringstream nothing;
        NamingWrittenFile(fileName, [&] { WriteStream(nothing); });
    }
    SaveEncoded(fileName, [this](std::ostream& stream) { WriteStream(stream); });
}

void TPngImage::SaveBitmapToFile(const TBitmap& bitmap, const std::string& fileName) {
    std::optional<TBitmap> converted;
    const TBitmap& bgr = As24Bit(bitmap, converted);
    if (bgr.Width() <= 0 || bgr.Height() <= 0) {
        throw std::invalid_argument("The bitmap has no pixels");
    }
    PngRows rows{bgr.Width(), bgr.Height(), 8, PNG_COLOR_TYPE_RGB, true, {}};
    for (int y = 0; y < bgr.Height(); ++y) {
        rows.rows.push_back(const_cast<png_bytep>(bgr.ScanLine(y)));
    }
    SaveEncoded(fileName, [&](std::ostream& stream) { Encode(stream, rows); });
}

void TPngImage::CopyToBitmap(TBitmap& bitmap, int x, int y) const {
    if (x < 0 || y < 0) {
        throw std::invalid_argument("A PNG is copied to a bitmap at x, y of 0 or more");
    }
    if (std::int64_t{y} + height_ > TBitmap::kMaxDimension) {
        throw EInvalidGraphicOperation("Image too high");
    }
    if (std::int64_t{x} + width_ > TBitmap::kMaxDimension) {
        throw EInvalidGraphicOperation("Image too wide");
    }
    if (pixels_.empty()) {
        return;
    }
    bitmap.SetSize(std::max(bitmap.Width(), x + width_), std::max(bitmap.Height(), y + height_));
    const int channels = channels_;
    if (channels <= 2) {
        bitmap.SetPixelFormat(TPixelFormat::pf8bit);
        bitmap.SetPalette(channels == 1 && !palette_.empty() ? palette_ : GrayRamp());
    } else {
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    }
    // 16-bit samples are little-endian: the high byte is the second.
    const std::size_t sampleBytes = rowDepth_ == 16 ? 2 : 1;
    const std::size_t high = sampleBytes - 1;
    const std::size_t pixelBytes = sampleBytes * static_cast<std::size_t>(channels);
    const auto blend = [](std::uint8_t d, std::uint8_t s, unsigned a) {
        return static_cast<std::uint8_t>((a * d + (255 - a) * s) / 255);
    };
    for (int r = 0; r < height_; ++r) {
        const std::uint8_t* src = pixels_.data() + static_cast<std::size_t>(r) * rowBytes_;
        std::uint8_t* dst = bitmap.ScanLine(y + r);
        for (int c = 0; c < width_; ++c, src += pixelBytes) {
            const auto sample = [&](int k) {
                return src[static_cast<std::size_t>(k) * sampleBytes + high];
            };
            switch (channels) {
            case 1:
                dst[x + c] = sample(0);
                break;
            case 2: {
                std::uint8_t& d = dst[x + c];
                d = sample(1) == 0 ? sample(0) : blend(d, sample(0), sample(1));
                break;
            }
            default: {
                std::uint8_t* d = dst + 3 * static_cast<std::size_t>(x + c);
                const unsigned a = channels >= 4 ? sample(3) : 0;
                for (int k = 0; k < 3; ++k) {
                    // The bitmap holds B, G, R.
                    d[2 - k] = a == 0 ? sample(k) : blend(d[2 - k], sample(k), a);
                }
                break;
            }
            }
        }
    }
}

void TPngImage::Draw(TCanvas& canvas, int x, int y) const {
    TBitmap temporary;
    CopyToBitmap(temporary, 0, 0);
    canvas.Draw(x, y, temporary);
}

// ---- TPngGraphic ---------------------------------------------------------------------

namespace {

// Reads into the shared image, or into a new one kept only when the read succeeds.
template <typename Read> void ReadInto(std::shared_ptr<TPngImage>& image, Read read) {
    if (image) {
        read(*image);
        return;
    }
    auto fresh = std::make_shared<TPngImage>();
    read(*fresh);
    image = std::move(fresh);
}

} // namespace

void TPngGraphic::LoadFromStream(std::istream& stream) {
    ReadInto(image_, [&stream](TPngImage& image) { image.ReadStream(stream); });
}

void TPngGraphic::LoadFromFile(const std::string& fileName) {
    ReadInto(image_, [&fileName](TPngImage& image) { image.LoadFromFile(fileName); });
}

void TPngGraphic::SaveToStream(std::ostream& stream) const {
    if (!image_) {
        throw EInvalidGraphicOperation("Cannot save an empty TPngGraphic");
    }
    image_->WriteStream(stream);
}

void TPngGraphic::SaveToFile(const std::string& fileName) const {
    if (!image_) {
        throw EInvalidGraphicOperation("Cannot save an empty TPngGraphic");
    }
    image_->SaveToFile(fileName);
}

void TPngGraphic::Draw(TCanvas& canvas) const {
    if (image_) {
        image_->Draw(canvas, 0, 0);
    }
}

void TPngGraphic::Assign(const TPngGraphic& source) {
    image_ = source.image_;
}

void TPngGraphic::SetHeight(int) {
    throw EInvalidGraphicOperation("Cannot set height on a TPngGraphic");
}

void TPngGraphic::SetWidth(int) {
    throw EInvalidGraphicOperation("Cannot set width on a TPngGraphic");
}

void TPngGraphic::LoadFromClipboardFormat() {
    throw EInvalidGraphicOperation("Cannot load a TPngGraphic from the Clipboard");
}

void TPngGraphic::SaveToClipboardFormat() const {
    throw EInvalidGraphicOperation("Cannot save a TPngGraphic to the Clipboard");
}

void TPngImage::AssignBitmap(const TBitmap& bitmap) {
    std::optional<TBitmap> converted;
    const TBitmap& bgr = As24Bit(bitmap, converted);
    const int width = bgr.Width();
    const int height = bgr.Height();
    if (width <= 0 || height <= 0) {
        throw std::invalid_argument("The bitmap has no pixels");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = bgr.ScanLine(y);
        std::uint8_t* dst = rows.data() + rowBytes * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    SetPixels(width, height, PNG_COLOR_TYPE_RGB, 8, std::move(rows));
}

} // namespace vantorel
