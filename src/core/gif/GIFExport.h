#pragma once

// Building the animated GIF from the rendered frames: one octree palette shared
// by every frame, each frame reduced to it with Stucki error diffusion, its
// background pixels given the transparent index, every frame wrapped with its
// graphic control extension (and the loop extension on the first), and finally
// the colour maps merged into one global table.

#include "core/flag/FlagRenderer.h"
#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitQuantize.h"
#include "core/gif/XGIFUnitQuantizeHigh.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zx {

// How the colours are reduced. Standard is the program's own octree palette
// and Stucki dithering, byte for byte; High fits and tunes the palette to all
// frames and dithers with an exact nearest-colour search
// (XGIFUnitQuantizeHigh.h). Both write the same kind of file.
enum class TExportQuality { Standard, High };

// The GIF options of one export.
struct TExportOptions {
    // Frames in the loop (1..40).
    std::int32_t Frames = 8;
    // Colour depth B in bits (3..8): 2^B colours, one fewer with transparency.
    std::int32_t GIFBits = 8;
    // Frame delay in hundredths of a second (1..50).
    std::int32_t GIFDelay = 5;
    // Loop-count slider position (0..101), mapped through LoopCount.
    std::int32_t GIFLoops = 0;
    TExportQuality Quality = TExportQuality::Standard;
};

// Lossy coding and the file size limit of one export, beside its GIF options.
// The defaults change nothing: the file is byte for byte what the options
// alone make.
struct TSizeOptions {
    // Lossy level 0..200 (XGIFUnitLossy.h): how much farther than the nearest
    // entry a pixel's entry may be when it continues the LZW string.
    // 0 codes every pixel with its own entry.
    std::int32_t Lossy = 0;
    // The most bytes the file may take (0: no limit). With a limit the
    // export searches the knobs for the largest file that fits
    // (GIFSizeFit.h).
    std::uint64_t MaxSize = 0;
};

// Status texts shown while the export works; an empty text clears the status.
using TExportStatus = std::function<void(const std::string&)>;
// Renders the missing frame k with the given phase into the frame store.
using TRenderMissingFrame = std::function<void(std::int32_t k, std::uint16_t phase)>;

inline constexpr const char* sStatusCreatingPalette = "正在创建调色板";
inline constexpr const char* sStatusRecolouring = "正在重新着色图像 ";
inline constexpr const char* sStatusSaving = "保存文件...";

// The palette half of an export.
struct TExportPalette {
    // Some frame has transparent pixels.
    bool AnyTransparent = false;
    // 2^B, or 2^B - 1 when AnyTransparent.
    std::int32_t PaletteSize = 0;
    // The low 8 bits of PaletteSize: the index the background pixels get.
    std::uint8_t TransparentIndex = 0;
    TColorPalette SharedPalette;
};

// Throws EInvalidGraphicOperation when an option lies outside its range.
void CheckExportOptions(const TExportOptions& options);
void CheckSizeOptions(const TSizeOptions& options);

// The high level's palette (BuildExportPalette) and the plan of its
// reduction (MakeHighQualityPlan) side by side, on up to threads threads
// (0: one per processor): the plan needs the frames alone, and makes use of
// the processors while the palette search runs on fewer of them.
TExportPalette BuildHighQualityPaletteAndPlan(std::span<const TDIB> frames,
    std::span<const TDIB> masks, std::span<const bool> transparent, const TExportOptions& options,
    const TExportStatus& status, unsigned threads, THighQualityPlan& plan);

// Renders every slot below Frames that is not rendered yet (slot i with phase
// FramePhase(i, Frames), and no other), then builds the shared palette over the
// frames exactly as rendered.
TExportPalette BuildExportPalette(TFrameStore& store, const TExportOptions& options,
    const TRenderMissingFrame& renderFrame, const TExportStatus& status = {});

// The same for ready-made frames (24-bit pictures of one size); transparent[i]
// says whether frame i has transparent pixels (empty: none has). This is the
// standard level's palette.
TExportPalette BuildExportPalette(std::span<const TDIB> frames, std::span<const bool> transparent,
    std::int32_t bits, const TExportStatus& status = {});
// The same with the colours made ahead of time from the same frames (a
// TPaletteFeed's); a palette of another size than the frames need is not
// used, and with none the colours are made here.
TExportPalette BuildExportPalette(std::span<const TDIB> frames, std::span<const bool> transparent,
    std::int32_t bits, const TExportStatus& status, const TColorPalette* madeAhead);

// The palette of the level options.Quality asks for, with options.GIFBits.
// masks[i] (8 bits, 255 = background) is read only for frames whose
// transparent[i] is set, and only by the high level, whose palette leaves the
// background out.
TExportPalette BuildExportPalette(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options,
    const TExportStatus& status = {});

// Appends one frame reduced to the palette (an 8-bit bitmap, released
// afterwards) to the GIF, with its extensions: the loop extension on the
// first frame, and the graphic control extension with the delay, the
// disposal and, for a transparent frame, the transparent index, which the
// background pixels of mask (8 bits, 255 = background, the frame's size)
// take first. Throws EInvalidGraphicOperation when a transparent frame's mask
// does not fit. BuildGifFrames adds each of its frames this way.
void AddExportFrame(TGIFImage& gif, TDIB& reduced, const TDIB* mask, bool transparent,
    const TExportOptions& options, const TExportPalette& palette);

// Fills an empty GIF with the frames reduced to the palette and merges the
// colour maps. masks[i] (8 bits, 255 = background) is read only for frames
// whose transparent[i] is set.
void BuildGifFrames(TGIFImage& gif, std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    const TExportStatus& status = {});
// The same with lossy coding at the given level (0..200; 0 is the call above),
// and for the high level without loss the plan of its reduction when it has
// been made (BuildHighQualityPaletteAndPlan; null: made here).
void BuildGifFrames(TGIFImage& gif, std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    std::int32_t lossy, const TExportStatus& status = {}, const THighQualityPlan* plan = nullptr);

// The two halves of BuildGifFrames. ReduceExportFrames maps every frame to the
// palette at the level options.Quality asks for, with lossy coding at the
// given level, and gives the background pixels of transparent frames the
// transparent index; the frames run side by side on up to threads threads (0:
// one per processor), with the same result on any number. AddExportFrames
// fills an empty GIF with the reduced frames (taking them over), adds the
// extensions and merges the colour maps.
std::vector<TDIB> ReduceExportFrames(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TExportOptions& options, const TExportPalette& palette,
    std::int32_t lossy, unsigned threads = 0, const THighQualityPlan* plan = nullptr);
void AddExportFrames(TGIFImage& gif, std::vector<TDIB>&& reduced, std::span<const bool> transparent,
    const TExportOptions& options, const TExportPalette& palette, unsigned threads = 0);
// AddExportFrame for each reduced frame in turn, the frames made side by side
// on up to threads threads (the same GIF on any number), without the merge.
// maskOf(i), when set, gives the background of transparent frame i, whose
// pixels do not have the transparent index yet (unset: they all have it); it
// is asked on the worker that makes the frame, so only as many masks are
// planes at once as there are workers. done(i) is told on the worker once
// frame i is made and reduced[i] cleared.
void AddExportFrames(TGIFImage& gif, std::span<TDIB> reduced, std::span<const bool> transparent,
    const TExportOptions& options, const TExportPalette& palette, unsigned threads,
    const std::function<TDIB(std::size_t)>& maskOf, const std::function<void(std::size_t)>& done);

// The whole build from the frame store: BuildExportPalette, then BuildGifFrames
// into a new image.
std::unique_ptr<TGIFImage> BuildExportGif(TFrameStore& store, const TExportOptions& options,
    const TRenderMissingFrame& renderFrame, const TExportStatus& status = {});

} // namespace zx
