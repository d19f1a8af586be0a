#include "core/flag/FlagRenderer.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/flag/FlagRendererKernel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace zx {

namespace {

    using render_kernel::RequireTexture;
    using render_kernel::TargetOf;
    using render_kernel::TexelsOf;
    using render_kernel::THoistAxis;
    using render_kernel::THoistStep;
    using render_kernel::TRenderTarget;
    using render_kernel::TSampler;
    using render_kernel::TTexels;

    void Require(bool condition, const char* message)
    {
        if (!condition)
            throw EInvalidGraphicOperation(message);
    }

    // Gives picture the shape width x height x bitCount, keeping its storage when
    // it has that shape already, so that re-rendering a slot allocates nothing.
    void EnsureShape(TDIB& picture, std::int32_t width, std::int32_t height, std::int32_t bitCount)
    {
        if (picture.Width() != width || picture.Height() != height || picture.BitCount() != bitCount
            || picture.Empty())
            picture.SetSize(width, height, bitCount);
    }

    // What the pole adds to the flag's box when it is fitted to the frame, in
    // 128ths of a texel: its width beyond the hoist edge and the finial beyond
    // the flag's top end (a vertical pole) or right end (a horizontal one),
    // and how much of that lies left of and above the flag. The pole is a
    // sixteenth of the flag's shorter side thick (FlagRendererHoist.cpp), so
    // 1.125 of it across is 9 x that side and its finial's 1.5 is 12 x.
    struct TPoleBox {
        std::int64_t Width = 0;
        std::int64_t Height = 0;
        std::int64_t Left = 0;
        std::int64_t Top = 0;
    };
    TPoleBox PoleBox(const FlagParameters& params, std::int64_t texW, std::int64_t texH)
    {
        TPoleBox box;
        if (!params.ShowPole || params.Hoist == hoNone)
            return box;
        const std::int64_t side = std::min(texW, texH);
        const std::int64_t across = 9 * side, finial = 12 * side;
        const bool vertical = params.Hoist == hoLeft || params.Hoist == hoRight;
        box.Width = vertical ? across : finial;
        box.Height = vertical ? finial : across;
        box.Left = params.Hoist == hoLeft ? across : 0;
        box.Top = vertical ? finial : (params.Hoist == hoTop ? across : 0);
        return box;
    }

    // The frame geometry for a frame of at most maxWidth x maxHeight, rendered at
    // exportScale times that size.
    TFrameGeometry Geometry(const FlagParameters& params, const TFlagDerived& derived,
        std::int32_t textureWidth, std::int32_t textureHeight, std::int32_t maxWidth,
        std::int32_t maxHeight, std::int32_t exportScale)
    {
        const std::int32_t W = derived.FrameWidth;
        const std::int32_t H = derived.FrameHeight;
        Require(textureWidth >= 1 && textureHeight >= 1, "Flag texture is empty");
        Require(IsExportScale(exportScale), "Flag export scale out of range");
        Require(W >= kMinFrameWidth && W <= maxWidth && H >= kMinFrameHeight && H <= maxHeight
                && W * exportScale <= kMaxRenderWidth && H * exportScale <= kMaxRenderHeight,
            "Flag frame size out of range");
        Require(kDistanceRange.Contains(params.Distance)
                && kAmplitudeRange.Contains(params.Amplitude)
                && kAntialiasingRange.Contains(params.Antialiasing)
                && kBumpIntensityRange.Contains(params.BumpIntensity)
                && kBumpFrequencyRange.Contains(params.BumpFrequency)
                && kHoistRange.Contains(params.Hoist)
                && kHoistWidthRange.Contains(params.HoistWidth),
            "Flag parameter out of range");
        Require(params.SpotX >= -kRenderSpotLimit && params.SpotX < kRenderSpotLimit
                && params.SpotY >= -kRenderSpotLimit && params.SpotY < kRenderSpotLimit,
            "Flag pin point out of range");
        Require(derived.FreqStep >= -100 && derived.FreqStep <= 100 && derived.FreqCos >= -100
                && derived.FreqCos <= 100 && derived.FreqSin >= -100 && derived.FreqSin <= 100,
            "Flag wave step out of range");

        TFrameGeometry g;
        g.D = params.Antialiasing;
        g.ExportScale = exportScale;
        g.Width = W * exportScale;
        g.Height = H * exportScale;
        const std::int64_t texW = textureWidth;
        const std::int64_t texH = textureHeight;

        // A positive Distance makes the flag smaller, a negative one larger, and
        // the amplitude shrinks it too so that the waves have room. Zoom is at
        // least 524, so up to a FitOut of 524 Scale is at least 1; a larger
        // frame could take it to 0 for a texture of a few pixels, and the
        // divisions below need at least 1.
        g.Zoom = 1024 + params.Amplitude + 10 * params.Distance;
        g.SpotPxX = std::int64_t(W) * params.SpotX / 1024 + W / 2;
        g.SpotPxY = std::int64_t(H) * params.SpotY / 1024 + H / 2;
        // The wave's amplitude in the units of Scale, FitTex x Amplitude / (2 x
        // FitOut), with FitTex in 128ths of a texel.
        std::int64_t fitTex128 = 0;

        const TPoleBox pole = PoleBox(params, texW, texH);
        if (pole.Width == 0 && pole.Height == 0) {
            // Fit along the axis on which the texture is relatively longer.
            if (texW * H / W >= texH) {
                g.FitTex = textureWidth;
                g.FitOut = W;
            } else {
                g.FitTex = textureHeight;
                g.FitOut = H;
            }
            g.Scale = std::max<std::int64_t>(1, std::int64_t(g.Zoom) * g.FitTex / g.FitOut);
            g.TexAnchorX = ((g.SpotPxX - (W - texW * 1024 / g.Scale) / 2) * g.Scale) / 1024;
            g.TexAnchorY = ((g.SpotPxY - (H - texH * 1024 / g.Scale) / 2) * g.Scale) / 1024;
            fitTex128 = std::int64_t(g.FitTex) * 128;
        } else {
            // The flag and the pole's parts beside it are fitted and centred
            // together, so that the pole is in the picture; the anchor is
            // then the texel of the flag under the pin point.
            const std::int64_t boxW = texW * 128 + pole.Width;
            const std::int64_t boxH = texH * 128 + pole.Height;
            if (boxW * H / W >= boxH) {
                fitTex128 = boxW;
                g.FitOut = W;
            } else {
                fitTex128 = boxH;
                g.FitOut = H;
            }
            g.FitTex = static_cast<std::int32_t>(fitTex128 / 128);
            g.Scale = std::max<std::int64_t>(1, g.Zoom * fitTex128 / (128 * g.FitOut));
            const auto anchor = [&](std::int64_t spot, std::int64_t out, std::int64_t box,
                                    std::int64_t before) {
                const std::int64_t at128
                    = ((spot - (out - box * 8 / g.Scale) / 2) * g.Scale * 128) / 1024 - before;
                return at128 >= 0 ? at128 / 128 : -((127 - at128) / 128);
            };
            g.TexAnchorX = anchor(g.SpotPxX, W, boxW, pole.Left);
            g.TexAnchorY = anchor(g.SpotPxY, H, boxH, pole.Top);
        }

        // A 150-pixel frame gets Frequency x Zoom / 1024 phase units per pixel and
        // larger frames proportionally fewer, so the number of waves across the
        // flag depends neither on the window size nor on the zoom.
        const std::int32_t stepDivisor = g.FitOut * 1024;
        g.RadialStep = derived.FreqStep * g.Zoom * 150 / stepDivisor;
        g.StepX = derived.FreqCos * g.Zoom * 150 / stepDivisor;
        g.StepY = derived.FreqSin * g.Zoom * 150 / stepDivisor;

        g.WaveAmp = params.Amplitude * fitTex128 / (std::int64_t(g.FitOut) * 256);

        g.BumpAmp = params.BumpIntensity * 2;
        g.B1 = static_cast<std::int32_t>(params.BumpFrequency * 4400 / g.Scale);
        g.B2 = static_cast<std::int32_t>(params.BumpFrequency * 6400 / g.Scale);
        g.B3 = static_cast<std::int32_t>(params.BumpFrequency * 8400 / g.Scale);
        g.B4 = static_cast<std::int32_t>(params.BumpFrequency * 10400 / g.Scale);

        // The ring centre lies half-way between the frame centre and the pin;
        // in sample coordinates, (1 << D) x exportScale of them per frame pixel.
        const std::int64_t samplesPerPixel = (std::int64_t(1) << g.D) * exportScale;
        g.Cx = ((std::int64_t(params.SpotX) + 1024) * W / 2048) * samplesPerPixel;
        g.Cy = ((std::int64_t(params.SpotY) + 1024) * H / 2048) * samplesPerPixel;

        g.Hoist = params.Hoist;
        g.HoistWidth = params.HoistWidth;
        g.ShowPole = params.ShowPole && params.Hoist != hoNone;
        return g;
    }

    template <bool kThird>
    TSampleTrace Trace(const TSampler& sampler, bool radial, std::int32_t X, std::int32_t Y)
    {
        TSampleTrace t;
        double denominator = 0;
        if (radial) {
            const double dx = sampler.Cx - X;
            const double dy = sampler.Cy - Y;
            const double r = std::sqrt(dx * dx + dy * dy);
            denominator = 0.001 + r;
            t.Phase = sampler.RadialPhase<kThird>(static_cast<std::int32_t>(Trunc(r)));
        } else {
            t.Phase = sampler.DirectionalPhase<kThird>(sampler.RowTerm<kThird>(Y), X);
        }
        const bool hoisted = sampler.HoistAxis != THoistAxis::None;
        const bool columns = sampler.HoistAxis == THoistAxis::Columns;
        THoistStep hoist;
        if (hoisted) {
            hoist = sampler.HoistStepAt(columns ? X : Y);
            t.Damping = hoist.Weight;
            t.LocalScale = sampler.DampedScale(t.Phase, hoist.Amp);
        } else {
            t.LocalScale = sampler.LocalScale(t.Phase);
        }
        t.U = sampler.TexelOffset<kThird>(X - sampler.SpotX, t.LocalScale) + sampler.TexAnchorX;
        t.V = sampler.TexelOffset<kThird>(Y - sampler.SpotY, t.LocalScale) + sampler.TexAnchorY;
        if (hoisted) {
            std::int64_t& across = columns ? t.U : t.V;
            across = std::clamp(across, hoist.Lo, hoist.Hi);
            if (sampler.Pole) {
                const std::uint8_t* color
                    = sampler.PoleSample(hoist, sampler.AlongAt(columns ? Y : X), t.PoleLight);
                t.Pole = color != nullptr;
                if (color)
                    std::copy(color, color + 3, t.PoleColor);
            }
        }
        t.Inside = t.U >= 0 && t.V >= 0 && t.U < sampler.TexW && t.V < sampler.TexH;
        if (!t.Inside)
            return t;
        t.Bump = sampler.Bump(static_cast<std::int32_t>(t.U), static_cast<std::int32_t>(t.V));
        t.Light = sampler.Slope(t.Phase, t.Bump);
        if (radial)
            t.Light = TSampler::RadialLight(t.Light, sampler.Cy - Y, denominator);
        if (hoisted)
            t.Light = TSampler::DampedLight(t.Light, hoist.Weight);
        return t;
    }

    // The renderer proper, for geometry checked by the caller. The frame is
    // rendered straight into its slot, and WorkImage then shares the slot's
    // pixels: an exact copy that costs no copying (whichever of the two is
    // written first gets pixels of its own).
    void Render(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
        const FlagParameters& params, const TFrameGeometry& geometry, const TDIB& texture,
        const TDIB& alpha, const TLightTable& lightTable, const TRenderStatus& status)
    {
        if (status)
            status("正在渲染 帧 #" + std::to_string(k + 1));
        // Sharing the slot's pixels would make the first write copy them.
        store.WorkImage = TDIB();
        // Until the new frame is there the slot holds no finished frame.
        store.FrameRendered[k] = false;
        const TRenderTarget target
            = TargetOf(store.FrameBitmaps[k], store.FrameMasks[k], geometry, params);
        const TSampler sampler(geometry, texture.Width(), texture.Height(), phi);
        const TTexels texels = TexelsOf(texture, alpha);
        const bool anyOutside = render_kernel::RenderPixels(geometry, params.Radial, sampler,
            render_kernel::PrepareShading(geometry, sampler, texels, target), texels, lightTable,
            target);
        store.WorkImage = store.FrameBitmaps[k];
        store.FrameTransparent[k] = anyOutside && params.TransparentMode;
        store.FrameRendered[k] = true;
    }

} // namespace

namespace render_kernel {

    TTexels TexelsOf(const TDIB& texture, const TDIB& alpha)
    {
        TTexels texels;
        texels.Top = texture.ConstScanLine(0);
        texels.Stride = texture.Height() > 1 ? texture.ConstScanLine(1) - texels.Top : 0;
        if (!alpha.Empty()) {
            texels.AlphaTop = alpha.ConstScanLine(0);
            texels.AlphaStride = alpha.Height() > 1 ? alpha.ConstScanLine(1) - texels.AlphaTop : 0;
        }
        return texels;
    }

    void RequireTexture(const TDIB& texture, const TDIB& alpha)
    {
        Require(
            !texture.Empty() && texture.BitCount() == 24, "Flag texture must be a 24-bit picture");
        Require(alpha.Empty()
                || (alpha.BitCount() == 8 && alpha.Width() == texture.Width()
                    && alpha.Height() == texture.Height()),
            "Flag texture alpha must be an 8-bit plane of the texture's size");
    }

    TRenderTarget TargetOf(
        TDIB& frame, TDIB& mask, const TFrameGeometry& geometry, const FlagParameters& params)
    {
        TRenderTarget target = TargetOf(frame, geometry, params);
        AttachMask(target, mask);
        return target;
    }

    void AttachMask(TRenderTarget& target, TDIB& mask)
    {
        EnsureShape(mask, target.W, target.H, 8);
        target.Mask = mask.ScanLine(0);
        target.MaskStride = target.H > 1 ? mask.ScanLine(1) - target.Mask : 0;
    }

    TRenderTarget TargetOf(
        TDIB& frame, const TFrameGeometry& geometry, const FlagParameters& params)
    {
        EnsureShape(frame, geometry.Width, geometry.Height, 24);
        TRenderTarget target;
        target.Out = frame.ScanLine(0);
        target.OutStride = geometry.Height > 1 ? frame.ScanLine(1) - target.Out : 0;
        target.W = geometry.Width;
        target.H = geometry.Height;
        target.ExportScale = geometry.ExportScale;
        target.TransparentMode = params.TransparentMode;
        // The background colour is 0x00BBGGRR; pixels store blue, green, red.
        target.Background[0] = static_cast<std::uint8_t>((params.BackgroundColor >> 16) & 255);
        target.Background[1] = static_cast<std::uint8_t>((params.BackgroundColor >> 8) & 255);
        target.Background[2] = static_cast<std::uint8_t>(params.BackgroundColor & 255);
        return target;
    }

} // namespace render_kernel

TFrameGeometry ComputeFrameGeometry(const FlagParameters& params, const TFlagDerived& derived,
    std::int32_t textureWidth, std::int32_t textureHeight)
{
    return Geometry(
        params, derived, textureWidth, textureHeight, kMaxFrameWidth, kMaxFrameHeight, 1);
}

TFrameGeometry ComputeScaledFrameGeometry(const FlagParameters& params, const TFlagDerived& derived,
    std::int32_t textureWidth, std::int32_t textureHeight, std::int32_t exportScale)
{
    return Geometry(params, derived, textureWidth, textureHeight, kMaxRenderWidth, kMaxRenderHeight,
        exportScale);
}

TSampleTrace TraceSample(const TFrameGeometry& geometry, bool radial, std::int32_t textureWidth,
    std::int32_t textureHeight, std::int32_t X, std::int32_t Y, std::uint16_t phi)
{
    const TSampler sampler(geometry, textureWidth, textureHeight, phi);
    return sampler.Third ? Trace<true>(sampler, radial, X, Y) : Trace<false>(sampler, radial, X, Y);
}

void RenderFrame(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TLightTable& lightTable, const TRenderStatus& status)
{
    RenderFrame(store, k, phi, params, derived, texture, TDIB(), lightTable, status);
}

void RenderFrame(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TDIB& alpha, const TLightTable& lightTable, const TRenderStatus& status)
{
    Require(k < kFrameSlots, "Flag frame index out of range");
    RequireTexture(texture, alpha);
    const TFrameGeometry geometry
        = ComputeFrameGeometry(params, derived, texture.Width(), texture.Height());
    Render(store, k, phi, params, geometry, texture, alpha, lightTable, status);
}

void RenderScaledFrame(TFrameStore& store, std::uint16_t k, std::uint16_t phi,
    const FlagParameters& params, const TFlagDerived& derived, const TDIB& texture,
    const TDIB& alpha, const TLightTable& lightTable, std::int32_t exportScale,
    const TRenderStatus& status)
{
    Require(k < kFrameSlots, "Flag frame index out of range");
    RequireTexture(texture, alpha);
    const TFrameGeometry geometry = ComputeScaledFrameGeometry(
        params, derived, texture.Width(), texture.Height(), exportScale);
    Render(store, k, phi, params, geometry, texture, alpha, lightTable, status);
}

} // namespace zx
