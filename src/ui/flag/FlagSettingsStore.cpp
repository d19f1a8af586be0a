#include "ui/flag/FlagSettingsStore.h"

#include "ui/flag/XRegistryUnit.h"

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

} // namespace zx
