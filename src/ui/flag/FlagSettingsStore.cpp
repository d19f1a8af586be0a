#include "ui/flag/FlagSettingsStore.h"

#include "ui/flag/XRegistryUnit.h"

#include <algorithm>

namespace zx {

QString ProgramKey()
{
    return QStringLiteral("\\Software\\Tarnwick\\Zephyrix");
}

QString ProgramSubKey(const char* group)
{
    return ProgramKey() + QLatin1Char('\\') + QLatin1String(group);
}

std::int32_t ReadFlagField(
    const TNewRegistry& registry, const TFlagField& field, std::int32_t current)
{
    const QString name = QLatin1String(field.Name);
    if (field.Kind == TFlagFieldKind::Boolean)
        return registry.ReadBoolDef(name, current != 0) ? 1 : 0;
    return registry.ReadIntegerDef(name, current);
}

void WriteFlagField(TNewRegistry& registry, const TFlagField& field, std::int32_t value)
{
    const QString name = QLatin1String(field.Name);
    if (field.Kind == TFlagFieldKind::Boolean)
        registry.WriteBool(name, value != 0);
    else
        registry.WriteInteger(name, value);
}

bool ReadSavedFlagParameters(FlagParameters& params)
{
    TNewRegistry registry;
    if (!registry.OpenKey(ProgramSubKey(kSettingsGroup), false))
        return false;
    for (const TFlagField& field : FlagFields()) {
        if (!field.Stored)
            continue;
        const std::int32_t value = ReadFlagField(registry, field, field.Get(params));
        if (field.Kind == TFlagFieldKind::Color) {
            if (field.Range.Contains(value))
                field.Set(params, value);
        } else {
            field.Set(params, field.Range.Clamp(value));
        }
    }
    return true;
}

bool ReadSavedHighQuality(bool current)
{
    TNewRegistry registry;
    if (!registry.OpenKey(ProgramSubKey(kSettingsGroup), false))
        return current;
    return registry.ReadBoolDef(QLatin1String(kHighQualityValue), current);
}

namespace {

    std::int32_t ReadClamped(
        const TNewRegistry& registry, const char* name, std::int32_t current, TTextRange range)
    {
        return std::clamp(
            registry.ReadIntegerDef(QLatin1String(name), current), range.Min, range.Max);
    }

    constexpr TTextRange kAlignRange { 0, 2, 1 };

} // namespace

void ReadTextSettings(const TNewRegistry& registry, TTextOverlaySettings& text)
{
    text.FontName
        = registry.ReadStringDef(QStringLiteral("FontName"), QString::fromLatin1(kDefaultTextFont))
              .toStdString();
    text.Size = ReadClamped(registry, "FontSize", text.Size, kTextSizeRange);
    const std::int32_t color
        = registry.ReadIntegerDef(QStringLiteral("FontColor"), std::int32_t(text.Color));
    if (kColorRange.Contains(color))
        text.Color = std::uint32_t(color);
    text.Angle = ReadClamped(registry, "FontAngle", text.Angle, kTextAngleRange);
    text.Shadow = ReadClamped(registry, "FontShaddow", text.Shadow, kTextShadowRange);
    text.AlignH = static_cast<TTextAlignH>(
        ReadClamped(registry, "AlignHorizontal", text.AlignH, kAlignRange));
    text.AlignV = static_cast<TTextAlignV>(
        ReadClamped(registry, "AlignVertical", text.AlignV, kAlignRange));
}

void WriteTextSettings(TNewRegistry& registry, const TTextOverlaySettings& text)
{
    registry.WriteString(QStringLiteral("FontName"), QString::fromStdString(text.FontName));
    registry.WriteInteger(QStringLiteral("FontSize"), text.Size);
    registry.WriteInteger(QStringLiteral("FontColor"), std::int32_t(text.Color));
    registry.WriteInteger(QStringLiteral("FontAngle"), text.Angle);
    registry.WriteInteger(QStringLiteral("FontShaddow"), text.Shadow);
    registry.WriteInteger(QStringLiteral("AlignHorizontal"), text.AlignH);
    registry.WriteInteger(QStringLiteral("AlignVertical"), text.AlignV);
}

bool ReadSavedTextSettings(TTextOverlaySettings& text)
{
    TNewRegistry registry;
    if (!registry.OpenKey(ProgramSubKey(kTextGroup), false))
        return false;
    ReadTextSettings(registry, text);
    return true;
}

} // namespace zx
