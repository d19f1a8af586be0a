// The JPEG road of the picture loader, through libjpeg(-turbo) called directly.
//
// libjpeg reports fatal errors through error_exit, which must not return. We
// longjmp back to the one function that owns the decompressor; it destroys the
// decompressor on every path and turns the message code into our error. No C++
// exception ever travels through libjpeg's frames.

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/Limits.h"
#include "core/Translatable.h"
#include "core/imaging/XImageFileUnit.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

namespace zx {

namespace {

    const char* const kJPEGError = ZX_TR_NOOP("Messages", "JPEG-Fehler #%d");
    const char* const kTooManyScans = ZX_TR_NOOP("Messages", "JPEG 文件的扫描超过 %d 个");

    // Every scan of a progressive file is a pass over the whole picture's
    // coefficients, so a small file of many scans with a large frame costs time
    // in proportion to scans x picture. Encoders write about ten scans (a few
    // dozen at most); a file with more than this is refused.
    constexpr int kMaxScans = 100;

    struct JPEGErrorManager {
        jpeg_error_mgr Public; // first member: libjpeg hands us a pointer to it
        std::jmp_buf Jump;
        bool Failed;
        int Code;
        // Set while the entropy-coded data is being decoded (see EmitMessage).
        bool WarningsAreErrors;
        // Set when the file has more than kMaxScans scans.
        bool TooManyScans;
    };

    JPEGErrorManager& Manager(j_common_ptr cinfo)
    {
        return *reinterpret_cast<JPEGErrorManager*>(cinfo->err);
    }

    [[noreturn]] void Fail(j_common_ptr cinfo)
    {
        JPEGErrorManager& manager = Manager(cinfo);
        manager.Failed = true;
        manager.Code = cinfo->err->msg_code;
        std::longjmp(manager.Jump, 1);
    }

    void ErrorExit(j_common_ptr cinfo)
    {
        Fail(cinfo);
    }

    // libjpeg only warns (level -1) about corrupt entropy-coded data and goes on
    // with grey or garbled rows. A picture like that is not what the file meant,
    // so while the image data is decoded such a warning fails the load with its
    // own code. The one exception is "premature end of JPEG file": libjpeg's
    // memory source reports it whenever the final EOI marker is missing, even
    // when every scanline was complete; a scan that really breaks off also
    // produces "premature end of data segment", which does fail. Warnings in the
    // headers or after the last scanline (bytes after the image) are harmless.
    void EmitMessage(j_common_ptr cinfo, int msgLevel)
    {
        if (msgLevel != -1)
            return;
        if (!Manager(cinfo).WarningsAreErrors || cinfo->err->msg_code == JWRN_JPEG_EOF)
            return;
        Fail(cinfo);
    }

    // libjpeg calls the progress monitor before it reads each further piece of
    // input, a new scan's header included: the place to count scans.
    void ProgressMonitor(j_common_ptr cinfo)
    {
        if (!cinfo->is_decompressor)
            return;
        if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
            Manager(cinfo).TooManyScans = true;
            Fail(cinfo);
        }
    }

    // The core library prints nothing.
    void OutputMessage(j_common_ptr) { }

    // One decoded scanline (output_components bytes per pixel) into a row of
    // blue, green, red.
    void ConvertRow(const JSAMPLE* in, std::uint8_t* out, JDIMENSION width, int components)
    {
        switch (components) {
        case 1:
            for (JDIMENSION x = 0; x < width; ++x, out += 3) {
                out[0] = in[x];
                out[1] = in[x];
                out[2] = in[x];
            }
            break;
        case 3:
            for (JDIMENSION x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        case 4:
            // CMYK as Adobe writes it, with inverted values (255 = no ink), so that
            // C * K / 255 is already the red a screen shows; likewise green and
            // blue. This is the plain conversion without a colour profile.
            for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
                const unsigned k = in[3];
                out[0] = static_cast<std::uint8_t>((in[2] * k + 127) / 255);
                out[1] = static_cast<std::uint8_t>((in[1] * k + 127) / 255);
                out[2] = static_cast<std::uint8_t>((in[0] * k + 127) / 255);
            }
            break;
        default:
            break;
        }
    }

    // Decodes a whole JPEG file into picture (which must not be shared with
    // anybody whose pixels matter: it is resized and overwritten). Returns false
    // with libjpeg's message code on any libjpeg error (with tooManyScans set
    // when the scan count was the reason; JERR_NO_BACKING_STORE when libjpeg's
    // working memory would pass kMaxPixelBytes); C++ errors of our own
    // (picture too large, out of memory) are thrown after the decompressor has
    // been destroyed.
    //
    // This is the setjmp target. Between setjmp and every longjmp the function
    // keeps no automatic object with a destructor, so jumping back skips nothing.
    bool DecodeJPEG(
        std::span<const std::uint8_t> file, TDIB& picture, int& code, bool& tooManyScans)
    {
        jpeg_decompress_struct cinfo {};
        JPEGErrorManager manager {};
        jpeg_progress_mgr progress {};
        progress.progress_monitor = ProgressMonitor;
        cinfo.err = jpeg_std_error(&manager.Public);
        manager.Public.error_exit = ErrorExit;
        manager.Public.emit_message = EmitMessage;
        manager.Public.output_message = OutputMessage;

        if (setjmp(manager.Jump) != 0) {
            jpeg_destroy_decompress(&cinfo);
            code = manager.Code;
            tooManyScans = manager.TooManyScans;
            return false;
        }

        jpeg_create_decompress(&cinfo);
        cinfo.progress = &progress;
        jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&cinfo, TRUE);

        // Ask libjpeg only for conversions every libjpeg offers; the step to blue,
        // green, red is ours.
        switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo.out_color_space = JCS_CMYK;
            break;
        default:
            cinfo.out_color_space = JCS_RGB;
            break;
        }

        const auto width = static_cast<std::int32_t>(cinfo.image_width);
        const auto height = static_cast<std::int32_t>(cinfo.image_height);
        try {
            // Refuse before anything large is allocated, libjpeg's buffers included.
            CheckPixelMemory(static_cast<std::uint64_t>(DIBRowBytes(width, 24)),
                static_cast<std::uint64_t>(height), 1);
        } catch (...) {
            jpeg_destroy_decompress(&cinfo);
            throw;
        }
        // A multi-scan file keeps every coefficient of the picture while its
        // scans are read: 2 bytes per sample, so up to 6 bytes per pixel. With
        // a limit and no backing store libjpeg refuses a larger buffer
        // (JERR_NO_BACKING_STORE) instead of allocating it.
        cinfo.mem->max_memory_to_use = static_cast<long>(kMaxPixelBytes);

        // Multi-scan (progressive) files are decoded entirely while decompression
        // starts, single-scan ones while the scanlines are read: watch both.
        manager.WarningsAreErrors = true;
        jpeg_start_decompress(&cinfo);
        if (static_cast<std::int32_t>(cinfo.output_width) != width
            || static_cast<std::int32_t>(cinfo.output_height) != height
            || (cinfo.output_components != 1 && cinfo.output_components != 3
                && cinfo.output_components != 4)) {
            // Cannot happen with the settings above; refuse rather than write
            // outside the rows if a libjpeg ever decides otherwise.
            cinfo.err->msg_code = JERR_CONVERSION_NOTIMPL;
            Fail(reinterpret_cast<j_common_ptr>(&cinfo));
        }

        // The picture is made only now, once a multi-scan file has been read
        // whole, so that a file failing there never costs its pixel memory.
        std::uint8_t* top = nullptr;
        std::int32_t rowStep = 0;
        try {
            picture.SetSize(width, height, 24);
            top = picture.TopBits();
            rowStep = picture.RowStep();
        } catch (...) {
            jpeg_destroy_decompress(&cinfo);
            throw;
        }

        const int components = cinfo.output_components;
        const int bufferRows = cinfo.rec_outbuf_height > 0 ? cinfo.rec_outbuf_height : 1;
        // Allocated from libjpeg's own pool so that it is freed with the
        // decompressor, however the decoding ends.
        JSAMPARRAY buffer = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
            JPOOL_IMAGE, cinfo.output_width * static_cast<JDIMENSION>(components),
            static_cast<JDIMENSION>(bufferRows));
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION first = cinfo.output_scanline;
            const JDIMENSION count
                = jpeg_read_scanlines(&cinfo, buffer, static_cast<JDIMENSION>(bufferRows));
            if (count == 0) {
                // Only a suspending data source returns no rows; ours never does.
                cinfo.err->msg_code = JERR_INPUT_EOF;
                Fail(reinterpret_cast<j_common_ptr>(&cinfo));
            }
            for (JDIMENSION i = 0; i < count; ++i)
                ConvertRow(buffer[i], top + std::int64_t(first + i) * rowStep, cinfo.output_width,
                    components);
        }
        manager.WarningsAreErrors = false;

        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        return true;
    }

} // namespace

void LoadJPEGPicture(std::span<const std::uint8_t> file, TDIB& target)
{
    TDIB picture;
    int code = 0;
    bool tooManyScans = false;
    if (!DecodeJPEG(file, picture, code, tooManyScans)) {
        if (tooManyScans)
            throw EInvalidGraphic(FormatMessage(kTooManyScans, kMaxScans));
        if (code == JERR_NO_BACKING_STORE)
            RefuseImageTooLarge(); // the coefficient buffer would pass the bound
        throw EInvalidGraphic(FormatMessage(kJPEGError, code));
    }
    // libjpeg hands out the pixels as stored; a camera's EXIF tag says how
    // they are meant to be shown.
    ApplyExifOrientation(picture, ReadExifOrientation(file));
    target.Assign(picture);
}

} // namespace zx
