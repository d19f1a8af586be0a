#pragma once

// The in-memory GIF: a logical screen with its global colour table, and a list
// of frames, each with its extensions, optional local colour table and colour
// indices. The export fills it from reduced 8-bit bitmaps, merges the frames'
// colour tables into one global table and writes it as a GIF89a file; the
// reader fills it from any GIF87a/GIF89a file and turns frames back into 8-bit
// bitmaps.

#include "core/Stream.h"
#include "core/gif/XGIFUnitLZW.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace zx {

class TGIFImage;
class TGIFSubImage;

// The GIF version an item needs in the file header.
enum class TGIFVersion : std::int32_t { gvUnknown = 0, gv87a = 1, gv89a = 2 };

// One colour-table entry as the file stores it.
struct TGIFColor {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;

    friend bool operator==(const TGIFColor&, const TGIFColor&) = default;
};

// The number of bits a colour table of count entries needs: 0 for an empty
// table, else the smallest b >= 1 with 2^b >= count.
std::int32_t ColourBits(std::int32_t count);

// ---------------------------------------------------------------------------
// Colour tables

class TGIFColorMap {
public:
    static constexpr std::int32_t kMaxColors = 256;

    std::int32_t Count() const { return static_cast<std::int32_t>(m_colors.size()); }
    std::int32_t Capacity() const { return m_capacity; }
    bool Empty() const { return m_colors.empty(); }
    // The table is ordered by importance, most used colour first.
    bool SortedByUse() const { return m_sortedByUse; }
    void SetSortedByUse(bool value) { m_sortedByUse = value; }
    std::int32_t BitsPerPixel() const { return ColourBits(Count()); }

    const TGIFColor& operator[](std::int32_t index) const { return m_colors[index]; }
    std::span<const TGIFColor> Colors() const { return m_colors; }

    // Appends a colour and returns its index; a full table (256 entries)
    // raises "颜色表溢出". Clears SortedByUse.
    std::int32_t Add(TGIFColor color);
    std::int32_t Add(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
    {
        return Add(TGIFColor { red, green, blue });
    }
    void Clear();
    void Assign(const TGIFColorMap& source);

    // Reads count triples; a short read raises "过早的数据末端".
    void LoadFromStream(TStream& stream, std::int32_t count);
    // Writes the entries, then black up to 2^ColourBits(Count()) entries.
    void SaveToStream(std::vector<std::uint8_t>& out) const;

private:
    void Reserve(std::int32_t wanted);

    std::vector<TGIFColor> m_colors;
    std::int32_t m_capacity = 0;
    bool m_sortedByUse = false;
};

class TGIFGlobalColorMap : public TGIFColorMap { };
class TGIFLocalColorMap : public TGIFColorMap { };

// ---------------------------------------------------------------------------
// Items

class TGIFItem {
public:
    explicit TGIFItem(TGIFImage* image)
        : m_image(image)
    {
    }
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    TGIFImage* Image() const { return m_image; }
    // The GIF version this item needs.
    virtual TGIFVersion Version() const { return TGIFVersion::gv87a; }
    // Hands a non-fatal problem to the image's warning handler, if any.
    void Warning(const std::string& message) const;

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(std::vector<std::uint8_t>& out) const = 0;

private:
    TGIFImage* m_image;
};

// An ordered list of owned items.
template <class T> class TGIFList {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(m_items.size()); }
    bool Empty() const { return m_items.empty(); }
    T& operator[](std::int32_t index) { return *m_items[index]; }
    const T& operator[](std::int32_t index) const { return *m_items[index]; }
    // Appends the item and returns it.
    template <class U> U& Add(std::unique_ptr<U> item)
    {
        U& added = *item;
        m_items.push_back(std::move(item));
        return added;
    }
    void Clear() { m_items.clear(); }
    auto begin() { return m_items.begin(); }
    auto end() { return m_items.end(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<std::unique_ptr<T>> m_items;
};

// The logical screen descriptor and the global colour table.
class TGIFHeader : public TGIFItem {
public:
    using TGIFItem::TGIFItem;

    std::uint16_t Width() const { return m_width; }
    std::uint16_t Height() const { return m_height; }
    void SetWidth(std::uint16_t value) { m_width = value; }
    void SetHeight(std::uint16_t value) { m_height = value; }
    std::uint8_t BackgroundColorIndex() const { return m_backgroundColorIndex; }
    std::uint8_t AspectRatio() const { return m_aspectRatio; }
    // The packed fields as last read from a file.
    std::uint8_t Packed() const { return m_packed; }
    TGIFGlobalColorMap& ColorMap() { return m_colorMap; }
    const TGIFGlobalColorMap& ColorMap() const { return m_colorMap; }

    // Reads signature, logical screen descriptor and global colour table.
    void LoadFromStream(TStream& stream) override;
    // Writes signature, logical screen descriptor and global colour table.
    void SaveToStream(std::vector<std::uint8_t>& out) const override;
    void Clear();

private:
    std::uint16_t m_width = 0;
    std::uint16_t m_height = 0;
    std::uint8_t m_packed = 0;
    std::uint8_t m_backgroundColorIndex = 0;
    std::uint8_t m_aspectRatio = 0;
    TGIFGlobalColorMap m_colorMap;
};

// ---------------------------------------------------------------------------
// Extensions

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* subImage);

    TGIFSubImage* SubImage() const { return m_subImage; }
    // The label byte that follows the extension introducer 0x21.
    virtual std::uint8_t ExtensionType() const = 0;
    TGIFVersion Version() const override { return TGIFVersion::gv89a; }

    // Reads the introducer and label and checks them against this class.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(std::vector<std::uint8_t>& out) const override;

protected:
    // The bytes after introducer and label.
    virtual void LoadBody(TStream& stream) = 0;
    virtual void SaveBody(std::vector<std::uint8_t>& out) const = 0;

private:
    TGIFSubImage* m_subImage;
};

using TGIFExtensionList = TGIFList<TGIFExtension>;

// Disposal methods of the graphic control extension (GIF89a §23).
enum class TGIFDisposal : std::uint8_t {
    dmNone = 0,
    dmNoDisposal = 1,
    dmBackground = 2,
    dmPrevious = 3,
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0xF9;

    // Becomes the frame's graphic control extension when it has none yet.
    explicit TGIFGraphicControlExtension(TGIFSubImage* subImage);
    ~TGIFGraphicControlExtension() override;

    std::uint8_t ExtensionType() const override { return kLabel; }

    std::uint8_t Packed() const { return m_packed; }
    std::uint16_t Delay() const { return m_delay; }
    void SetDelay(std::uint16_t value) { m_delay = value; }
    bool Transparent() const { return (m_packed & 0x01) != 0; }
    // Also sets or clears the frame's transparent mark when this is the
    // frame's graphic control extension.
    void SetTransparent(bool value);
    std::uint8_t TransparentColorIndex() const { return m_transparentColorIndex; }
    // An index beyond a non-empty active colour table is replaced by 0 with
    // the warning "无效的颜色指数".
    void SetTransparentColorIndex(std::uint8_t value);
    TGIFDisposal Disposal() const { return static_cast<TGIFDisposal>((m_packed >> 2) & 0x07); }
    void SetDisposal(TGIFDisposal value);
    bool UserInput() const { return (m_packed & 0x02) != 0; }
    void SetUserInput(bool value);

protected:
    void LoadBody(TStream& stream) override;
    void SaveBody(std::vector<std::uint8_t>& out) const override;

private:
    std::uint8_t m_blockSize = 4;
    std::uint8_t m_packed = 0;
    std::uint16_t m_delay = 0;
    std::uint8_t m_transparentColorIndex = 0;
};

// An application extension: an 8-byte identifier and a 3-byte authentication
// code, then data sub-blocks.
class TGIFApplicationExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0xFF;
    using TIdentifier = std::array<std::uint8_t, 11>;

    using TGIFExtension::TGIFExtension;
    std::uint8_t ExtensionType() const override { return kLabel; }

    const TIdentifier& Identifier() const { return m_identifier; }
    void SetIdentifier(const TIdentifier& value) { m_identifier = value; }
    std::string IdentifierText() const;

protected:
    void LoadBody(TStream& stream) override;
    void SaveBody(std::vector<std::uint8_t>& out) const override;
    virtual void LoadData(TStream& stream) = 0;
    virtual void SaveData(std::vector<std::uint8_t>& out) const = 0;

    TIdentifier m_identifier {};
};

// The Netscape looping extension ("NETSCAPE2.0", also read from "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage* subImage);

    // 0 means for ever.
    std::uint16_t Loops() const { return m_loops; }
    void SetLoops(std::uint16_t value) { m_loops = value; }
    // 0 means absent.
    std::uint32_t BufferSize() const { return m_bufferSize; }
    void SetBufferSize(std::uint32_t value) { m_bufferSize = value; }

protected:
    void LoadData(TStream& stream) override;
    void SaveData(std::vector<std::uint8_t>& out) const override;

private:
    std::uint16_t m_loops = 0;
    std::uint32_t m_bufferSize = 0;
};

// Any other application extension, its data kept as raw sub-blocks.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;

    const std::vector<std::vector<std::uint8_t>>& Blocks() const { return m_blocks; }
    std::vector<std::vector<std::uint8_t>>& Blocks() { return m_blocks; }

protected:
    void LoadData(TStream& stream) override;
    void SaveData(std::vector<std::uint8_t>& out) const override;

private:
    std::vector<std::vector<std::uint8_t>> m_blocks;
};

// A comment: each data sub-block is one line.
class TGIFCommentExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0xFE;

    using TGIFExtension::TGIFExtension;
    std::uint8_t ExtensionType() const override { return kLabel; }

    std::vector<std::string>& Text() { return m_text; }
    const std::vector<std::string>& Text() const { return m_text; }

protected:
    void LoadBody(TStream& stream) override;
    void SaveBody(std::vector<std::uint8_t>& out) const override;

private:
    std::vector<std::string> m_text;
};

// A plain text extension. Read and kept, never drawn.
class TGIFTextExtension : public TGIFExtension {
public:
    static constexpr std::uint8_t kLabel = 0x01;

    using TGIFExtension::TGIFExtension;
    std::uint8_t ExtensionType() const override { return kLabel; }

    // The block after the label (12 bytes in a well-formed file: grid
    // position and size, cell size, colour indices).
    const std::vector<std::uint8_t>& HeaderBlock() const { return m_header; }
    std::vector<std::string>& Text() { return m_text; }
    const std::vector<std::string>& Text() const { return m_text; }

protected:
    void LoadBody(TStream& stream) override;
    void SaveBody(std::vector<std::uint8_t>& out) const override;

private:
    std::vector<std::uint8_t> m_header;
    std::vector<std::string> m_text;
};

// ---------------------------------------------------------------------------
// Frames

class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* image);
    ~TGIFSubImage() override;

    // The image descriptor.
    std::uint16_t Left() const { return m_left; }
    std::uint16_t Top() const { return m_top; }
    std::uint16_t Width() const { return m_width; }
    std::uint16_t Height() const { return m_height; }
    void SetLeft(std::uint16_t value) { m_left = value; }
    void SetTop(std::uint16_t value) { m_top = value; }
    std::uint8_t Packed() const { return m_packed; }
    bool Interlaced() const { return (m_packed & 0x40) != 0; }
    void SetInterlaced(bool value);

    // No pixels.
    bool Empty() const { return PixelCount() == 0; }
    std::uint64_t PixelCount() const { return m_pixelCount; }
    // The colour indices, row-major, top row first.
    std::span<const std::uint8_t> Data() const;
    std::span<std::uint8_t> Data();
    // Gives the frame width x height pixels, all 0 (an empty frame for 0 x 0).
    void SetSize(std::uint16_t width, std::uint16_t height);

    TGIFLocalColorMap& ColorMap() { return m_colorMap; }
    const TGIFLocalColorMap& ColorMap() const { return m_colorMap; }
    // The local table when it is not empty, else the global one when that is
    // not empty, else the (empty) local table.
    TGIFColorMap& ActiveColorMap();
    const TGIFColorMap& ActiveColorMap() const;

    TGIFExtensionList& Extensions() { return m_extensions; }
    const TGIFExtensionList& Extensions() const { return m_extensions; }
    TGIFGraphicControlExtension* GraphicControlExtension() const { return m_gce; }
    bool Transparent() const { return m_transparent; }
    // The transparent index of the graphic control extension (0 without one).
    std::uint8_t TransparentColorIndex() const;

    TGIFVersion Version() const override;

    // Fills the frame from a 1-, 4- or 8-bit bitmap: size, colour table as
    // the local table, indices. Raises "此操作不支持此对象类型" for other bit
    // counts.
    void Assign(const TDIB& bitmap);
    // Drops pixels, extensions, local table and cached bitmaps.
    void Clear();

    // The frame as an 8-bit bitmap with the active colour table padded with
    // black to 256 entries. Built on first request and kept until the
    // frame's colours change. Raises "未定义整体或局部颜色表" when the frame
    // has no colour table at all.
    const TDIB& FrameBitmap();
    // For a transparent frame, after FrameBitmap: a 1-bit mask with a bit set
    // where the index is the transparent one; null when no pixel is.
    const TDIB* FrameMask() const { return m_mask.get(); }
    bool HasBitmap() const { return m_bitmap != nullptr; }
    void FreeBitmap();

    // Reads extensions, descriptor, local table and image data.
    void LoadFromStream(TStream& stream) override;
    // Writes extensions, descriptor, local table and image data.
    void SaveToStream(std::vector<std::uint8_t>& out) const override;

private:
    friend class TGIFGraphicControlExtension;
    friend class TColorMapOptimizer;

    void LoadExtensions(TStream& stream);
    void LoadImageData(TStream& stream);
    // Turns pixels decoded in stream order into the row-major index array.
    void Materialize() const;
    // The pixels in the order they are coded (interlaced order when set).
    std::vector<std::uint8_t> CodedPixels() const;

    std::uint16_t m_left = 0;
    std::uint16_t m_top = 0;
    std::uint16_t m_width = 0;
    std::uint16_t m_height = 0;
    std::uint8_t m_packed = 0;
    std::uint64_t m_pixelCount = 0;

    // Frames read from a file keep only the pixels the data actually held
    // (in coded order) and their fill value; the full array is made on first
    // use, so a file of many frames without data costs no memory.
    mutable std::vector<std::uint8_t> m_data;
    mutable std::vector<std::uint8_t> m_coded;
    mutable bool m_pending = false;
    std::uint8_t m_fill = 0;

    TGIFLocalColorMap m_colorMap;
    TGIFExtensionList m_extensions;
    TGIFGraphicControlExtension* m_gce = nullptr;
    bool m_transparent = false;

    std::unique_ptr<TDIB> m_bitmap;
    std::unique_ptr<TDIB> m_mask;
};

using TGIFImageList = TGIFList<TGIFSubImage>;

// The file's last byte, 0x3B.
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(std::vector<std::uint8_t>& out) const override;
};

// ---------------------------------------------------------------------------
// Animation painters register with their image so that changes to the
// frames' colours can stop them first.

class TGIFPainterLink {
public:
    virtual ~TGIFPainterLink() = default;
    // Asks the painter to stop. Called with the image's painter lock held: it
    // must only signal the painter, never wait for it or take the lock.
    virtual void Stop() = 0;
};

// Draw option bits of a TGIFImage.
enum : std::uint32_t {
    goAsync = 0x01,
    goTransparent = 0x02,
    goAnimate = 0x04,
    goLoop = 0x08,
    goDirectDraw = 0x40,
    goDither = 0x200,
    goAutoDither = 0x400,
};

// ---------------------------------------------------------------------------
// The image

class TGIFImage {
public:
    // The draw options every new image starts with; the program changes them
    // once at start-up.
    static std::uint32_t DefaultDrawOptions;

    TGIFImage();
    ~TGIFImage();
    TGIFImage(const TGIFImage&) = delete;
    TGIFImage& operator=(const TGIFImage&) = delete;

    // Non-fatal problems go here; nobody has to listen.
    TGIFWarningHandler OnWarning;
    void Warning(const std::string& message) const;

    TGIFHeader& Header() { return m_header; }
    const TGIFHeader& Header() const { return m_header; }
    TGIFImageList& Images() { return m_images; }
    const TGIFImageList& Images() const { return m_images; }
    TGIFGlobalColorMap& GlobalColorMap() { return m_header.ColorMap(); }
    const TGIFGlobalColorMap& GlobalColorMap() const { return m_header.ColorMap(); }

    // The logical screen.
    std::int32_t Width() const { return m_header.Width(); }
    std::int32_t Height() const { return m_header.Height(); }
    // Raise "Image width/height too small for contained frames" when a
    // frame's right or bottom edge would lie beyond the screen.
    void SetWidth(std::uint16_t value);
    void SetHeight(std::uint16_t value);
    // The largest ColourBits of the global and every local colour table.
    std::int32_t BitsPerPixel() const;
    // The largest ColourBits - 1 of the global and every local colour table.
    std::int32_t ColorResolution() const;

    std::uint32_t DrawOptions() const { return m_drawOptions; }
    void SetDrawOptions(std::uint32_t value) { m_drawOptions = value; }

    // Appends a frame made from a 1-, 4- or 8-bit bitmap and returns its
    // index. The logical screen grows to hold it.
    std::int32_t AddFrame(const TDIB& bitmap);
    // Appends an existing frame (which must belong to this image).
    std::int32_t AddFrame(std::unique_ptr<TGIFSubImage> frame);

    // Gives all frames one global colour table (most used colour first, the
    // transparent entry black and last) and remaps their pixels.
    void MergeColourMaps();

    // Writes the GIF. An image without frames raises "未被支持 GIF 样式".
    void SaveToStream(TStream& stream) const;
    // The frames are coded on up to threads worker threads (0: one per
    // processor); the bytes are the same for any number. frameCoded, when
    // given, is told the size of each frame's bytes as soon as they are
    // coded, on the thread that coded them (so possibly on several at once).
    std::vector<std::uint8_t> SaveToBytes(
        unsigned threads = 0, const std::function<void(std::size_t bytes)>& frameCoded = {}) const;
    // Writes to a temporary file beside path, renamed over it when complete.
    void SaveGifFile(const std::string& path) const;

    // Replaces the content with the GIF read from the stream. On error the
    // stream's position is restored before the exception propagates.
    // Reading stops with EImageTooLarge once the frames' decoded pixels
    // together pass DecodeLimit() bytes (kMaxAnimationBytes unless changed).
    void LoadFromStream(TStream& stream);
    void LoadGifFile(const std::string& path);
    std::uint64_t DecodeLimit() const { return m_decodeLimit; }
    void SetDecodeLimit(std::uint64_t bytes) { m_decodeLimit = bytes; }

    // Stops the painters, drops all frames, empties the global table and
    // sets the screen to 0 x 0.
    void Clear();

    // Frame i as an 8-bit bitmap (see TGIFSubImage::FrameBitmap).
    const TDIB& FrameBitmap(std::int32_t index) { return m_images[index].FrameBitmap(); }

    // Animation painters.
    std::mutex& PainterLock() { return m_painterLock; }
    void RegisterPainter(TGIFPainterLink* painter);
    void UnregisterPainter(TGIFPainterLink* painter);
    // Asks every registered painter to stop.
    void StopPainters();

private:
    friend class TGIFSubImage;
    friend class TColorMapOptimizer;
    // Grows the screen to hold the frame, with the warnings.
    void FitScreenToFrame(const TGIFSubImage& frame);
    void StopPaintersLocked();

    TGIFHeader m_header;
    TGIFImageList m_images;
    std::uint32_t m_drawOptions;
    std::uint64_t m_decodeLimit;
    // Pixels decoded so far by the read in progress.
    std::uint64_t m_decodedBytes = 0;
    std::mutex m_painterLock;
    std::vector<TGIFPainterLink*> m_painters;
};

// The ".GIF" road of picture loading: target becomes the logical screen's size
// at 24 bits with frame 0's bitmap drawn at (0, 0). On any failure target is
// left unchanged.
void LoadGIFPicture(std::span<const std::uint8_t> file, TDIB& target);

} // namespace zx
