#pragma once

// TFlagModel: what the animation is made of and the rules that keep its frames
// right. It holds the flag settings the frames are rendered with, the texture
// (the picture as loaded, the same with the text drawn on it, and the
// picture's alpha plane), the lighting table, the frame size with the values
// derived from it, and the 40 frame slots. Rendering is lazy: a change only
// marks the frames stale, and whoever shows them renders one when it needs it.
// The control panel owns one; zephyrix-cli renders its frames through one too.

#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/FlagSettings.h"
#include "core/flag/LightTable.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace zx {

// The picture as loaded (Source) and the same with the text drawn on it
// (Prepared, 24 bits), and the picture's alpha plane as loaded (8 bits, empty
// for an opaque picture). The text is drawn on the colours only, so the flag
// keeps the picture's shape.
struct TTextureItem {
    TDIB Source;
    TDIB Prepared;
    TDIB Alpha;
};

// Draws the text over the prepared texture (a 24-bit picture).
using TTextPainter = std::function<void(TDIB& prepared)>;

class TFlagModel {
public:
    TFlagModel();

    const FlagParameters& Parameters() const { return m_params; }
    // Every parameter at once (at start-up, from the settings store, from the
    // command line): the lighting table is built and the frames invalidated.
    void SetParameters(const FlagParameters& params);
    // The parameters after a user changed one setting; effect is that
    // setting's: the lighting table is built again for Relight, the frames are
    // invalidated for Relight and Rerender, and for RerenderOpaque unless the
    // background is transparent.
    void ChangeParameters(const FlagParameters& params, TSettingEffect effect);

    std::int32_t FrameWidth() const { return m_frameWidth; }
    std::int32_t FrameHeight() const { return m_frameHeight; }
    // The frame size (within 16..320 x 16..200 for the panel's flag window);
    // the frames are invalidated.
    void SetFrameSize(std::int32_t width, std::int32_t height);

    // Derives the wave's steps and the frame size from the parameters and
    // marks every frame stale. Nothing is rendered here.
    void InvalidateFrames();
    // Called after every invalidation.
    std::function<void()> OnInvalidate;

    // The texture item is made by the first texture and replaced in content
    // only from then on. Null before the first one.
    const TTextureItem* Texture() const { return m_texture.get(); }
    // The new picture (24 bits) and its alpha plane (empty for none). Nothing
    // is prepared or invalidated yet.
    void SetTexture(const TDIB& source, const TDIB& alpha);
    // Prepared := a 24-bit copy of Source with the text drawn on it by painter
    // (none: no text).
    void PrepareTexture(const TTextPainter& painter = {});

    const TLightTable& LightTable() const { return m_lightTable; }
    const TFlagDerived& Derived() const { return m_derived; }
    TFrameStore& FrameStore() { return *m_frames; }
    const TFrameStore& FrameStore() const { return *m_frames; }
    bool FrameRendered(std::int32_t k) const;

    // Renders slot k with phase phi from the prepared texture; status receives
    // "正在渲染 帧 #" + (k + 1). Nothing happens without a texture. Throws what
    // RenderFrame throws.
    void RenderSlot(std::uint16_t k, std::uint16_t phi, const TRenderStatus& status = {});

private:
    void BuildLight();

    FlagParameters m_params;
    std::int32_t m_frameWidth = kDefaultFrameWidth;
    std::int32_t m_frameHeight = kDefaultFrameHeight;
    std::unique_ptr<TTextureItem> m_texture;
    TLightTable m_lightTable {};
    TFlagDerived m_derived;
    std::unique_ptr<TFrameStore> m_frames;
};

} // namespace zx
