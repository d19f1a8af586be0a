// The picture loader's SVG road (librsvg) on arbitrary files, and the SVG
// recognition of the content rule.
//
// Invariants: a drawing that loads has its longer side at kSVGRenderSize and
// its shorter one at least 1 (see FuzzPicture.h for the rest); one that fails
// leaves the target alone and raises one of our errors. Recognition never
// reads outside the input (ASan), and what it takes for SVG starts with markup.

#include "FuzzPicture.h"

#include <algorithm>
#include <span>

// Not findings, and not ours to fix: librsvg 2.54 leaves behind the value
// buffer of every entity a document declares (libxml2's SAX entity parsing,
// about 100 bytes each, bounded by the file), and the first text a drawing
// shows makes fontconfig build font patterns it never frees (once per
// process, however much text follows). Text at a size FreeType refuses
// (hundreds of thousands of pixels) makes cairo's scaled font creation fail,
// and on that path cairo 1.16 loses a few hundred bytes per font; its frames
// carry no frame pointers, so the report names only the library. Our own
// cairo objects are checked by the sanitizer build's tests, which have no
// such suppression.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:xmlParseEntityValue\nleak:libfontconfig.so\nleak:libcairo.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> file(data, size);
    // What is recognised as SVG starts, after a byte order mark and white
    // space, with markup.
    if (zx::DetectPictureFormat(file) == zx::TPictureFormat::SVG) {
        std::size_t at = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
        while (at < size
            && (data[at] == ' ' || data[at] == '\t' || data[at] == '\r' || data[at] == '\n'))
            ++at;
        ZX_FUZZ_CHECK(at < size && data[at] == '<');
    }
    zx::TPicture loaded;
    const bool ok = zx::fuzz::CheckPictureLoad([&](zx::TPicture& target) {
        zx::LoadSVGPicture(file, target);
        loaded = target;
    });
    if (ok) {
        const std::int32_t w = loaded.Color.Width(), h = loaded.Color.Height();
        ZX_FUZZ_CHECK(std::max(w, h) == zx::kSVGRenderSize && std::min(w, h) >= 1);
    }
    return 0;
}
