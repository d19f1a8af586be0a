#pragma once

// TSettingControls: the controls of the settings table's rows. It makes each
// row's control as the row describes it (a slider with its range, default,
// step and label template, a check box, a radio group with its items, a colour
// chooser), named after the row's control, and reports the user's changes.
// Showing values never reports a change; only the user's input does. The
// caller lays the controls out.

#include "core/flag/FlagSettings.h"

#include <QObject>
#include <span>
#include <vector>

class QWidget;

namespace zx {

class TSettingControls : public QObject {
    Q_OBJECT

public:
    explicit TSettingControls(QObject* parent, std::span<const TSetting> table = SettingsTable());

    // The control of the setting of that name, made on parent.
    QWidget* Make(const char* setting, QWidget* parent);
    template <class T> T* MakeAs(const char* setting, QWidget* parent)
    {
        return static_cast<T*>(Make(setting, parent));
    }

    // The same in a row after its caption (for an edit, which has no
    // caption of its own); returns the row.
    QWidget* MakeLabelled(const char* setting, QWidget* parent);

    // Shows the values in the controls, with their enabled states and the
    // captions the program writes; reports nothing.
    void Show(const TSettings& settings);
    // After a change: the enabled states and the program's captions follow
    // the values.
    void Follow(const TSettings& settings);
    // The value the setting's control holds, into settings.
    void Read(const TSetting& setting, TSettings& settings) const;
    // The values of every control.
    void ReadAll(TSettings& settings) const;

signals:
    // The user changed the setting's control.
    void Changed(const zx::TSetting* setting);

private:
    struct TBinding {
        const TSetting* Setting;
        QWidget* Control;
    };
    std::int32_t ValueOf(const TBinding& binding) const;
    void ShowValue(const TBinding& binding, std::int32_t value);
    void UserChanged(const TSetting* setting);

    std::span<const TSetting> m_table;
    std::vector<TBinding> m_bindings;
    bool m_showing = false;
};

} // namespace zx
