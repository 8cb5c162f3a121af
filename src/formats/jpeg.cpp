#include "formats/jpeg.h"

#include "formats/exif.h"

#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plumora {

namespace {

// libjpeg reports errors through a callback that must not return. We leave
// with longjmp back to the one function that called setjmp. That skips every
// frame in between without running destructors, so the functions below that
// call setjmp (readHeader, startDecompress, readRows, compress) hold no local
// with a destructor: the picture and the cleanup live in their callers.

// A progressive file may hold any number of scans, and each one costs a pass
// over the blocks it covers however few bytes it takes: a run of end-of-band
// codes covers 32767 blocks in two bytes. So we limit the scans, to 500 as
// libjpeg-turbo's own tools do, and the work they cost, counted as each scan
// starts, before any of its blocks is read.
//
// The work is counted in coefficient visits. A first scan (of the DC or of a
// band of AC coefficients) costs libjpeg-turbo about as much a block as eight
// visits when a run of end-of-band codes skips it; a refining scan of an AC
// band, which looks at each coefficient of the band in every block to find
// those it refines, one visit more per coefficient. (Measured on the
// development machine: 5 ns a block for a first scan, 45 ns for a refining
// scan of coefficients 1 to 63.) Counting blocks alone let refining scans
// keep the decoder busy for seconds on a few kilobytes. (Such a file cannot
// declare a picture much larger than its data either: see
// dataCanFillPicture.)
//
// Real files cost far less than kMaxVisitsPerBlock a block of each component:
// libjpeg's usual progression about 175 for luma and 95 for chroma, three
// levels of refinement about 250; every progression with up to six levels of
// refinement fits, and only files that refine the same coefficients over and
// over cost more. A small picture may cost kVisitsAlwaysAllowed (a tenth of a
// second) and none more than kVisitsAtMost, which the usual scans of the
// largest picture we accept fit in (those of a colour picture of 2^28 pixels
// without subsampling cost some 1.5 x 2^30 visits).
constexpr int kMaxScans = 500;
constexpr std::uint64_t kVisitsPerBlockPass = 8;
constexpr std::uint64_t kMaxVisitsPerBlock = 512;
constexpr std::uint64_t kVisitsAlwaysAllowed = std::uint64_t(1) << 27;
constexpr std::uint64_t kVisitsAtMost = std::uint64_t(1) << 31;

// Rows handed to libjpeg at a time.
constexpr int kRowBatch = 16;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void failWithMessage(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onError(j_common_ptr cinfo)
{
    failWithMessage(cinfo);
}

[[noreturn]] void failBecause(j_common_ptr cinfo, const char* why)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", why);
    std::longjmp(err->jump, 1);
}

// Warnings are ignored (extraneous bytes before a marker, a bogus progression
// and the like give a picture all the same) except those that say the
// picture's data ran out: the end of the file arriving early, or a scan's data
// stopping at a marker before all its blocks are read, as in a file cut short
// and given an end marker again. libjpeg would fill the rest with grey and
// call it a success. (Each scan warns once at most, so this cannot be slow.)
void onMessage(j_common_ptr cinfo, int level)
{
    if (level < 0 && (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER))
        failBecause(cinfo, "it is cut short.");
}

// Counts the scans and the work they cost, as each scan starts.
struct ScanCounter {
    jpeg_progress_mgr pub;
    int scan = 0;
    std::uint64_t visits = 0;
    std::uint64_t visitsAllowed = 0;  // set once the picture's size is known
};

// What a scan costs a block it covers (see kVisitsPerBlockPass).
std::uint64_t visitsPerBlock(const jpeg_decompress_struct& cinfo)
{
    const bool refinesAc = cinfo.progressive_mode && cinfo.Ah != 0 && cinfo.Ss != 0;
    return kVisitsPerBlockPass + (refinesAc ? std::uint64_t(std::max(0, cinfo.Se - cinfo.Ss + 1)) : 0);
}

void onProgress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* counter = reinterpret_cast<ScanCounter*>(cinfo->progress);
    // libjpeg calls this before each row of blocks it reads; by then the
    // scan's header has been read and its size worked out.
    if (dinfo->input_scan_number == counter->scan)
        return;
    counter->scan = dinfo->input_scan_number;
    if (counter->scan > kMaxScans)
        failBecause(cinfo, "it has more than 500 scans.");
    const std::uint64_t blocks = std::uint64_t(dinfo->MCUs_per_row) * dinfo->MCU_rows_in_scan * dinfo->blocks_in_MCU;
    counter->visits += blocks * visitsPerBlock(*dinfo);
    if (counter->visits > counter->visitsAllowed)
        failBecause(cinfo, "it has too many scans for a picture of its size.");
}

void installErrorManager(ErrorManager& err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.message[0] = '\0';
}

// ---- decoding ----

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    ScanCounter scans;
};

// Owns the decoder's libjpeg state in the frames that may throw C++ exceptions.
class DecoderGuard {
public:
    explicit DecoderGuard(Decoder& d) : m_d(d) {}
    ~DecoderGuard() { jpeg_destroy_decompress(&m_d.cinfo); }
    DecoderGuard(const DecoderGuard&) = delete;
    DecoderGuard& operator=(const DecoderGuard&) = delete;

private:
    Decoder& m_d;
};

// The picture's blocks, of all its components together.
std::uint64_t blocksOf(const jpeg_decompress_struct& cinfo)
{
    std::uint64_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i)
        blocks += std::uint64_t(cinfo.comp_info[i].width_in_blocks) * cinfo.comp_info[i].height_in_blocks;
    return blocks;
}

bool readHeader(Decoder& d, const std::uint8_t* data, std::size_t size)
{
    d.cinfo.err = &d.err.pub;
    if (setjmp(d.err.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    d.scans.pub.progress_monitor = onProgress;
    d.cinfo.progress = &d.scans.pub;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    // Keep the Exif block: it says which way up the camera was held.
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&d.cinfo, TRUE);
    // The first scan's header has been read: the blocks of each component
    // are known.
    d.scans.visitsAllowed = std::clamp(kMaxVisitsPerBlock * blocksOf(d.cinfo), kVisitsAlwaysAllowed, kVisitsAtMost);
    return true;
}

// Every block of every component gets its DC coefficient from some scan, in a
// Huffman code of at least one bit. So data shorter than an eighth of a byte
// a block cannot be the picture the header declares: a file cut short, or a
// few bytes asking for an enormous picture, which libjpeg would otherwise set
// up buffers for and work through before finding the data gone (or, for a
// progressive file missing whole scans, paint grey). Arithmetic coding can
// take less than a bit a block, so it is not judged. Called once the header
// and the first scan's header are read: what is left is the scans' data.
bool dataCanFillPicture(const Decoder& d)
{
    return d.cinfo.arith_code || std::uint64_t(d.cinfo.src->bytes_in_buffer) >= (blocksOf(d.cinfo) + 7) / 8;
}

bool startDecompress(Decoder& d, J_COLOR_SPACE outSpace)
{
    if (setjmp(d.err.jump))
        return false;
    d.cinfo.out_color_space = outSpace;
    jpeg_start_decompress(&d.cinfo);
    return true;
}

std::uint8_t mul255(unsigned a, unsigned b)
{
    // a * b / 255 rounded to the nearest; 255 is odd so there is no tie.
    return std::uint8_t((a * b + 127) / 255);
}

// Rows decoded as CMYK become blue, green, red in place (both are 4 bytes a
// pixel). Adobe's files, the usual ones, store the inks inverted: 255 means no
// ink. So with c, m, y, k as stored,
//   inverted (Adobe):  R = c * k / 255                  (both already 255 - ink)
//   plain:             R = (255 - c) * (255 - k) / 255
// and likewise G from m, B from y, each rounded to the nearest.
void cmykToBgr(std::uint8_t* p, std::size_t pixels, bool inverted)
{
    for (std::size_t i = 0; i < pixels; ++i, p += 4) {
        unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        p[kBlue] = mul255(y, k);
        p[kGreen] = mul255(m, k);
        p[kRed] = mul255(c, k);
        p[kAlpha] = 255;
    }
}

// A picture block this large comes fresh from the kernel, which maps and
// clears each page on its first write: on a 24-megapixel picture a tenth of
// the decoding time, spent in the decoder's thread. mapAhead does that work
// on another core, a little ahead of the rows being decoded.
constexpr std::size_t kMapAheadFrom = std::size_t(8) << 20;
constexpr std::size_t kMapChunk = std::size_t(2) << 20;
// How far ahead of the decoder: enough never to be caught up, and so little
// that a file which fails halfway has not made us take its whole size.
constexpr std::size_t kMapLead = 16 * kMapChunk;
// Published as the decoder's progress once it has stopped, done or failed.
constexpr std::size_t kDecoderStopped = SIZE_MAX;

// Decodes every row into bits. Whenever the rows written cross a chunk
// boundary, their end is published in `written` for mapAhead.
bool readRows(Decoder& d, std::uint8_t* bits, std::size_t stride, bool cmyk, std::atomic<std::size_t>& written)
{
    if (setjmp(d.err.jump))
        return false;
    const bool inverted = d.cinfo.saw_Adobe_marker;
    const JDIMENSION height = d.cinfo.output_height;
    JSAMPROW rows[kRowBatch];
    while (d.cinfo.output_scanline < height) {
        throwIfCancelled();  // the decoder's guard frees libjpeg's state
        const JDIMENSION first = d.cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowBatch, height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + std::size_t(first + i) * stride;
        const JDIMENSION got = jpeg_read_scanlines(&d.cinfo, rows, count);
        // Converted while the rows are still in the cache.
        if (cmyk)
            cmykToBgr(rows[0], std::size_t(got) * (stride / 4), inverted);
        const std::size_t end = std::size_t(first + got) * stride;
        if (end / kMapChunk != std::size_t(first) * stride / kMapChunk) {
            written.store(end, std::memory_order_relaxed);
            written.notify_one();
        }
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

// Maps the pages of block ahead of the decoder, until it has stopped. The
// kernel maps a page as if written to without changing a byte of it, and
// leaves a page the decoder already wrote to alone, so the two need no
// other agreement. Where the kernel cannot (before Linux 5.14), the
// decoder maps its own pages as it always could.
void mapAhead(std::uint8_t* block, std::size_t size, const std::atomic<std::size_t>& written)
{
#ifdef MADV_POPULATE_WRITE
    std::size_t mapped = 0;  // a whole number of chunks, or size
    for (std::size_t w = written.load(std::memory_order_relaxed); w < size && mapped < size;
         w = written.load(std::memory_order_relaxed)) {
        const std::size_t limit = std::min(size, (w + kMapLead) / kMapChunk * kMapChunk);
        if (mapped >= limit) {
            written.wait(w, std::memory_order_relaxed);
            continue;
        }
        const std::size_t end = std::min(limit, mapped + kMapChunk);
        if (madvise(block + mapped, end - mapped, MADV_POPULATE_WRITE) != 0)
            return;
        mapped = end;
    }
#else
    (void)block;
    (void)size;
    (void)written;
#endif
}

[[noreturn]] void decodeFailed(const Decoder& d)
{
    throw PlumoraError(std::string("The JPEG file cannot be read: ") + d.err.message);
}

// ---- encoding ----

// A destination that grows a std::vector. (libjpeg's own memory destination
// reallocates behind the caller's pointer, so after a failure midway there is
// no safe way to free its buffer.)
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<std::uint8_t>* out;
};

void initDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->out->data();
    dest->pub.free_in_buffer = dest->out->size();
}

boolean growDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    // libjpeg calls this when the buffer is full; the whole buffer is written.
    const std::size_t used = dest->out->size();
    bool grown = true;
    try {
        dest->out->resize(used * 2);
    } catch (...) {
        grown = false;
    }
    if (!grown)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);  // leaves by longjmp, outside the handler
    dest->pub.next_output_byte = dest->out->data() + used;
    dest->pub.free_in_buffer = dest->out->size() - used;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    // Shrinking never allocates.
    dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);
}

struct Encoder {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    VectorDestination dest;
};

class EncoderGuard {
public:
    explicit EncoderGuard(Encoder& e) : m_e(e) {}
    ~EncoderGuard() { jpeg_destroy_compress(&m_e.cinfo); }
    EncoderGuard(const EncoderGuard&) = delete;
    EncoderGuard& operator=(const EncoderGuard&) = delete;

private:
    Encoder& m_e;
};

bool compress(Encoder& e, const TBitmap32& picture, int quality, const PictureMetadata& metadata)
{
    e.cinfo.err = &e.err.pub;
    if (setjmp(e.err.jump))
        return false;
    jpeg_create_compress(&e.cinfo);
    e.dest.pub.init_destination = initDestination;
    e.dest.pub.empty_output_buffer = growDestination;
    e.dest.pub.term_destination = termDestination;
    e.cinfo.dest = &e.dest.pub;

    e.cinfo.image_width = JDIMENSION(picture.width());
    e.cinfo.image_height = JDIMENSION(picture.height());
    e.cinfo.input_components = 4;
    e.cinfo.in_color_space = JCS_EXT_BGRX;      // our rows as they are; the fourth byte is skipped
    jpeg_set_defaults(&e.cinfo);                // YCbCr, 2x2 chroma subsampling, sequential
    jpeg_set_quality(&e.cinfo, quality, TRUE);  // TRUE: baseline quantisation tables
    e.cinfo.optimize_coding = FALSE;

    jpeg_start_compress(&e.cinfo, TRUE);
    // After the JFIF header: the camera's data, then the colour profile.
    if (!metadata.exif.empty() && metadata.exif.size() <= kMaxJpegExif) {
        jpeg_write_m_header(&e.cinfo, JPEG_APP0 + 1, unsigned(6 + metadata.exif.size()));
        for (const char c : {'E', 'x', 'i', 'f', '\0', '\0'})
            jpeg_write_m_byte(&e.cinfo, c);
        for (const std::uint8_t b : metadata.exif)
            jpeg_write_m_byte(&e.cinfo, b);
    }
    if (!metadata.icc.empty())
        jpeg_write_icc_profile(&e.cinfo, metadata.icc.data(), unsigned(metadata.icc.size()));
    const JDIMENSION height = e.cinfo.image_height;
    // libjpeg does not write to its input rows; its prototype is just not const.
    std::uint8_t* bits = const_cast<std::uint8_t*>(picture.bits());
    JSAMPROW rows[kRowBatch];
    while (e.cinfo.next_scanline < height) {
        const JDIMENSION first = e.cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowBatch, height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + std::size_t(first + i) * picture.bytesPerLine();
        jpeg_write_scanlines(&e.cinfo, rows, count);
        throwIfCancelled();  // the encoder's guard frees libjpeg's state
    }
    jpeg_finish_compress(&e.cinfo);
    return true;
}

}  // namespace

TBitmap32 decodeJpeg(const std::uint8_t* data, std::size_t size)
{
    Decoder d{};
    installErrorManager(d.err);
    DecoderGuard guard(d);
    if (!readHeader(d, data, size))
        decodeFailed(d);
    // Photographs from phones and cameras open upright, as every viewer shows
    // them. (Read now: finishing the decompression frees the saved markers.)
    int orientation = 1;
    for (jpeg_saved_marker_ptr m = d.cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && (orientation = exifOrientation(m->data, m->data_length)) != 1)
            break;

    J_COLOR_SPACE outSpace;
    switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
        // Rows decode straight into the picture, and libjpeg-turbo fills
        // the fourth byte with 255 as it goes: opaque in one pass, which the
        // program needs of every opened picture.
        outSpace = JCS_EXT_BGRA;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        outSpace = JCS_CMYK;  // libjpeg has no CMYK to RGB conversion; we do it
        break;
    default:
        throw PlumoraError("The JPEG file cannot be read: its colour space is not supported.");
    }
    // Before libjpeg sets up its own buffers for a size we would refuse anyway.
    checkPictureSize(d.cinfo.image_width, d.cinfo.image_height);
    if (!dataCanFillPicture(d))
        throw PlumoraError("The JPEG file cannot be read: it is cut short, too little data for a picture of its size.");

    if (!startDecompress(d, outSpace))
        decodeFailed(d);
    if (d.cinfo.output_components != 4)
        throw PlumoraError("The JPEG file cannot be read: its colour space is not supported.");
    checkPictureSize(d.cinfo.output_width, d.cinfo.output_height);

    TBitmap32 picture(int(d.cinfo.output_width), int(d.cinfo.output_height));
    const bool cmyk = outSpace == JCS_CMYK;
    bool decoded = false;
    std::atomic<std::size_t> written{0};
    auto decode = [&] {
        // mapAhead waits for the decoder, also when the reading is cancelled.
        const auto stopped = [&] {
            written.store(kDecoderStopped, std::memory_order_relaxed);
            written.notify_one();
        };
        try {
            decoded = readRows(d, picture.bits(), picture.bytesPerLine(), cmyk, written);
        } catch (...) {
            stopped();
            throw;
        }
        stopped();
    };
    if (picture.byteCount() < kMapAheadFrom)
        decode();
    else
        runAlongside(decode, [&] { mapAhead(picture.bits(), picture.byteCount(), written); });
    if (!decoded)
        decodeFailed(d);
    return orientUpright(std::move(picture), orientation);
}

std::vector<std::uint8_t> encodeJpeg(const TBitmap32& picture, int quality, const PictureMetadata& metadata)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    // A start the size of a well compressed picture; it doubles when needed.
    std::vector<std::uint8_t> out(std::max<std::size_t>(4096, std::size_t(picture.width()) * picture.height() / 8));
    Encoder e{};
    installErrorManager(e.err);
    e.dest.out = &out;
    EncoderGuard guard(e);
    if (!compress(e, picture, quality, metadata))
        throw PlumoraError(std::string("The JPEG file cannot be written: ") + e.err.message);
    return out;
}

}  // namespace plumora
