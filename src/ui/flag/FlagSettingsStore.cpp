#include "ui/flag/FlagSettingsStore.h"

#include "ui/flag/XRegistryUnit.h"

namespace zx {

namespace {

    const char* GroupName(TSettingGroup group)
    {
        return group == TSettingGroup::Text ? "Text" : "Settings";
    }

} // namespace

QString ProgramKey()
{
    return QStringLiteral("\\Software\\Tarnwick\\Zephyrix");
}

QString ProgramSubKey(const char* group)
{
    return ProgramKey() + QLatin1Char('\\') + QLatin1String(group);
}

QString ProgramSubKey(TSettingGroup group)
{
    return ProgramSubKey(GroupName(group));
}

void ReadSetting(const TNewRegistry& registry, const TSetting& setting, TSettings& settings)
{
    const QString name = QLatin1String(setting.Name);
    switch (setting.Type) {
    case TSettingType::Text:
        setting.Text.Set(settings,
            registry.ReadStringDef(name, QString::fromUtf8(setting.DefaultText)).toStdString());
        return;
    case TSettingType::Boolean: {
        const bool current = setting.Value.Get(settings) != 0;
        setting.Value.Set(settings, registry.ReadBoolDef(name, current) ? 1 : 0);
        return;
    }
    case TSettingType::Integer:
    case TSettingType::Color:
    case TSettingType::Choice:
        break;
    }
    const std::int32_t current = setting.Value.Get(settings);
    setting.Value.Set(
        settings, TakeStoredValue(setting, registry.ReadIntegerDef(name, current), current));
}

void WriteSetting(TNewRegistry& registry, const TSetting& setting, const TSettings& settings)
{
    const QString name = QLatin1String(setting.Name);
    switch (setting.Type) {
    case TSettingType::Text:
        registry.WriteString(name, QString::fromStdString(setting.Text.Get(settings)));
        return;
    case TSettingType::Boolean:
        registry.WriteBool(name, setting.Value.Get(settings) != 0);
        return;
    case TSettingType::Integer:
    case TSettingType::Color:
    case TSettingType::Choice:
        break;
    }
    registry.WriteInteger(name, setting.Value.Get(settings));
}

void ReadSettingsGroup(const TNewRegistry& registry, TSettingGroup group, TSettings& settings)
{
    for (const TSetting& setting : SettingsTable()) {
        if (setting.Group == group)
            ReadSetting(registry, setting, settings);
    }
}

void WriteSettingsGroup(TNewRegistry& registry, TSettingGroup group, const TSettings& settings)
{
    for (const TSetting& setting : SettingsTable()) {
        if (setting.Group == group)
            WriteSetting(registry, setting, settings);
    }
}

void ReadSavedSettings(TSettings& settings)
{
    TNewRegistry registry;
    for (const TSettingGroup group : { TSettingGroup::Settings, TSettingGroup::Text }) {
        if (registry.OpenKey(ProgramSubKey(group), false))
            ReadSettingsGroup(registry, group, settings);
    }
}

} // namespace zx
