// The panel's settings in the per-user store: read once at start-up, written
// once when the panel closes, each group in the settings table's order. The
// panel's snapshot and the text dialog hold the values in between; a missing
// group, a missing value or one that does not read as its type keeps what is
// there (at start-up, the default).
//
// Values and groups the program does not know are left alone in the store.

#include "ui/controls/XBoxUnit.h"
#include "ui/flag/FlagSettingsStore.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/XRegistryUnit.h"
#include "ui/imaging/TextUnit.h"

#include <QDir>

namespace zx {

void TFlagForm::LoadSettings()
{
    TSettings loaded = m_settings;
    {
        TNewRegistry registry(TRootKey::CurrentUser);
        if (registry.OpenKey(ProgramKey(), false)) {
            const QString folder
                = registry.ReadStringDef(QStringLiteral("CurrentDirectory"), QString());
            // A folder that is gone leaves the current one.
            if (!folder.isEmpty())
                QDir::setCurrent(folder);
        }
        if (registry.OpenKey(ProgramSubKey(TSettingGroup::Settings), false))
            ReadSettingsGroup(registry, TSettingGroup::Settings, loaded);
        if (m_textForm && registry.OpenKey(ProgramSubKey(TSettingGroup::Text), false)) {
            loaded.Text = m_textForm->Settings();
            ReadSettingsGroup(registry, TSettingGroup::Text, loaded);
            m_textForm->ApplySettings(loaded.Text);
        }
        if (registry.OpenKey(ProgramSubKey(kFormsGroup), false))
            m_magnet.ReadBounds(registry);
    }
    if (m_textForm)
        m_textForm->SelectPreferredFont();

    // The flag with the loaded values: the lighting table, the wave's steps
    // and the frame size are those of the loaded settings.
    SetSettings(loaded);
    InvalidateFrames();
}

void TFlagForm::SaveSettings()
{
    TNewRegistry registry(TRootKey::CurrentUser);
    if (registry.OpenKey(ProgramKey(), true)) {
        registry.WriteString(QStringLiteral("CurrentDirectory"), QDir::currentPath());
        registry.Flush();
    }
    if (registry.OpenKey(ProgramSubKey(TSettingGroup::Settings), true)) {
        WriteSettingsGroup(registry, TSettingGroup::Settings, m_settings);
        registry.Flush();
    }
    if (m_textForm && registry.OpenKey(ProgramSubKey(TSettingGroup::Text), true)) {
        TSettings text;
        text.Text = m_textForm->Settings();
        // With no font installed there is no entry to save; keep the wanted one.
        if (text.Text.FontName.empty())
            text.Text.FontName = m_textForm->PreferredFontName.toStdString();
        WriteSettingsGroup(registry, TSettingGroup::Text, text);
        registry.Flush();
    }
    if (!m_showForm || !registry.OpenKey(ProgramSubKey(kFormsGroup), true))
        return;
    m_magnet.WriteBounds(registry);
    registry.Flush();
}

void TFlagForm::FormClose()
{
    RunCommand(this, [this] { SaveSettings(); });
}

} // namespace zx
