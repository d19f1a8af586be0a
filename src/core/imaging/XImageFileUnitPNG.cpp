// The PNG road of the picture loader, through libspng.
//
// libspng converts every colour type and bit depth to 8-bit RGBA for us
// (16-bit samples keep their high byte) and applies tRNS. We ask it for no
// gamma correction: the samples are used as stored, like every other road's.
// The picture is decoded row by row into its two planes, so no third copy of
// the pixels is ever held.

#include "core/Errors.h"
#include "core/imaging/XImageFileUnit.h"
#include "core/imaging/XImageFileUnitMessages.h"
#include "core/imaging/XImageFileUnitRGBA.h"

#include <memory>
#include <spng.h>
#include <vector>

namespace zx {

namespace {

    // Ancillary chunks that libspng keeps in memory (text, ICC profiles,
    // unknown chunks) are limited to this each and to kChunkCacheLimit
    // together, so a small file cannot ask for gigabytes of metadata.
    constexpr std::size_t kChunkSizeLimit = 16u << 20;
    constexpr std::size_t kChunkCacheLimit = 64u << 20;

    struct TContextFree {
        void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
    };

    void Check(int result)
    {
        if (result != 0)
            throw EInvalidGraphic(
                FormatMessage(ImageFileMessages::sInvalidPNG, spng_strerror(result)));
    }

    // Adam7 (PNG 8.2): the first column and the column step of each pass.
    constexpr std::int32_t kPassFirst[7] = { 0, 4, 0, 2, 0, 1, 0 };
    constexpr std::int32_t kPassStep[7] = { 8, 8, 4, 4, 2, 2, 1 };

} // namespace

void LoadPNGPicture(std::span<const std::uint8_t> file, TPicture& target)
{
    const std::unique_ptr<spng_ctx, TContextFree> ctx(spng_ctx_new(0));
    if (!ctx)
        throw std::bad_alloc();
    // A damaged chunk of any kind is a damaged file: we would rather say so
    // than show a picture without the transparency or palette it was meant to
    // have.
    Check(spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR));
    Check(spng_set_chunk_limits(ctx.get(), kChunkSizeLimit, kChunkCacheLimit));
    Check(spng_set_png_buffer(ctx.get(), file.data(), file.size()));

    spng_ihdr ihdr {};
    Check(spng_get_ihdr(ctx.get(), &ihdr));
    spng_trns trns {};
    const bool hasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA
        || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
        || spng_get_trns(ctx.get(), &trns) == 0;

    // Both planes are allocated (and the bound checked) before any pixel
    // data is decompressed.
    TRGBAPictureBuilder builder(ihdr.width, ihdr.height, hasAlpha,
        FormatMessage(ImageFileMessages::sInvalidPNG, "empty image"));

    Check(spng_decode_image(
        ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
    std::vector<std::uint8_t> row(std::size_t(builder.Width()) * 4);
    const bool interlaced = ihdr.interlace_method == SPNG_INTERLACE_ADAM7;
    for (;;) {
        spng_row_info info {};
        // The last rows of an interlaced picture may lie in passes that are
        // empty at its size: the decoder is then already at the end.
        const int state = spng_get_row_info(ctx.get(), &info);
        if (state == SPNG_EOI)
            break;
        Check(state);
        const int result = spng_decode_row(ctx.get(), row.data(), row.size());
        if (result != 0 && result != SPNG_EOI)
            Check(result);
        if (info.row_num >= std::uint32_t(builder.Height()) || info.pass < 0 || info.pass > 6)
            Check(SPNG_EINTERNAL);
        // An interlaced pass fills only its own columns of the row.
        const int pass = interlaced ? info.pass : 6;
        builder.SetRow(std::int32_t(info.row_num), row.data(), kPassFirst[pass], kPassStep[pass]);
        if (result == SPNG_EOI)
            break;
    }
    // The rest of the file up to IEND: the image data's last CRC is checked
    // only here, and a file cut after its pixels is still a cut file.
    Check(spng_decode_chunks(ctx.get()));
    builder.Finish(target);
}

} // namespace zx
