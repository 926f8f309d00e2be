// JPEG_IO on libjpeg-turbo, after the library's example.c. Every call into libjpeg
// happens inside a plain function that holds its own setjmp and nothing with a
// destructor, so libjpeg's error exit (a longjmp) never crosses a C++ frame; the
// C++ side owns the codec objects and releases them on every path. Departures from a
// vendor-library property record: the comment is always written (this codec has no
// version without comment support); the compressed data is made in memory and only
// then written to the file, so that a failure leaves no file behind; 8-bit pixels go
// through the palette; a JPEG header whose size cannot be real is refused before any
// pixel memory is allocated; failures are exceptions carrying libjpeg's own message; a
// file whose data break off is read as far as it goes and says how far that was.
#include "imaging/JPEG_IO.h"

#include "common/Format.h"
#include "common/Parallel.h"
#include "common/TextFile.h"
#include "imaging/FileErrors.h"
#include "imaging/PixelRows.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <jerror.h>

namespace vantorel {

namespace {

const char* const kWriteError = "Error writing JPEG to file";
const char* const kInvalidJpeg = "JPEG image is not valid";
// No Huffman-coded JPEG spends less than one bit on an 8 x 8 block.
constexpr std::int64_t kMaxPixelsPerFileByte = 1024;

// ---- libjpeg side: plain data and functions only ---------------------------------

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // Warnings: the text to report, and where the decoder stood when the data ran out
    // (a file cut short, or coded data breaking off at a marker).
    char warning[JMSG_LENGTH_MAX];
    bool ranOut;
    int scanAtRunOut;
    JDIMENSION iMCURowsAtRunOut;
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data that the decoder works around) are kept, not printed; trace
// messages are dropped.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;
    }
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    const bool ranOut = err->pub.msg_code == JWRN_JPEG_EOF || err->pub.msg_code == JWRN_HIT_MARKER;
    if (err->warning[0] == '\0' || (ranOut && !err->ranOut)) {
        (*cinfo->err->format_message)(cinfo, err->warning);
    }
    if (ranOut && !err->ranOut && cinfo->is_decompressor) {
        const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        err->ranOut = true;
        err->scanAtRunOut = d->input_scan_number;
        err->iMCURowsAtRunOut = d->input_iMCU_row;
    }
    ++err->pub.num_warnings;
}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.message[0] = '\0';
    err.warning[0] = '\0';
    err.ranOut = false;
    err.scanAtRunOut = 0;
    err.iMCURowsAtRunOut = 0;
}

// Destination manager growing a malloc'd buffer that the caller frees, on every path.
struct BufferDestination {
    jpeg_destination_mgr pub;
    unsigned char* data;
    std::size_t capacity;
    std::size_t used;
};

void InitBuffer(j_compress_ptr) {}

boolean EmptyBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<BufferDestination*>(cinfo->dest);
    const std::size_t grown = dest->capacity * 2;
    auto* data = static_cast<unsigned char*>(std::realloc(dest->data, grown));
    if (data == nullptr) {
        cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    dest->data = data;
    dest->pub.next_output_byte = data + dest->capacity;
    dest->pub.free_in_buffer = grown - dest->capacity;
    dest->capacity = grown;
    return TRUE;
}

void TermBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<BufferDestination*>(cinfo->dest);
    dest->used = dest->capacity - dest->pub.free_in_buffer;
}

enum class RowKind { Direct, PaletteToBgr, PaletteToGrey };

struct CompressJob {
    int width;
    int height;
    int components;
    J_COLOR_SPACE inSpace;
    int quality;
    const unsigned char* comment;
    unsigned int commentLength;
    RowKind kind;
    const unsigned char* base; // top row
    std::ptrdiff_t stride;
    const unsigned char* lookup; // 256 x components bytes for the palette kinds
    unsigned char* rowBuffer;    // width x components bytes for the palette kinds
    BufferDestination* dest;     // data allocated by the caller
    char message[JMSG_LENGTH_MAX];
};

bool Compress(CompressJob* job) {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    if (setjmp(err.jump) != 0) {
        std::memcpy(job->message, err.message, sizeof job->message);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    job->dest->pub.init_destination = InitBuffer;
    job->dest->pub.empty_output_buffer = EmptyBuffer;
    job->dest->pub.term_destination = TermBuffer;
    job->dest->pub.next_output_byte = job->dest->data;
    job->dest->pub.free_in_buffer = job->dest->capacity;
    cinfo.dest = &job->dest->pub;
    cinfo.image_width = static_cast<JDIMENSION>(job->width);
    cinfo.image_height = static_cast<JDIMENSION>(job->height);
    cinfo.input_components = job->components;
    cinfo.in_color_space = job->inSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job->quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (job->commentLength > 0) {
        jpeg_write_marker(&cinfo, JPEG_COM, job->comment, job->commentLength);
    }
    const int components = job->components;
    for (int y = 0; y < job->height; ++y) {
        const unsigned char* src = job->base + y * job->stride;
        JSAMPROW row = const_cast<unsigned char*>(src); // libjpeg only reads input rows
        if (job->kind != RowKind::Direct) {
            for (int x = 0; x < job->width; ++x) {
                std::memcpy(job->rowBuffer + x * components, job->lookup + src[x] * components,
                            static_cast<std::size_t>(components));
            }
            row = job->rowBuffer;
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

struct DecompressSession {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    bool created;
};

bool OpenDecompress(DecompressSession* s, const unsigned char* data, unsigned long size) {
    InstallErrorManager(s->err);
    s->cinfo.err = &s->err.pub;
    if (setjmp(s->err.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    jpeg_mem_src(&s->cinfo, data, size);
    jpeg_read_header(&s->cinfo, TRUE);
    return true;
}

struct DecodeJob {
    unsigned int scaleDenom;
    J_COLOR_SPACE outSpace;
    unsigned char* base; // top row of the bitmap
    std::ptrdiff_t stride;
    int width;
    int height;
};

bool Decode(DecompressSession* s, const DecodeJob* job) {
    if (setjmp(s->err.jump) != 0) {
        return false;
    }
    s->cinfo.scale_num = 1;
    s->cinfo.scale_denom = job->scaleDenom;
    s->cinfo.out_color_space = job->outSpace;
    jpeg_start_decompress(&s->cinfo);
    if (s->cinfo.output_width != static_cast<JDIMENSION>(job->width) ||
        s->cinfo.output_height != static_cast<JDIMENSION>(job->height)) {
        std::snprintf(s->err.message, sizeof s->err.message, "unexpected output size %u x %u",
                      s->cinfo.output_width, s->cinfo.output_height);
        return false;
    }
    while (s->cinfo.output_scanline < s->cinfo.output_height) {
        JSAMPROW row =
            job->base + static_cast<std::ptrdiff_t>(s->cinfo.output_scanline) * job->stride;
        jpeg_read_scanlines(&s->cinfo, &row, 1);
    }
    jpeg_finish_decompress(&s->cinfo);
    return true;
}

// ---- C++ side --------------------------------------------------------------------

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};

class DecompressHandle {
public:
    DecompressHandle() : s_(std::make_unique<DecompressSession>()) {}
    ~DecompressHandle() {
        if (s_->created) {
            jpeg_destroy_decompress(&s_->cinfo);
        }
    }
    DecompressHandle(const DecompressHandle&) = delete;
    DecompressHandle& operator=(const DecompressHandle&) = delete;
    DecompressSession* get() { return s_.get(); }

private:
    std::unique_ptr<DecompressSession> s_;
};

// Bitmap rows (at 1 / denom scale, `height` in all) decoded before the data ran out.
int RowsDecoded(const DecompressSession& s, unsigned int denom, int height) {
    if (!s.err.ranOut || s.err.scanAtRunOut > 1) {
        return height; // complete, or every row has its first scan
    }
    const std::int64_t fileRows =
        std::int64_t{s.err.iMCURowsAtRunOut} * s.cinfo.max_v_samp_factor * DCTSIZE;
    return static_cast<int>(std::min<std::int64_t>(height, (fileRows + denom - 1) / denom));
}

// The four components, taken as R, G, B, A, stored premultiplied; then copied into
// `target` (of another format) when given.
void ConvertFourComponents(TBitmap& four, TBitmap* target) {
    for (int y = 0; y < four.Height(); ++y) {
        std::uint8_t* p = four.ScanLine(y);
        for (int x = 0; x < four.Width(); ++x, p += 4) {
            const unsigned a = p[3];
            const std::uint8_t r = p[0];
            p[0] = static_cast<std::uint8_t>(p[2] * a / 255);
            p[1] = static_cast<std::uint8_t>(p[1] * a / 255);
            p[2] = static_cast<std::uint8_t>(r * a / 255);
        }
    }
    if (target != nullptr) {
        four.SetPixelFormat(target->PixelFormat());
        for (int y = 0; y < four.Height(); ++y) {
            std::memcpy(target->ScanLine(y), four.ScanLine(y),
                        static_cast<std::size_t>(target->Stride()));
        }
    }
}

unsigned int ScaleDenominator(int scale) {
    switch (scale) {
    case 1:
        return 2;
    case 2:
        return 4;
    case 3:
        return 8;
    default:
        return 1;
    }
}

[[noreturn]] void Invalid(const std::string& cause) {
    throw EInvalidGraphic(kInvalidJpeg, cause);
}

[[noreturn]] void WriteFailed(const std::string& cause, const std::string& fileName) {
    throw EWriteError(kWriteError, cause, fileName);
}

// What one job compressed, in the buffer libjpeg wrote it to.
struct TCoded {
    std::unique_ptr<unsigned char, FreeDeleter> data;
    std::size_t size = 0;
    std::span<const unsigned char> Bytes() const { return {data.get(), size}; }
};

// The whole picture compressed by one job, or nullopt with libjpeg's words in job.message.
std::optional<TCoded> CompressWhole(CompressJob& job, std::size_t rowBufferBytes) {
    std::vector<unsigned char> rowBuffer(rowBufferBytes);
    job.rowBuffer = rowBuffer.empty() ? nullptr : rowBuffer.data();
    BufferDestination dest{};
    // About what the coding makes of a picture at the qualities used (an eighth of its
    // pixels' bytes): a buffer grown by doubling takes twice the room, in fresh pages.
    const std::size_t pixelBytes = static_cast<std::size_t>(job.width) *
                                   static_cast<std::size_t>(job.height) *
                                   static_cast<std::size_t>(job.components);
    dest.capacity = std::max<std::size_t>(std::size_t{1} << 16, pixelBytes / 8);
    dest.data = static_cast<unsigned char*>(std::malloc(dest.capacity));
    if (dest.data == nullptr) {
        std::snprintf(job.message, sizeof job.message, "out of memory");
        return std::nullopt;
    }
    job.dest = &dest;
    const bool compressed = Compress(&job); // never throws
    // Owned only now: the buffer may have moved while it grew.
    TCoded coded{std::unique_ptr<unsigned char, FreeDeleter>(dest.data), dest.used};
    if (!compressed) {
        return std::nullopt;
    }
    return coded;
}

// Where the scan's coded data start in a file libjpeg wrote (after the SOS segment), and
// where its SOF0 and SOS segments are; false when it is not laid out as libjpeg lays out
// a baseline file (SOI, then marker segments up to SOS, the data ending with EOI).
struct TLayout {
    std::size_t sof = 0;
    std::size_t sos = 0;
    std::size_t data = 0;
};
bool LayoutOf(std::span<const unsigned char> file, TLayout& at) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8 || file[file.size() - 2] != 0xFF ||
        file[file.size() - 1] != 0xD9) {
        return false;
    }
    std::size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        const unsigned char marker = file[pos + 1];
        const std::size_t length = (static_cast<std::size_t>(file[pos + 2]) << 8) | file[pos + 3];
        if (marker == 0xC0) {
            at.sof = pos;
        }
        if (marker == 0xDA) {
            at.sos = pos;
            at.data = pos + 2 + length;
            return at.sof != 0 && at.data + 2 <= file.size();
        }
        pos += 2 + length;
    }
    return false;
}

// A JPEG file as the pieces that follow one another in it: the bands' coded data are
// written from where libjpeg put them, not joined into one more copy first.
struct TJpegPieces {
    std::vector<TCoded> coded;
    std::vector<unsigned char> head;    ///< for bands, the first band's headers changed
    std::vector<unsigned char> markers; ///< the restart markers and EOI, two bytes each
    std::vector<std::span<const unsigned char>> pieces;
};

constexpr long long kBandPixels = 1 << 18;

// The picture compressed in bands of whole MCU rows on every core, each band a restart
// interval: the bands' coded data joined with restart markers between them, under the
// first band's headers with the whole height and the interval. Each block is coded as in
// one pass, so the file decodes to the very same pixels. One job for a small picture.
// libjpeg codes one picture on one core only, and the coding was a sixth of a run.
TJpegPieces CompressInBands(const CompressJob& whole, std::size_t rowBufferBytes,
                            const std::string& fileName) {
    const int mcuSide = whole.components == 1 ? 8 : 16; // grey blocks; colour 2 x 2 chroma
    const long long mcusPerRow = (whole.width + mcuSide - 1) / mcuSide;
    const int mcuRows = (whole.height + mcuSide - 1) / mcuSide;
    // Bands of about a quarter of a million pixels, whatever the cores: the same file on
    // every machine. A restart interval counts at most 65 535 MCUs.
    const long long pixels = static_cast<long long>(whole.width) * whole.height;
    const long long wanted = std::max(1LL, (pixels + kBandPixels - 1) / kBandPixels);
    const int bandMcuRows = static_cast<int>(
        std::min<long long>((mcuRows + wanted - 1) / wanted, 65535 / std::max(mcusPerRow, 1LL)));
    const int bands = bandMcuRows > 0 ? (mcuRows + bandMcuRows - 1) / bandMcuRows : 0;
    TJpegPieces out;
    if (bands < 2 || whole.height > JPEG_MAX_DIMENSION || whole.width > JPEG_MAX_DIMENSION) {
        CompressJob job = whole;
        auto file = CompressWhole(job, rowBufferBytes);
        if (!file) {
            WriteFailed(job.message, fileName);
        }
        out.pieces.push_back(file->Bytes());
        out.coded.push_back(std::move(*file));
        return out;
    }
    const int bandRows = bandMcuRows * mcuSide;
    std::vector<std::optional<TCoded>> coded(static_cast<std::size_t>(bands));
    std::vector<CompressJob> jobs(static_cast<std::size_t>(bands), whole);
    ForEachPart(bands, ThreadsFor(bands, 2), [&](long long first, long long end) {
        for (auto band = static_cast<std::size_t>(first); band < static_cast<std::size_t>(end);
             ++band) {
            CompressJob& job = jobs[band];
            const int top = static_cast<int>(band) * bandRows;
            job.base = whole.base + top * whole.stride;
            job.height = std::min(bandRows, whole.height - top);
            coded[band] = CompressWhole(job, rowBufferBytes);
        }
    });
    std::vector<TLayout> layouts(static_cast<std::size_t>(bands));
    for (std::size_t band = 0; band < coded.size(); ++band) {
        if (!coded[band]) {
            WriteFailed(jobs[band].message, fileName);
        }
        if (!LayoutOf(coded[band]->Bytes(), layouts[band])) {
            WriteFailed("libjpeg wrote a file of an unexpected layout", fileName);
        }
        out.coded.push_back(std::move(*coded[band]));
    }
    const std::span<const unsigned char> first = out.coded.front().Bytes();
    const TLayout& at = layouts.front();
    out.head.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(at.sos));
    out.head[at.sof + 5] = static_cast<unsigned char>(whole.height >> 8); // SOF0: P, then Y
    out.head[at.sof + 6] = static_cast<unsigned char>(whole.height & 0xFF);
    const auto interval = static_cast<unsigned>(bandMcuRows * mcusPerRow);
    const unsigned char dri[] = {0xFF,
                                 0xDD,
                                 0x00,
                                 0x04,
                                 static_cast<unsigned char>(interval >> 8),
                                 static_cast<unsigned char>(interval & 0xFF)};
    out.head.insert(out.head.end(), std::begin(dri), std::end(dri));
    out.head.insert(out.head.end(), first.begin() + static_cast<std::ptrdiff_t>(at.sos),
                    first.begin() + static_cast<std::ptrdiff_t>(at.data));
    for (std::size_t band = 1; band < out.coded.size(); ++band) {
        out.markers.push_back(0xFF);
        out.markers.push_back(static_cast<unsigned char>(0xD0 + ((band - 1) & 7))); // RSTn
    }
    out.markers.push_back(0xFF);
    out.markers.push_back(0xD9);
    // The markers are all in place: spans into them stay valid.
    out.pieces.push_back(out.head);
    for (std::size_t band = 0; band < out.coded.size(); ++band) {
        const std::span<const unsigned char> part = out.coded[band].Bytes();
        out.pieces.push_back(part.subspan(layouts[band].data, part.size() - layouts[band].data - 2));
        out.pieces.push_back(std::span<const unsigned char>(out.markers).subspan(2 * band, 2));
    }
    return out;
}

} // namespace

bool WriteJpegFile(const TBitmap& bitmap, const std::string& fileName, int quality, bool grey,
                   const std::string& comment) {
    if (bitmap.Width() == 0 || bitmap.Height() == 0) {
        return false;
    }
    const TPixelFormat format = bitmap.PixelFormat();
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit) {
        WriteFailed(Format("a %d-bit bitmap cannot be written as JPEG (only 8-bit and 24-bit)",
                           8 * BytesPerPixel(format)),
                    fileName);
    }
    CompressJob job{};
    job.width = bitmap.Width();
    job.height = bitmap.Height();
    job.quality = quality;
    job.base = bitmap.Bits().data();
    job.stride = bitmap.Stride();
    job.comment = reinterpret_cast<const unsigned char*>(comment.data());
    job.commentLength = static_cast<unsigned int>(std::min<std::size_t>(comment.size(), 65533));

    std::vector<unsigned char> lookup;
    std::size_t rowBufferBytes = 0;
    if (format == TPixelFormat::pf24bit) {
        job.components = 3;
        job.inSpace = JCS_EXT_BGR;
        job.kind = RowKind::Direct;
    } else {
        const std::vector<TRGBQuad>& palette = bitmap.Palette();
        const bool greyRamp = palette.empty() || palette == GrayRamp();
        job.components = grey ? 1 : 3;
        job.inSpace = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
        job.kind = grey && greyRamp ? RowKind::Direct
                   : grey           ? RowKind::PaletteToGrey
                                    : RowKind::PaletteToBgr;
        lookup.resize(256 * static_cast<std::size_t>(job.components));
        for (std::size_t i = 0; i < 256; ++i) {
            const TRGBQuad q =
                greyRamp ? TRGBQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                                    static_cast<std::uint8_t>(i), 0}
                : i < palette.size() ? palette[i]
                                     : TRGBQuad{};
            if (grey) {
                lookup[i] = detail::GreyLevel(q.Red, q.Green, q.Blue);
            } else {
                lookup[3 * i] = q.Blue;
                lookup[3 * i + 1] = q.Green;
                lookup[3 * i + 2] = q.Red;
            }
        }
        rowBufferBytes = static_cast<std::size_t>(job.width) * job.components;
        job.lookup = lookup.data();
    }

    const TJpegPieces data = CompressInBands(job, rowBufferBytes, fileName);
    bool written = false;
    std::string cause;
    {
        std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
        if (file) {
            for (const auto piece : data.pieces) {
                file.write(reinterpret_cast<const char*>(piece.data()),
                           static_cast<std::streamsize>(piece.size()));
            }
            file.close();
            written = !file.fail();
        }
        if (!written) {
            cause = detail::SystemCause("the file cannot be written");
        }
    }
    if (!written) {
        std::error_code ignored;
        std::filesystem::remove(fileName, ignored);
        WriteFailed(cause, fileName);
    }
    return true;
}

TJpegReadResult ReadJpegFile(TBitmap* bitmap, const std::string& fileName, bool adoptFormat,
                             int scale) {
    if (bitmap == nullptr) {
        throw std::invalid_argument("ReadJpegFile needs a bitmap");
    }
    const std::optional<std::string> bytes = ReadFileBytes(fileName);
    if (!bytes) {
        throw detail::OpenError(fileName);
    }
    return detail::NamingFile(fileName, [&] {
        return ReadJpegData(bitmap,
                            {reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()},
                            adoptFormat, scale);
    });
}

TJpegReadResult ReadJpegData(TBitmap* bitmap, std::span<const std::uint8_t> data, bool adoptFormat,
                             int scale) {
    if (bitmap == nullptr) {
        throw std::invalid_argument("ReadJpegData needs a bitmap");
    }
    int channels = 0;
    if (bitmap->PixelFormat() == TPixelFormat::pf8bit) {
        channels = 1;
    } else if (bitmap->PixelFormat() == TPixelFormat::pf24bit) {
        channels = 3;
    }
    if (channels == 0 && !adoptFormat) {
        throw EInvalidGraphicOperation("A JPEG is read into an 8-bit or 24-bit bitmap only");
    }
    DecompressHandle handle;
    DecompressSession* s = handle.get();
    if (!OpenDecompress(s, data.data(), static_cast<unsigned long>(data.size()))) {
        Invalid(s->err.message);
    }
    const std::int64_t w = s->cinfo.image_width;
    const std::int64_t h = s->cinfo.image_height;
    const unsigned int denom = ScaleDenominator(scale);
    const auto targetWidth = static_cast<int>((w + denom - 1) / denom);
    const auto targetHeight = static_cast<int>((h + denom - 1) / denom);
    const int components = s->cinfo.num_components;
    if (components != 1 && components != 3 && components != 4) {
        Invalid(Format("%d colour components", components));
    }
    if (w * h > kMaxPixelsPerFileByte * static_cast<std::int64_t>(data.size())) {
        Invalid(Format("a %d x %d image cannot be held in %d bytes", static_cast<long long>(w),
                       static_cast<long long>(h), static_cast<unsigned long long>(data.size())));
    }
    if (adoptFormat) {
        channels = components;
    }
    std::unique_ptr<TBitmap> staging; // four components into a one- or three-channel bitmap
    try {
        bitmap->SetSize(0, 0);
        if (adoptFormat) {
            bitmap->SetPixelFormat(channels == 1   ? TPixelFormat::pf8bit
                                   : channels == 3 ? TPixelFormat::pf24bit
                                                   : TPixelFormat::pf32bit);
        }
        bitmap->SetSize(targetWidth, targetHeight);
        if (components == 4 && channels != 4) {
            staging = std::make_unique<TBitmap>();
            staging->SetPixelFormat(TPixelFormat::pf32bit);
            staging->SetSize(targetWidth, targetHeight);
        }
    } catch (const EInvalidGraphicOperation& e) {
        Invalid(e.what());
    }

    TBitmap& target = staging ? *staging : *bitmap;
    DecodeJob job{};
    job.scaleDenom = denom;
    job.width = targetWidth;
    job.height = targetHeight;
    job.stride = target.Stride();
    job.base = target.Bits().data();
    job.outSpace = components == 4 ? JCS_CMYK : channels == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    if (!Decode(s, &job)) {
        Invalid(s->err.message);
    }
    TJpegReadResult result;
    result.RowsInHeader = targetHeight;
    result.RowsDecoded = RowsDecoded(*s, denom, targetHeight);
    result.Warning = s->err.warning;
    if (result.RowsDecoded == 0 && targetHeight > 0) {
        Invalid(result.Warning); // nothing of the picture is there
    }
    if (components == 4) {
        ConvertFourComponents(target, staging ? bitmap : nullptr);
    }
    bitmap->SetModified(true);
    return result;
}

} // namespace vantorel
