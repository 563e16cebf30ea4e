#include "adapters/covers/cover_file_decoder.h"

#include "adapters/covers/exif_orientation.h"
#include "adapters/covers/jpeg_layout.h"
#include "adapters/covers/qt_images_module.h"
#include "adapters/process/shared_library.h"

#include <spng.h>
#include <unistd.h>

#include <cstdio> // jpeglib.h needs FILE
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <optional>
#include <vector>

namespace glowcast {

// A cover file read at the offsets asked for, or in order through a buffer of its own, never past
// the size it had when it was opened.
class CoverFileStream {
public:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    CoverFileStream(int descriptor, std::int64_t size) : m_descriptor(descriptor), m_size(size), m_buffer(kBufferBytes)
    {
    }

    [[nodiscard]] std::int64_t size() const { return m_size; }

    // Fills into from offset on: fewer bytes at the end, or after a read error.
    std::span<const std::uint8_t> readAt(std::int64_t offset, std::span<std::uint8_t> into) const
    {
        const auto wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(m_size - offset, 0, into.size()));
        std::size_t filled = 0;
        while (filled < wanted) {
            const ssize_t got =
                ::pread(m_descriptor, into.data() + filled, wanted - filled, offset + static_cast<off_t>(filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            filled += static_cast<std::size_t>(got);
        }
        return into.first(filled);
    }

    // The bytes after those handed over before, a buffer's worth at most; none at the end.
    std::span<const std::uint8_t> next()
    {
        const std::span<const std::uint8_t> got = readAt(m_next, m_buffer);
        m_next += static_cast<std::int64_t>(got.size());
        return got;
    }

    // Copies the next into.size() bytes in order; false when the file ends first.
    bool copyNext(std::span<std::uint8_t> into)
    {
        while (!into.empty()) {
            if (m_pending.empty() && (m_pending = next()).empty())
                return false;
            const std::size_t count = std::min(into.size(), m_pending.size());
            std::memcpy(into.data(), m_pending.data(), count);
            into = into.subspan(count);
            m_pending = m_pending.subspan(count);
        }
        return true;
    }

private:
    int m_descriptor;
    std::int64_t m_size;
    std::int64_t m_next = 0;
    std::vector<std::uint8_t> m_buffer;
    std::span<const std::uint8_t> m_pending; // read by next, not yet copied
};

namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<std::uint8_t, 3> kJpegStart{0xFF, 0xD8, 0xFF};

template <std::size_t N> bool startsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& magic)
{
    return bytes.size() >= N && std::equal(magic.begin(), magic.end(), bytes.begin());
}

DecodedCover refused(std::string why)
{
    return {nullptr, std::move(why), {}};
}

DecodedCover decoded(CoverPixels pixels, std::string note = {})
{
    return {std::make_unique<DecodedCoverImage>(std::move(pixels)), {}, std::move(note)};
}

// Why a cover of size bytes is refused before it is looked at; empty when it is not.
std::string refusedSize(std::int64_t size, std::int64_t budget)
{
    if (size <= 0)
        return "no cover bytes to decode";
    if (size > budget)
        return "refusing a cover of " + std::to_string(size) + " bytes";
    return {};
}

int readPngStream(spng_ctx*, void* file, void* into, std::size_t length)
{
    return static_cast<CoverFileStream*>(file)->copyNext({static_cast<std::uint8_t*>(into), length}) ? 0 : SPNG_IO_EOF;
}

// Whether FF D9 lies in the file after from, as holdsEndOfImage says of its bytes there: looked for
// in the last 64 KiB first, where it is in a whole cover, then in the rest, in pieces overlapping by
// a byte.
bool fileHoldsEndOfImage(const CoverFileStream& file, std::int64_t from)
{
    std::vector<std::uint8_t> buffer(CoverFileStream::kBufferBytes);
    const std::int64_t tail = std::max(from, file.size() - static_cast<std::int64_t>(buffer.size()));
    if (holdsEndOfImage(file.readAt(tail, buffer)))
        return true;
    for (std::int64_t at = from; at < tail;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(tail + 1 - at, buffer.size()));
        const std::span<const std::uint8_t> piece = file.readAt(at, std::span(buffer).first(wanted));
        if (piece.size() < 2)
            return false;
        if (holdsEndOfImage(piece))
            return true;
        at += static_cast<std::int64_t>(piece.size()) - 1;
    }
    return false;
}

// readJpegLayout for a file: the markers up to its first scan from a head read in growing steps (a
// cover's first 64 KiB mostly hold them), then the end-of-image marker looked for in the file. The
// head is kept, since the layout's Exif segment lies in it.
JpegLayout readJpegFileLayout(const CoverFileStream& file, std::vector<std::uint8_t>& head)
{
    for (std::size_t wanted = CoverFileStream::kBufferBytes;; wanted *= 2) {
        head.resize(static_cast<std::size_t>(std::min<std::int64_t>(file.size(), static_cast<std::int64_t>(wanted))));
        head.resize(file.readAt(0, head).size());
        JpegLayout layout = readJpegHeader(head);
        if (layout.scanData == 0 && head.size() == wanted)
            continue;
        layout.complete = layout.scanData > 0 && fileHoldsEndOfImage(file, static_cast<std::int64_t>(layout.scanData));
        return layout;
    }
}

// The size a cover is kept at: decodeSide square when it is larger in either side, else its own.
std::pair<int, int> keptSize(int width, int height, int side)
{
    return width > side || height > side ? std::pair{side, side} : std::pair{width, height};
}

struct SpngContext {
    spng_ctx* context = spng_ctx_new(0);
    ~SpngContext() { spng_ctx_free(context); }
    SpngContext() = default;
    SpngContext(const SpngContext&) = delete;
    SpngContext& operator=(const SpngContext&) = delete;
};

// Decodes a PNG that is not interlaced row by row into RGBA, handing each row over. Returns
// libspng's error, or 0.
template <typename Take> int decodeRows(spng_ctx* context, std::size_t rowBytes, int height, Take take)
{
    if (const int error =
            spng_decode_image(context, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
        error != 0)
        return error;
    std::vector<std::uint8_t> row(rowBytes);
    for (int y = 0; y < height; ++y) {
        const int error = spng_decode_row(context, row.data(), row.size());
        if (error != 0 && !(error == SPNG_EOI && y == height - 1))
            return error;
        take(std::span<std::uint8_t>(row));
    }
    return 0;
}

// A JPEG decode's state, kept outside the function that calls setjmp: a libjpeg error jumps back
// into that function, over nothing that has a destructor.
struct JpegRun {
    struct Errors {
        jpeg_error_mgr manager{};
        std::jmp_buf jump{};
        std::array<char, JMSG_LENGTH_MAX> message{};
    };
    struct FileSource {
        jpeg_source_mgr manager{};
        CoverFileStream* file = nullptr;
    };
    jpeg_decompress_struct info{};
    Errors errors;
    FileSource source;
    std::vector<std::uint8_t> row;
    std::optional<RowScaler> scaler;
    bool created = false;
    ~JpegRun()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

[[noreturn]] void jumpOnJpegError(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegRun::Errors*>(info->err);
    (*info->err->format_message)(info, errors->message.data());
    std::longjmp(errors->jump, 1);
}

void ignoreJpegWarning(j_common_ptr, int)
{
}

// As libjpeg's own sources do at an early end (or a read error): a warning, and an end-of-image
// marker, so that the decoder ends with the rows it has.
boolean fillJpegInput(j_decompress_ptr info)
{
    static constexpr std::array<JOCTET, 2> kEnd{0xFF, JPEG_EOI};
    std::span<const std::uint8_t> got = reinterpret_cast<JpegRun::FileSource*>(info->src)->file->next();
    if (got.empty()) {
        WARNMS(info, JWRN_JPEG_EOF);
        got = kEnd;
    }
    info->src->next_input_byte = got.data();
    info->src->bytes_in_buffer = got.size();
    return TRUE;
}

void skipJpegInput(j_decompress_ptr info, long count)
{
    for (; count > static_cast<long>(info->src->bytes_in_buffer); fillJpegInput(info))
        count -= static_cast<long>(info->src->bytes_in_buffer);
    if (count > 0) {
        info->src->next_input_byte += count;
        info->src->bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

void noJpegInputStep(j_decompress_ptr)
{
}

// The smallest scale of M/8 (M from 1 to 8) at which the decoded JPEG still covers side x side.
int jpegEighths(int width, int height, int side)
{
    const double ratio = std::min(static_cast<double>(width) / side, static_cast<double>(height) / side);
    return static_cast<int>(std::clamp(std::ceil(8.0 / ratio), 1.0, 8.0));
}

bool runJpeg(JpegRun& run, std::span<const std::uint8_t> bytes, CoverFileStream* file, int eighths, int side)
{
    run.info.err = jpeg_std_error(&run.errors.manager);
    run.errors.manager.error_exit = jumpOnJpegError;
    run.errors.manager.emit_message = ignoreJpegWarning;
    if (setjmp(run.errors.jump) != 0)
        return false;
    jpeg_create_decompress(&run.info);
    run.created = true;
    if (file != nullptr) {
        run.source = {
            {nullptr, 0, noJpegInputStep, fillJpegInput, skipJpegInput, jpeg_resync_to_restart, noJpegInputStep}, file};
        run.info.src = &run.source.manager;
    } else {
        jpeg_mem_src(&run.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    }
    jpeg_read_header(&run.info, TRUE);
    run.info.scale_num = static_cast<unsigned>(eighths);
    run.info.scale_denom = 8;
    const bool cmyk = run.info.jpeg_color_space == JCS_CMYK || run.info.jpeg_color_space == JCS_YCCK;
    run.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&run.info);
    const auto width = static_cast<int>(run.info.output_width);
    const auto height = static_cast<int>(run.info.output_height);
    const auto [keptWidth, keptHeight] = keptSize(width, height, side);
    run.scaler.emplace(width, height, keptWidth, keptHeight);
    run.row.resize(static_cast<std::size_t>(width) * 4);
    while (run.info.output_scanline < run.info.output_height) {
        JSAMPROW row = run.row.data();
        jpeg_read_scanlines(&run.info, &row, 1);
        if (cmyk) {
            // Stored inverted, as Adobe writes CMYK: each channel times black is the colour.
            for (std::size_t at = 0; at < run.row.size(); at += 4) {
                const unsigned black = run.row[at + 3];
                for (std::size_t c = 0; c < 3; ++c)
                    run.row[at + c] = static_cast<std::uint8_t>(run.row[at + c] * black / 255);
                run.row[at + 3] = 255;
            }
        }
        run.scaler->addRow(run.row);
    }
    return true;
}

// Qt's image readers for every other format, in a module opened when the first such cover arrives.
struct QtImagesModule {
    SharedLibrary* library = nullptr;
    GlowcastQtImagesDecode* decode = nullptr;
    GlowcastQtImagesFormat* format = nullptr;
};

const QtImagesModule& qtImagesModule(Log& log)
{
    // Never closed: Qt Gui and the image plugins it loads cannot be unloaded from a running program.
    // The log is used only here, while the module is opened.
    static const QtImagesModule module = [&log] {
        QtImagesModule opened;
        opened.library = SharedLibrary::openModule("glowcast-qt-images.so", log).release();
        if (opened.library != nullptr) {
            opened.decode = opened.library->function<GlowcastQtImagesDecode>("glowcast_qt_images_decode");
            opened.format = opened.library->function<GlowcastQtImagesFormat>("glowcast_qt_images_format");
        }
        return opened;
    }();
    return module;
}

} // namespace

PixelCanvas DecodedCoverImage::drawInto(int width, int height) const
{
    return straightCanvas(m_pixels, width, height);
}

CoverFileDecoder::CoverFileDecoder(Log& log, int decodeSide, std::int64_t memoryBudgetBytes)
    : m_log(log), m_decodeSide(decodeSide > 0 ? decodeSide : kDecodeSide),
      m_memoryBudgetBytes(std::max<std::int64_t>(memoryBudgetBytes, 1024 * 1024))
{
}

std::unique_ptr<CoverImage> CoverFileDecoder::decode(std::span<const std::uint8_t> bytes)
{
    DecodedCover cover = decodeCover(bytes);
    if (!cover.image)
        m_log.write("cover decoder: " + cover.refusal);
    else if (!cover.note.empty())
        m_log.write("cover decoder: " + cover.note);
    return std::move(cover.image);
}

DecodedCover CoverFileDecoder::decodeCover(std::span<const std::uint8_t> bytes) const
{
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (std::string why = refusedSize(size, m_memoryBudgetBytes); !why.empty())
        return refused(std::move(why));
    if (startsWith(bytes, kPngSignature))
        return decodePng(bytes, nullptr);
    if (startsWith(bytes, kJpegStart))
        return decodeJpeg(readJpegLayout(bytes), size, bytes, nullptr);
    return decodeWithQt(bytes);
}

DecodedCover CoverFileDecoder::decodeCoverFile(int descriptor, std::int64_t size) const
{
    if (std::string why = refusedSize(size, m_memoryBudgetBytes); !why.empty())
        return refused(std::move(why));
    CoverFileStream file(descriptor, size);
    std::array<std::uint8_t, kPngSignature.size()> start{};
    const std::span<const std::uint8_t> first = file.readAt(0, start);
    if (startsWith(first, kPngSignature))
        return decodePng({}, &file);
    if (startsWith(first, kJpegStart)) {
        std::vector<std::uint8_t> head;
        return decodeJpeg(readJpegFileLayout(file, head), size, {}, &file);
    }
    // Every other format is read whole.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    bytes.resize(file.readAt(0, bytes).size());
    return decodeCover(bytes);
}

std::string CoverFileDecoder::overBudget(int width, int height, const char* format, std::int64_t needed) const
{
    return "refusing a " + std::to_string(width) + " x " + std::to_string(height) + " " + format +
           " cover: decoding it needs " + std::to_string(needed / (1024 * 1024)) + " MiB, more than the " +
           std::to_string(m_memoryBudgetBytes / (1024 * 1024)) + " MiB allowed";
}

DecodedCover CoverFileDecoder::decodePng(std::span<const std::uint8_t> bytes, CoverFileStream* file) const
{
    SpngContext png;
    if (png.context == nullptr)
        return refused("could not decode the png cover: out of memory");
    const auto failed = [](int error) {
        return refused(std::string{"could not decode the png cover: "} + spng_strerror(error));
    };
    // A damaged ancillary chunk is dropped, as PNG readers commonly do; a damaged critical one fails.
    spng_set_crc_action(png.context, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    spng_set_chunk_limits(png.context, static_cast<std::size_t>(m_memoryBudgetBytes),
                          static_cast<std::size_t>(m_memoryBudgetBytes));
    if (file != nullptr)
        spng_set_png_stream(png.context, readPngStream, file);
    else
        spng_set_png_buffer(png.context, bytes.data(), bytes.size());
    spng_ihdr header{};
    if (const int error = spng_get_ihdr(png.context, &header); error != 0)
        return failed(error);
    const auto width = static_cast<int>(header.width);
    const auto height = static_cast<int>(header.height);
    // Rows are reduced as they are decoded, so an ordinary PNG holds little at once; it is still
    // counted at 4 bytes a pixel of the whole image, which also bounds the work of reading it.
    const std::int64_t needed = std::int64_t{header.width} * header.height * 4;
    if (needed > m_memoryBudgetBytes)
        return refused(overBudget(width, height, "png", needed));
    spng_trns transparency{};
    const bool alpha = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                       spng_get_trns(png.context, &transparency) == 0;
    const auto [keptWidth, keptHeight] = keptSize(width, height, m_decodeSide);
    const auto rowBytes = static_cast<std::size_t>(width) * 4;
    // An 8-bit colour image, not interlaced, that covers the kept size in both sides is reduced as
    // it always was, rows first and without premultiplying; any other PNG like a JPEG.
    const bool rowsFirst = header.bit_depth == 8 && header.interlace_method == SPNG_INTERLACE_NONE &&
                           header.color_type != SPNG_COLOR_TYPE_GRAYSCALE &&
                           header.color_type != SPNG_COLOR_TYPE_INDEXED && keptWidth <= width && keptHeight <= height &&
                           (keptWidth < width || keptHeight < height) && height <= RowAverager::kTallest;
    if (rowsFirst) {
        RowAverager averager(width, height, keptWidth, keptHeight);
        if (const int error =
                decodeRows(png.context, rowBytes, height, [&averager](auto row) { averager.addRow(row); });
            error != 0)
            return failed(error);
        CoverPixels pixels = std::move(averager).finish();
        if (alpha)
            premultiply(pixels.rgba);
        return decoded(std::move(pixels));
    }
    RowScaler scaler(width, height, keptWidth, keptHeight);
    if (header.interlace_method != SPNG_INTERLACE_NONE) {
        // An interlaced image arrives in passes over the whole of it: decoded whole, then reduced.
        std::vector<std::uint8_t> image(rowBytes * static_cast<std::size_t>(height));
        if (const int error =
                spng_decode_image(png.context, image.data(), image.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
            error != 0)
            return failed(error);
        if (alpha)
            premultiply(image);
        for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
            scaler.addRow(std::span(image).subspan(y * rowBytes, rowBytes));
        return decoded(scaler.finish());
    }
    if (const int error = decodeRows(png.context, rowBytes, height,
                                     [&scaler, alpha](std::span<std::uint8_t> row) {
                                         if (alpha)
                                             premultiply(row);
                                         scaler.addRow(row);
                                     });
        error != 0)
        return failed(error);
    return decoded(scaler.finish());
}

DecodedCover CoverFileDecoder::decodeJpeg(const JpegLayout& layout, std::int64_t size,
                                          std::span<const std::uint8_t> bytes, CoverFileStream* file) const
{
    if (!layout.complete)
        return refused("the jpeg cover is cut short: it has no end-of-image marker");
    // Every block costs a Huffman-coded stream at least one bit; fewer bytes than that are a
    // header claiming a size its data do not have.
    if (layout.huffman && size < layout.fullBlocks / 8) {
        return refused("the jpeg cover is cut short: its header claims " + std::to_string(layout.width) + " x " +
                       std::to_string(layout.height) + " pixels, more than its " + std::to_string(size) +
                       " bytes can hold");
    }
    const bool larger = layout.width > m_decodeSide || layout.height > m_decodeSide;
    const int eighths =
        larger && layout.width > 0 && layout.height > 0 ? jpegEighths(layout.width, layout.height, m_decodeSide) : 8;
    const auto scaled = [eighths](int side) { return (std::int64_t{side} * eighths + 7) / 8; };
    // The rows decoded at the reduced scale, counted whole at 4 bytes a pixel like a PNG's, and for
    // a buffered JPEG every coefficient of the whole image.
    const std::int64_t needed =
        (layout.buffered ? layout.coefficientBytes : 0) + scaled(layout.width) * scaled(layout.height) * 4;
    if (needed > m_memoryBudgetBytes)
        return refused(overBudget(layout.width, layout.height, "jpeg", needed));
    JpegRun run;
    if (!runJpeg(run, bytes, file, eighths, m_decodeSide))
        return refused("could not decode the jpeg cover: " + std::string(run.errors.message.data()));
    const ExifOrientation orientation = exifOrientation(layout.exif);
    return decoded(orientedPixels(run.scaler->finish(), orientation.value), orientation.problem);
}

DecodedCover CoverFileDecoder::decodeWithQt(std::span<const std::uint8_t> bytes) const
{
    const QtImagesModule& module = qtImagesModule(m_log);
    if (module.decode == nullptr)
        return refused("the cover is not PNG or JPEG, and the module that reads other formats is missing");
    const GlowcastQtImagesRequest request{bytes.data(), bytes.size(), m_decodeSide, m_decodeSide, m_memoryBudgetBytes};
    DecodedCover cover;
    module.decode(
        &request,
        [](void* context, int width, int height, const std::uint8_t* rgba, const char* refusal) {
            auto& out = *static_cast<DecodedCover*>(context);
            if (rgba == nullptr) {
                out.refusal = refusal != nullptr ? refusal : "the image module gave no reason";
                return;
            }
            const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
            out.image = std::make_unique<DecodedCoverImage>(CoverPixels{width, height, {rgba, rgba + size}});
        },
        &cover);
    if (!cover.image && cover.refusal.empty())
        cover.refusal = "the image module gave no reason";
    return cover;
}

std::optional<std::string> CoverFileSniffer::imageFormat(std::span<const std::uint8_t> bytes)
{
    if (startsWith(bytes, kPngSignature))
        return "png";
    if (startsWith(bytes, kJpegStart))
        return "jpeg";
    const QtImagesModule& module = qtImagesModule(m_log);
    std::array<char, 32> name{};
    if (module.format == nullptr || module.format(bytes.data(), bytes.size(), name.data(), name.size()) == 0)
        return std::nullopt;
    return std::string(name.data());
}

} // namespace glowcast
