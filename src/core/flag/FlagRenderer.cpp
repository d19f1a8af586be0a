#include "core/flag/FlagRenderer.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/flag/XSinusUnit.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace zx {

namespace {

    void Require(bool condition, const char* message)
    {
        if (!condition)
            throw EInvalidGraphicOperation(message);
    }

    // Everything one sample needs, gathered once per frame so that the inner loop
    // touches only locals and tables.
    struct TSampler {
        const std::int32_t* Sin = nullptr;
        const std::int32_t* Cos = nullptr;
        std::int32_t D = 0;
        std::int32_t Phi = 0;
        std::int32_t TexW = 0;
        std::int32_t TexH = 0;
        // The pin point in sample coordinates.
        std::int64_t SpotX = 0;
        std::int64_t SpotY = 0;
        std::int64_t TexAnchorX = 0;
        std::int64_t TexAnchorY = 0;
        std::int64_t Scale = 0;
        std::int64_t WaveAmp = 0;
        std::int32_t RadialStep = 0;
        std::int32_t StepX = 0;
        std::int32_t StepY = 0;
        std::int32_t BumpAmp = 0;
        std::int32_t B1 = 0, B2 = 0, B3 = 0, B4 = 0;
        double Cx = 0;
        double Cy = 0;

        TSampler(const TFrameGeometry& g, std::int32_t texW, std::int32_t texH, std::uint16_t phi)
            : Sin(SinTable().data())
            , Cos(CosTable().data())
            , D(g.D)
            , Phi(phi)
            , TexW(texW)
            , TexH(texH)
            , SpotX(g.SpotPxX * (std::int64_t(1) << g.D))
            , SpotY(g.SpotPxY * (std::int64_t(1) << g.D))
            , TexAnchorX(g.TexAnchorX)
            , TexAnchorY(g.TexAnchorY)
            , Scale(g.Scale)
            , WaveAmp(g.WaveAmp)
            , RadialStep(g.RadialStep)
            , StepX(g.StepX)
            , StepY(g.StepY)
            , BumpAmp(g.BumpAmp)
            , B1(g.B1)
            , B2(g.B2)
            , B3(g.B3)
            , B4(g.B4)
            , Cx(static_cast<double>(g.Cx))
            , Cy(static_cast<double>(g.Cy))
        {
        }

        // FixedSin and FixedCos on the cached table pointers.
        std::int32_t FSin(std::int32_t a, std::int32_t b) const
        {
            return Sar(MulWrap(Sin[Mask12(a)], b), 12);
        }
        std::int32_t FCos(std::int32_t a, std::int32_t b) const
        {
            return Sar(MulWrap(Cos[Mask12(a)], b), 12);
        }

        // One sample at sample coordinates (X, Y). Returns false when it falls off
        // the texture; otherwise u, v and the light level are set.
        template <bool kRadial> bool Sample(std::int32_t X, std::int32_t Y, TSampleTrace& t) const
        {
            // The wave phase. Only its low 12 bits matter from here on, so the
            // products may wrap.
            double r = 0;
            if constexpr (kRadial) {
                const double dx = Cx - X;
                const double dy = Cy - Y;
                r = std::sqrt(dx * dx + dy * dy);
                t.Phase = SubWrap(
                    Sar(MulWrap(static_cast<std::int32_t>(Trunc(r)), RadialStep), D), Phi);
            } else {
                t.Phase = SubWrap(Sar(SubWrap(MulWrap(X, StepX), MulWrap(Y, StepY)), D), Phi);
            }

            // Near a crest fewer texels are taken per pixel, so that part of the
            // flag looks nearer. The sine term is FixedSin(Phase, WaveAmp); it is
            // computed in 64 bits because WaveAmp grows with the texture, and gives
            // the 32-bit result whenever that does not wrap.
            t.LocalScale = Scale - ((std::int64_t(Sin[Mask12(t.Phase)]) * WaveAmp) >> 12);

            t.U = (((X - SpotX) * t.LocalScale) >> (10 + D)) + TexAnchorX;
            t.V = (((Y - SpotY) * t.LocalScale) >> (10 + D)) + TexAnchorY;
            if (t.U < 0 || t.V < 0 || t.U >= TexW || t.V >= TexH)
                return false;

            // The bump pattern is fixed to the texture: it disturbs the shading but
            // does not travel with the wave.
            const auto u = static_cast<std::int32_t>(t.U);
            const auto v = static_cast<std::int32_t>(t.V);
            t.Bump = FSin(AddWrap(MulWrap(u, B1), MulWrap(v, B2)), BumpAmp)
                + FSin(AddWrap(MulWrap(u, B4), MulWrap(v, B3)), BumpAmp)
                + FCos(AddWrap(MulWrap(u, B3), MulWrap(v, B2)), BumpAmp)
                + FCos(AddWrap(MulWrap(u, B1), MulWrap(v, B4)), BumpAmp);

            const std::int32_t slope = FCos(AddWrap(t.Phase, t.Bump), 16);
            if constexpr (kRadial) {
                // Only the vertical component of the ring's slope lights it, so the
                // rings are lit from above and below their centre; |Light| <= 15.
                t.Light = static_cast<std::int32_t>(Trunc(slope * (Cy - Y) / (0.001 + r)));
            } else {
                t.Light = slope;
            }
            return true;
        }
    };

    // Where the texture's rows are: row v starts at Top + v x Stride. The rows of a
    // TDIB are evenly spaced (BMP layout), so two scan-line look-ups replace a table
    // of row pointers, which for a tall texture would cost more memory than its
    // pixels.
    struct TTexels {
        const std::uint8_t* Top = nullptr;
        std::ptrdiff_t Stride = 0;
        // The alpha plane's rows, when the texture has one.
        const std::uint8_t* AlphaTop = nullptr;
        std::ptrdiff_t AlphaStride = 0;

        const std::uint8_t* At(std::int64_t u, std::int64_t v) const
        {
            return Top + static_cast<std::ptrdiff_t>(v) * Stride
                + static_cast<std::ptrdiff_t>(u) * 3;
        }
        std::uint8_t AlphaAt(std::int64_t u, std::int64_t v) const
        {
            return AlphaTop[static_cast<std::ptrdiff_t>(v) * AlphaStride
                + static_cast<std::ptrdiff_t>(u)];
        }
    };

    struct TRenderTarget {
        TDIB& Work;
        TDIB& Mask;
        std::int32_t W;
        std::int32_t H;
        bool TransparentMode;
        std::uint8_t Background[3];
    };

    // The texel under a sample that fell on the texture, as the bytes that go
    // through the lighting table; null when the texel is transparent (alpha
    // below kAlphaThreshold), which makes the sample one off the flag. A texel
    // that lets some background through is, against a background colour,
    // blended over it first, as if the picture had been flattened onto that
    // colour before it was loaded; in transparent mode its colour is used as
    // stored, since the GIF has no partial transparency to give it.
    template <bool kAlpha>
    const std::uint8_t* FlagTexel(const TTexels& texels, const TSampleTrace& t,
        const TRenderTarget& target, std::uint8_t* blended)
    {
        const std::uint8_t* texel = texels.At(t.U, t.V);
        if constexpr (kAlpha) {
            const std::uint32_t a = texels.AlphaAt(t.U, t.V);
            if (a < kAlphaThreshold)
                return nullptr;
            if (a != 255 && !target.TransparentMode) {
                for (int c = 0; c < 3; ++c)
                    blended[c] = static_cast<std::uint8_t>(
                        (texel[c] * a + target.Background[c] * (255 - a) + 127) / 255);
                return blended;
            }
        }
        return texel;
    }

    template <bool kRadial, bool kAlpha>
    bool RenderPlain(const TSampler& sampler, const TTexels& texels, const TLightTable& light,
        TRenderTarget& target)
    {
        bool anyOutside = false;
        TSampleTrace t;
        std::uint8_t blended[3];
        for (std::int32_t y = 0; y < target.H; ++y) {
            std::uint8_t* out = target.Work.ScanLine(y);
            std::uint8_t* mask = target.Mask.ScanLine(y);
            for (std::int32_t x = 0; x < target.W; ++x, out += 3, ++mask) {
                const std::uint8_t* texel = sampler.Sample<kRadial>(x, y, t)
                    ? FlagTexel<kAlpha>(texels, t, target, blended)
                    : nullptr;
                if (texel) {
                    const auto& row = light[16 - t.Light];
                    out[0] = row[texel[0]];
                    out[1] = row[texel[1]];
                    out[2] = row[texel[2]];
                    *mask = 0;
                } else {
                    anyOutside = true;
                    *mask = 255;
                    if (target.TransparentMode) {
                        const std::uint8_t grey = CheckerGrey(x, y);
                        out[0] = out[1] = out[2] = grey;
                    } else {
                        out[0] = target.Background[0];
                        out[1] = target.Background[1];
                        out[2] = target.Background[2];
                    }
                }
            }
        }
        return anyOutside;
    }

    template <bool kRadial, bool kAlpha, std::int32_t kD>
    bool RenderAntialiased(const TSampler& sampler, const TTexels& texels, const TLightTable& light,
        TRenderTarget& target)
    {
        constexpr std::int32_t kN = 1 << kD;
        bool anyOutside = false;
        TSampleTrace t;
        std::uint8_t blended[3];
        for (std::int32_t y = 0; y < target.H; ++y) {
            std::uint8_t* out = target.Work.ScanLine(y);
            std::uint8_t* mask = target.Mask.ScanLine(y);
            for (std::int32_t x = 0; x < target.W; ++x, out += 3, ++mask) {
                std::uint32_t sum0 = 0, sum1 = 0, sum2 = 0;
                std::uint8_t hit = 0;
                for (std::int32_t j = 0; j < kN && hit == 0; ++j) {
                    const std::int32_t Y = y * kN + j;
                    for (std::int32_t i = 0; i < kN; ++i) {
                        const std::int32_t X = x * kN + i;
                        const std::uint8_t* texel = sampler.Sample<kRadial>(X, Y, t)
                            ? FlagTexel<kAlpha>(texels, t, target, blended)
                            : nullptr;
                        if (texel) {
                            const auto& row = light[16 - t.Light];
                            sum0 += row[texel[0]];
                            sum1 += row[texel[1]];
                            sum2 += row[texel[2]];
                        } else if (target.TransparentMode) {
                            // One sample off the texture makes the whole pixel
                            // transparent, so the remaining samples cannot change it.
                            hit = 255;
                            break;
                        } else {
                            sum0 += target.Background[0];
                            sum1 += target.Background[1];
                            sum2 += target.Background[2];
                        }
                    }
                }
                *mask = hit;
                if (hit == 0) {
                    out[0] = static_cast<std::uint8_t>(sum0 >> (2 * kD));
                    out[1] = static_cast<std::uint8_t>(sum1 >> (2 * kD));
                    out[2] = static_cast<std::uint8_t>(sum2 >> (2 * kD));
                } else {
                    anyOutside = true;
                    const std::uint8_t grey = CheckerGrey(x, y);
                    out[0] = out[1] = out[2] = grey;
                }
            }
        }
        return anyOutside;
    }

    template <bool kRadial, bool kAlpha>
    bool RenderPixels(std::int32_t d, const TSampler& sampler, const TTexels& texels,
        const TLightTable& light, TRenderTarget& target)
    {
        switch (d) {
        case 1:
            return RenderAntialiased<kRadial, kAlpha, 1>(sampler, texels, light, target);
        case 2:
            return RenderAntialiased<kRadial, kAlpha, 2>(sampler, texels, light, target);
        default:
            return RenderPlain<kRadial, kAlpha>(sampler, texels, light, target);
        }
    }

    // A texture without alpha takes the code without the alpha test at all,
    // so it renders exactly as fast as before there was one.
    template <bool kRadial>
    bool RenderPixels(std::int32_t d, const TSampler& sampler, const TTexels& texels,
        const TLightTable& light, TRenderTarget& target)
    {
        return texels.AlphaTop ? RenderPixels<kRadial, true>(d, sampler, texels, light, target)
                               : RenderPixels<kRadial, false>(d, sampler, texels, light, target);
    }

    // Gives picture the shape width x height x bitCount, keeping its storage when
    // it has that shape already, so that re-rendering a slot allocates nothing.
    void EnsureShape(TDIB& picture, std::int32_t width, std::int32_t height, std::int32_t bitCount)
    {
        if (picture.Width() != width || picture.Height() != height || picture.BitCount() != bitCount
            || picture.Empty())
            picture.SetSize(width, height, bitCount);
    }

} // namespace

TFrameGeometry ComputeFrameGeometry(const FlagParameters& params, const TFlagDerived& derived,
    std::int32_t textureWidth, std::int32_t textureHeight)
{
    const std::int32_t W = derived.FrameWidth;
    const std::int32_t H = derived.FrameHeight;
    Require(textureWidth >= 1 && textureHeight >= 1, "Flag texture is empty");
    Require(
        W >= kMinFrameWidth && W <= kMaxFrameWidth && H >= kMinFrameHeight && H <= kMaxFrameHeight,
        "Flag frame size out of range");
    Require(kDistanceRange.Contains(params.Distance) && kAmplitudeRange.Contains(params.Amplitude)
            && kAntialiasingRange.Contains(params.Antialiasing)
            && kBumpIntensityRange.Contains(params.BumpIntensity)
            && kBumpFrequencyRange.Contains(params.BumpFrequency),
        "Flag parameter out of range");
    Require(params.SpotX >= -kRenderSpotLimit && params.SpotX < kRenderSpotLimit
            && params.SpotY >= -kRenderSpotLimit && params.SpotY < kRenderSpotLimit,
        "Flag pin point out of range");
    Require(derived.FreqStep >= -100 && derived.FreqStep <= 100 && derived.FreqCos >= -100
            && derived.FreqCos <= 100 && derived.FreqSin >= -100 && derived.FreqSin <= 100,
        "Flag wave step out of range");

    TFrameGeometry g;
    g.D = params.Antialiasing;
    const std::int64_t texW = textureWidth;
    const std::int64_t texH = textureHeight;

    // Fit along the axis on which the texture is relatively longer.
    if (texW * H / W >= texH) {
        g.FitTex = textureWidth;
        g.FitOut = W;
    } else {
        g.FitTex = textureHeight;
        g.FitOut = H;
    }

    // A positive Distance makes the flag smaller, a negative one larger, and
    // the amplitude shrinks it too so that the waves have room. Zoom is at
    // least 524 and FitOut at most 320, so Scale is at least 1.
    g.Zoom = 1024 + params.Amplitude + 10 * params.Distance;
    g.Scale = std::int64_t(g.Zoom) * g.FitTex / g.FitOut;

    g.SpotPxX = std::int64_t(W) * params.SpotX / 1024 + W / 2;
    g.SpotPxY = std::int64_t(H) * params.SpotY / 1024 + H / 2;

    g.TexAnchorX = ((g.SpotPxX - (W - texW * 1024 / g.Scale) / 2) * g.Scale) / 1024;
    g.TexAnchorY = ((g.SpotPxY - (H - texH * 1024 / g.Scale) / 2) * g.Scale) / 1024;

    // A 150-pixel frame gets Frequency x Zoom / 1024 phase units per pixel and
    // larger frames proportionally fewer, so the number of waves across the
    // flag depends neither on the window size nor on the zoom.
    const std::int32_t stepDivisor = g.FitOut * 1024;
    g.RadialStep = derived.FreqStep * g.Zoom * 150 / stepDivisor;
    g.StepX = derived.FreqCos * g.Zoom * 150 / stepDivisor;
    g.StepY = derived.FreqSin * g.Zoom * 150 / stepDivisor;

    g.WaveAmp = std::int64_t(params.Amplitude) * g.FitTex / (g.FitOut * 2);

    g.BumpAmp = params.BumpIntensity * 2;
    g.B1 = static_cast<std::int32_t>(params.BumpFrequency * 4400 / g.Scale);
    g.B2 = static_cast<std::int32_t>(params.BumpFrequency * 6400 / g.Scale);
    g.B3 = static_cast<std::int32_t>(params.BumpFrequency * 8400 / g.Scale);
    g.B4 = static_cast<std::int32_t>(params.BumpFrequency * 10400 / g.Scale);

    // The ring centre lies half-way between the frame centre and the pin.
    g.Cx = ((std::int64_t(params.SpotX) + 1024) * W / 2048) * (std::int64_t(1) << g.D);
    g.Cy = ((std::int64_t(params.SpotY) + 1024) * H / 2048) * (std::int64_t(1) << g.D);
    return g;
}

TSampleTrace TraceSample(const TFrameGeometry& geometry, bool radial, std::int32_t textureWidth,
    std::int32_t textureHeight, std::int32_t X, std::int32_t Y, std::uint16_t phi)
{
    const TSampler sampler(geometry, textureWidth, textureHeight, phi);
    TSampleTrace trace;
    trace.Inside = radial ? sampler.Sample<true>(X, Y, trace) : sampler.Sample<false>(X, Y, trace);
    return trace;
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
    Require(!texture.Empty() && texture.BitCount() == 24, "Flag texture must be a 24-bit picture");
    Require(alpha.Empty()
            || (alpha.BitCount() == 8 && alpha.Width() == texture.Width()
                && alpha.Height() == texture.Height()),
        "Flag texture alpha must be an 8-bit plane of the texture's size");
    const TFrameGeometry geometry
        = ComputeFrameGeometry(params, derived, texture.Width(), texture.Height());

    if (status)
        status("正在渲染 帧 #" + std::to_string(k + 1));

    const std::int32_t W = derived.FrameWidth;
    const std::int32_t H = derived.FrameHeight;
    TDIB& mask = store.FrameMasks[k];
    EnsureShape(store.WorkImage, W, H, 24);
    EnsureShape(mask, W, H, 8);

    TTexels texels;
    texels.Top = texture.ConstScanLine(0);
    texels.Stride = texture.Height() > 1 ? texture.ConstScanLine(1) - texels.Top : 0;
    if (!alpha.Empty()) {
        texels.AlphaTop = alpha.ConstScanLine(0);
        texels.AlphaStride = alpha.Height() > 1 ? alpha.ConstScanLine(1) - texels.AlphaTop : 0;
    }

    // The background colour is 0x00BBGGRR; pixels store blue, green, red.
    TRenderTarget target { store.WorkImage, mask, W, H, params.TransparentMode,
        { static_cast<std::uint8_t>((params.BackgroundColor >> 16) & 255),
            static_cast<std::uint8_t>((params.BackgroundColor >> 8) & 255),
            static_cast<std::uint8_t>(params.BackgroundColor & 255) } };

    const TSampler sampler(geometry, texture.Width(), texture.Height(), phi);
    const bool anyOutside = params.Radial
        ? RenderPixels<true>(geometry.D, sampler, texels, lightTable, target)
        : RenderPixels<false>(geometry.D, sampler, texels, lightTable, target);

    TDIB& frame = store.FrameBitmaps[k];
    EnsureShape(frame, W, H, 24);
    const std::size_t rowBytes = static_cast<std::size_t>(W) * 3;
    for (std::int32_t y = 0; y < H; ++y)
        std::memcpy(frame.ScanLine(y), store.WorkImage.ConstScanLine(y), rowBytes);

    store.FrameTransparent[k] = anyOutside && params.TransparentMode;
    store.FrameRendered[k] = true;
}

} // namespace zx
