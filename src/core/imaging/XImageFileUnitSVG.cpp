// The SVG road of the picture loader, through librsvg and cairo.
//
// A drawing has no pixels of its own, so we render it: with its own
// proportions, the longer side kSVGRenderSize pixels, on a transparent
// surface whose alpha becomes the picture's alpha plane.
//
// An SVG file may be hostile. We guard against it like this:
// - The document is read from memory with no base file, so librsvg resolves
//   no relative reference, and it loads nothing from the file system or the
//   network whatever an href says (its own policy without a base URL); only
//   data: URLs inside the file are decoded.
// - The XML parser keeps libxml2's safety limits (no RSVG_HANDLE_FLAG_UNLIMITED):
//   no external entities, bounded entity expansion, bounded depth and text.
// - librsvg itself limits the number of elements loaded and referenced
//   while rendering, which bounds the time of <use> chains.
// - The surface is never larger than 1280 x 1280 pixels, whatever size the
//   document claims, and a file larger than kMaxSVGBytes is refused.
// - Nothing bounds the work of filters, though: a few hundred blurred shapes
//   with wide filter regions keep librsvg busy for half a minute, and more
//   for longer. So the drawing is made on a thread of its own, watched: when
//   it has used more CPU time than the limit (or a much longer wall time has
//   passed), the load fails with a clear error at once and the thread is left
//   to finish alone, with its own copy of the file; its result is dropped.
//   librsvg cannot be stopped midway, so that CPU time is still spent, but no
//   caller (a window, the CLI) waits for it.

#include "core/Errors.h"
#include "core/imaging/XImageFileUnit.h"
#include "core/imaging/XImageFileUnitMessages.h"
#include "core/imaging/XImageFileUnitRGBA.h"

#include <algorithm>
#include <cairo.h>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <dlfcn.h>
#include <exception>
#include <gio/gio.h>
#include <librsvg/rsvg.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace zx {

namespace {

    // Drawings run to a few megabytes at most; a larger file is far more
    // likely an attack on the parser than a flag.
    constexpr std::size_t kMaxSVGBytes = 64u << 20;

    [[noreturn]] void Fail(const std::string& reason)
    {
        throw EInvalidGraphic(FormatMessage(ImageFileMessages::sInvalidSVG, reason));
    }

    // librsvg is opened when the first drawing is read, not when the
    // program starts: it brings cairo, pango, fontconfig and ICU, whose
    // loading cost every run of zephyrix-cli about 5 ms, SVG or not. The
    // functions come from librsvg and the libraries it depends on (GLib's
    // streams and objects, cairo's surfaces), all reached through its handle.
#if defined(__APPLE__)
    constexpr const char* kLibrsvg = "librsvg-2.2.dylib";
#else
    constexpr const char* kLibrsvg = "librsvg-2.so.2";
#endif

    struct TLibrsvg {
        decltype(&::g_memory_input_stream_new_from_data) MemoryInputStreamNewFromData = nullptr;
        decltype(&::g_object_unref) ObjectUnref = nullptr;
        decltype(&::g_error_free) ErrorFree = nullptr;
        decltype(&::rsvg_handle_new_from_stream_sync) HandleNewFromStreamSync = nullptr;
        decltype(&::rsvg_handle_set_dpi) HandleSetDpi = nullptr;
        decltype(&::rsvg_handle_get_intrinsic_size_in_pixels) HandleGetIntrinsicSizeInPixels
            = nullptr;
        decltype(&::rsvg_handle_get_intrinsic_dimensions) HandleGetIntrinsicDimensions = nullptr;
        decltype(&::rsvg_handle_get_geometry_for_element) HandleGetGeometryForElement = nullptr;
        decltype(&::rsvg_handle_render_document) HandleRenderDocument = nullptr;
        decltype(&::rsvg_handle_render_element) HandleRenderElement = nullptr;
        decltype(&::cairo_image_surface_create) ImageSurfaceCreate = nullptr;
        decltype(&::cairo_image_surface_get_data) ImageSurfaceGetData = nullptr;
        decltype(&::cairo_image_surface_get_stride) ImageSurfaceGetStride = nullptr;
        decltype(&::cairo_surface_status) SurfaceStatus = nullptr;
        decltype(&::cairo_surface_flush) SurfaceFlush = nullptr;
        decltype(&::cairo_surface_destroy) SurfaceDestroy = nullptr;
        decltype(&::cairo_create) Create = nullptr;
        decltype(&::cairo_destroy) Destroy = nullptr;
        // Why the library could not be used, when it could not.
        std::string Missing;
    };

    TLibrsvg OpenLibrsvg()
    {
        TLibrsvg library;
        void* handle = ::dlopen(kLibrsvg, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            library.Missing = why ? why : kLibrsvg;
            return library;
        }
        auto find = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(handle, name));
            if (!function && library.Missing.empty())
                library.Missing = std::string(kLibrsvg) + " has no " + name;
        };
        find(library.MemoryInputStreamNewFromData, "g_memory_input_stream_new_from_data");
        find(library.ObjectUnref, "g_object_unref");
        find(library.ErrorFree, "g_error_free");
        find(library.HandleNewFromStreamSync, "rsvg_handle_new_from_stream_sync");
        find(library.HandleSetDpi, "rsvg_handle_set_dpi");
        find(library.HandleGetIntrinsicSizeInPixels, "rsvg_handle_get_intrinsic_size_in_pixels");
        find(library.HandleGetIntrinsicDimensions, "rsvg_handle_get_intrinsic_dimensions");
        find(library.HandleGetGeometryForElement, "rsvg_handle_get_geometry_for_element");
        find(library.HandleRenderDocument, "rsvg_handle_render_document");
        find(library.HandleRenderElement, "rsvg_handle_render_element");
        find(library.ImageSurfaceCreate, "cairo_image_surface_create");
        find(library.ImageSurfaceGetData, "cairo_image_surface_get_data");
        find(library.ImageSurfaceGetStride, "cairo_image_surface_get_stride");
        find(library.SurfaceStatus, "cairo_surface_status");
        find(library.SurfaceFlush, "cairo_surface_flush");
        find(library.SurfaceDestroy, "cairo_surface_destroy");
        find(library.Create, "cairo_create");
        find(library.Destroy, "cairo_destroy");
        // The library stays open for the rest of the run: drawings keep
        // none of its objects, but its threads and caches may live on.
        return library;
    }

    // The library's functions; a picture cannot be drawn without them.
    const TLibrsvg& Librsvg()
    {
        static const TLibrsvg library = OpenLibrsvg();
        if (!library.Missing.empty())
            Fail("librsvg cannot be loaded: " + library.Missing);
        return library;
    }

    // Takes over a GError and fails with its message.
    [[noreturn]] void Fail(GError* error, const char* fallback)
    {
        const std::string reason = error && error->message ? error->message : fallback;
        if (error)
            Librsvg().ErrorFree(error);
        Fail(reason);
    }

    struct TObjectUnref {
        void operator()(gpointer object) const { Librsvg().ObjectUnref(object); }
    };
    struct TSurfaceDestroy {
        void operator()(cairo_surface_t* surface) const { Librsvg().SurfaceDestroy(surface); }
    };
    struct TCairoDestroy {
        void operator()(cairo_t* cr) const { Librsvg().Destroy(cr); }
    };

    bool UsableSize(double width, double height)
    {
        return std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
    }

    // The drawing's own width and height: its size in pixels where width and
    // height are absolute, else its viewBox, else the extent of what it draws.
    // useInk is set in the last case, which renders that extent.
    void DrawingSize(RsvgHandle* handle, double& width, double& height, bool& useInk)
    {
        useInk = false;
        const TLibrsvg& rsvg = Librsvg();
        if (rsvg.HandleGetIntrinsicSizeInPixels(handle, &width, &height)
            && UsableSize(width, height))
            return;
        gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
        RsvgLength lengthW {}, lengthH {};
        RsvgRectangle viewBox {};
        rsvg.HandleGetIntrinsicDimensions(
            handle, &hasWidth, &lengthW, &hasHeight, &lengthH, &hasViewBox, &viewBox);
        if (hasViewBox && UsableSize(viewBox.width, viewBox.height)) {
            width = viewBox.width;
            height = viewBox.height;
            return;
        }
        RsvgRectangle ink {};
        GError* error = nullptr;
        if (!rsvg.HandleGetGeometryForElement(handle, nullptr, &ink, nullptr, &error))
            Fail(error, "no geometry");
        if (!UsableSize(ink.width, ink.height))
            Fail("the drawing has no size");
        width = ink.width;
        height = ink.height;
        useInk = true;
    }

    // The drawing's size scaled so that its longer side is kSVGRenderSize, and
    // the picture's: the same rounded down (at least 1), so that the last
    // row or column is wholly inside the drawing and a drawing that covers
    // its area comes out opaque.
    void RenderSize(double width, double height, double& scaledW, double& scaledH,
        std::int32_t& outW, std::int32_t& outH)
    {
        const double size = kSVGRenderSize;
        scaledW = width >= height ? size : size * width / height;
        scaledH = width >= height ? size * height / width : size;
        outW = static_cast<std::int32_t>(std::clamp(std::floor(scaledW), 1.0, size));
        outH = static_cast<std::int32_t>(std::clamp(std::floor(scaledH), 1.0, size));
    }

} // namespace

namespace {

    void RenderSVG(std::span<const std::uint8_t> file, TPicture& target)
    {
        // The stream reads the caller's bytes in place.
        const TLibrsvg& rsvg = Librsvg();
        const std::unique_ptr<GInputStream, TObjectUnref> stream(
            rsvg.MemoryInputStreamNewFromData(file.data(), gssize(file.size()), nullptr));
        GError* error = nullptr;
        const std::unique_ptr<RsvgHandle, TObjectUnref> handle(rsvg.HandleNewFromStreamSync(
            stream.get(), nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error));
        if (!handle)
            Fail(error, "cannot be parsed");
        rsvg.HandleSetDpi(handle.get(), 96);

        double width = 0, height = 0;
        bool useInk = false;
        DrawingSize(handle.get(), width, height, useInk);
        double scaledW = 0, scaledH = 0;
        std::int32_t w = 0, h = 0;
        RenderSize(width, height, scaledW, scaledH, w, h);

        const std::unique_ptr<cairo_surface_t, TSurfaceDestroy> surface(
            rsvg.ImageSurfaceCreate(CAIRO_FORMAT_ARGB32, w, h));
        if (rsvg.SurfaceStatus(surface.get()) != CAIRO_STATUS_SUCCESS)
            throw std::bad_alloc();
        {
            const std::unique_ptr<cairo_t, TCairoDestroy> cr(rsvg.Create(surface.get()));
            const RsvgRectangle viewport { 0, 0, scaledW, scaledH };
            const gboolean drawn = useInk
                ? rsvg.HandleRenderElement(handle.get(), cr.get(), nullptr, &viewport, &error)
                : rsvg.HandleRenderDocument(handle.get(), cr.get(), &viewport, &error);
            if (!drawn)
                Fail(error, "cannot be rendered");
        }
        rsvg.SurfaceFlush(surface.get());

        // Cairo's ARGB32 is a native-endian word per pixel with the colours
        // multiplied by alpha; the picture keeps them unmultiplied, as a PNG does.
        const unsigned char* data = rsvg.ImageSurfaceGetData(surface.get());
        const int stride = rsvg.ImageSurfaceGetStride(surface.get());
        TRGBAPictureBuilder builder(std::uint64_t(w), std::uint64_t(h), true,
            FormatMessage(ImageFileMessages::sInvalidSVG, "empty image"));
        std::vector<std::uint8_t> rgba(std::size_t(w) * 4);
        for (std::int32_t y = 0; y < h; ++y) {
            const auto* row
                = reinterpret_cast<const std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint32_t pixel = row[x];
                const std::uint32_t a = pixel >> 24;
                std::uint8_t* out = &rgba[std::size_t(x) * 4];
                out[3] = static_cast<std::uint8_t>(a);
                for (int c = 0; c < 3; ++c) {
                    const std::uint32_t premultiplied = (pixel >> (16 - 8 * c)) & 255;
                    out[c] = a == 0 ? 0
                                    : static_cast<std::uint8_t>(std::min<std::uint32_t>(
                                        255, (premultiplied * 255 + a / 2) / a));
                }
            }
            builder.SetRow(y, rgba.data());
        }
        builder.Finish(target);
    }

    // What the watcher and the drawing thread share; whichever ends last frees it.
    struct TSVGJob {
        std::vector<std::uint8_t> File;
        TPicture Picture;
        std::exception_ptr Error;
        std::mutex Mutex;
        std::condition_variable Finished;
        bool Done = false;
    };

    double Seconds(clockid_t clock)
    {
        timespec now {};
        if (::clock_gettime(clock, &now) != 0)
            return 0;
        return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
    }

} // namespace

void LoadSVGPicture(std::span<const std::uint8_t> file, TPicture& target)
{
    LoadSVGPicture(file, target, kSVGTimeLimit);
}

void LoadSVGPicture(std::span<const std::uint8_t> file, TPicture& target, TSVGTimeLimit limit)
{
    if (file.size() > kMaxSVGBytes)
        Fail("file larger than 64 MiB");

    auto job = std::make_shared<TSVGJob>();
    job->File.assign(file.begin(), file.end());
    std::thread drawing;
    try {
        drawing = std::thread([job] {
            try {
                RenderSVG(job->File, job->Picture);
            } catch (...) {
                job->Error = std::current_exception();
            }
            const std::lock_guard lock(job->Mutex);
            job->Done = true;
            job->Finished.notify_all();
        });
    } catch (const std::system_error&) {
        // No thread to be had: draw here, unwatched.
        RenderSVG(file, target);
        return;
    }
    clockid_t cpuClock {};
    const bool haveCpuClock = ::pthread_getcpuclockid(drawing.native_handle(), &cpuClock) == 0;
    const double cpuStart = haveCpuClock ? Seconds(cpuClock) : 0;
    const auto wallStart = std::chrono::steady_clock::now();
    drawing.detach();

    std::unique_lock lock(job->Mutex);
    for (;;) {
        if (job->Finished.wait_for(
                lock, std::chrono::milliseconds(50), [&job] { return job->Done; }))
            break;
        // Read while the thread is known to run (Done is false under the lock
        // and the thread sets it before it ends).
        const double cpu = haveCpuClock ? Seconds(cpuClock) - cpuStart : 0;
        const double wall
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        if (cpu > limit.CpuSeconds || wall > limit.WallSeconds)
            Fail("drawing it takes too long (more than " + std::to_string(int(limit.CpuSeconds))
                + " s); it may be made to keep the program busy");
    }
    if (job->Error)
        std::rethrow_exception(job->Error);
    target = std::move(job->Picture);
}

} // namespace zx
