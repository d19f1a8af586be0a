#include "core/flag/FlagModel.h"

#include "core/imaging/XImageFileUnit.h"

namespace zx {

TFlagModel::TFlagModel()
    : m_frames(std::make_unique<TFrameStore>())
{
    BuildLight();
    m_derived = DeriveFlagValues(m_params, m_frameWidth, m_frameHeight);
}

void TFlagModel::SetParameters(const FlagParameters& params)
{
    m_params = params;
    BuildLight();
    InvalidateFrames();
}

void TFlagModel::ChangeParameters(const FlagParameters& params, TSettingEffect effect)
{
    m_params = params;
    switch (effect) {
    case TSettingEffect::None:
        return;
    case TSettingEffect::Relight:
        BuildLight();
        break;
    case TSettingEffect::RerenderOpaque:
        // The background colour is not seen on a transparent flag.
        if (m_params.TransparentMode)
            return;
        break;
    case TSettingEffect::Rerender:
        break;
    }
    InvalidateFrames();
}

void TFlagModel::SetFrameSize(std::int32_t width, std::int32_t height)
{
    m_frameWidth = width;
    m_frameHeight = height;
    InvalidateFrames();
}

void TFlagModel::InvalidateFrames()
{
    m_derived = DeriveFlagValues(m_params, m_frameWidth, m_frameHeight);
    m_frames->InvalidateAll();
    if (OnInvalidate)
        OnInvalidate();
}

void TFlagModel::SetTexture(const TDIB& source, const TDIB& alpha)
{
    if (!m_texture)
        m_texture = std::make_unique<TTextureItem>();
    m_texture->Source = source;
    m_texture->Alpha = alpha;
}

void TFlagModel::PrepareTexture(const TTextPainter& painter)
{
    if (!m_texture)
        return;
    ImportBitmap(m_texture->Source, m_texture->Prepared);
    if (painter)
        painter(m_texture->Prepared);
}

bool TFlagModel::FrameRendered(std::int32_t k) const
{
    return k >= 0 && k < kFrameSlots && m_frames->FrameRendered[static_cast<std::size_t>(k)];
}

void TFlagModel::RenderSlot(std::uint16_t k, std::uint16_t phi, const TRenderStatus& status)
{
    if (!m_texture)
        return;
    RenderFrame(*m_frames, k, phi, m_params, m_derived, m_texture->Prepared, m_texture->Alpha,
        m_lightTable, status);
}

void TFlagModel::BuildLight()
{
    m_lightTable
        = BuildLightTable(m_params.Brightness, m_params.Contrast, m_params.InvertLightMode);
}

} // namespace zx
