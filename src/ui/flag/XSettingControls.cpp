#include "ui/flag/XSettingControls.h"

#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"

#include <QCheckBox>
#include <algorithm>
#include <cassert>

namespace zx {

TSettingControls::TSettingControls(QObject* parent, std::span<const TSetting> table)
    : QObject(parent)
    , m_table(table)
{
}

QWidget* TSettingControls::Make(const char* name, QWidget* parent)
{
    const TSetting* setting = FindSetting(m_table, name);
    assert(setting && setting->Panel.Kind != TControlKind::None);
    const TSettingPanel& panel = setting->Panel;
    const QString caption = QString::fromUtf8(panel.Caption ? panel.Caption : "");
    const TFlagRange range = setting->Range;
    QWidget* control = nullptr;
    switch (panel.Kind) {
    case TControlKind::Slider: {
        auto* slider = new TNiceScrollBar(parent);
        slider->SetMax(range.Max);
        slider->SetMin(range.Min);
        slider->SetPosition(range.Default);
        slider->SetSmallChange(panel.Step);
        slider->SetDefaultMode(dmFixed);
        slider->SetDefaultPos(range.Default);
        slider->SetLabelCaption(
            panel.CaptionOf ? QString::fromStdString(panel.CaptionOf(range.Default)) : caption);
        connect(slider, &TNiceScrollBar::OnChange, this, [this, setting] { UserChanged(setting); });
        control = slider;
        break;
    }
    case TControlKind::CheckBox: {
        auto* box = new QCheckBox(caption, parent);
        box->setChecked(range.Default != 0);
        connect(box, &QCheckBox::toggled, this, [this, setting] { UserChanged(setting); });
        control = box;
        break;
    }
    case TControlKind::RadioGroup: {
        QStringList items;
        for (const char* item : panel.Items)
            items << QString::fromUtf8(item);
        auto* group = new TRadioGroup(
            caption, items, parent, panel.SideBySide ? Qt::Horizontal : Qt::Vertical);
        group->SetItemIndex(range.Default);
        connect(group, &TRadioGroup::OnClick, this, [this, setting] { UserChanged(setting); });
        control = group;
        break;
    }
    case TControlKind::ColorChoice: {
        auto* choice = new TColorChoice(parent);
        choice->SetCaption(caption);
        choice->SetColor(TColor(range.Default));
        connect(choice, &TColorChoice::OnChange, this, [this, setting] { UserChanged(setting); });
        control = choice;
        break;
    }
    case TControlKind::None:
        return nullptr;
    }
    control->setObjectName(QString::fromLatin1(panel.Control));
    m_bindings.push_back({ setting, control });
    return control;
}

std::int32_t TSettingControls::ValueOf(const TBinding& binding) const
{
    switch (binding.Setting->Panel.Kind) {
    case TControlKind::Slider:
        return static_cast<const TNiceScrollBar*>(binding.Control)->Position();
    case TControlKind::CheckBox:
        return static_cast<const QCheckBox*>(binding.Control)->isChecked() ? 1 : 0;
    case TControlKind::RadioGroup:
        // Nothing selected reads as the first item.
        return std::max(0, static_cast<const TRadioGroup*>(binding.Control)->ItemIndex());
    case TControlKind::ColorChoice:
        return static_cast<std::int32_t>(
            static_cast<const TColorChoice*>(binding.Control)->Color());
    case TControlKind::None:
        break;
    }
    return 0;
}

void TSettingControls::ShowValue(const TBinding& binding, std::int32_t value)
{
    switch (binding.Setting->Panel.Kind) {
    case TControlKind::Slider:
        static_cast<TNiceScrollBar*>(binding.Control)->SetPosition(value);
        break;
    case TControlKind::CheckBox:
        static_cast<QCheckBox*>(binding.Control)->setChecked(value != 0);
        break;
    case TControlKind::RadioGroup: {
        auto* group = static_cast<TRadioGroup*>(binding.Control);
        group->SetItemIndex(std::clamp(value, 0, group->Count() - 1));
        break;
    }
    case TControlKind::ColorChoice:
        static_cast<TColorChoice*>(binding.Control)->SetColor(TColor(value));
        break;
    case TControlKind::None:
        break;
    }
}

void TSettingControls::Show(const TSettings& settings)
{
    const bool was = m_showing;
    m_showing = true;
    for (const TBinding& binding : m_bindings)
        ShowValue(binding, binding.Setting->Value.Get(settings));
    m_showing = was;
    Follow(settings);
}

void TSettingControls::Follow(const TSettings& settings)
{
    for (const TBinding& binding : m_bindings) {
        const TSettingPanel& panel = binding.Setting->Panel;
        const bool enabled = !panel.EnabledWhen || panel.EnabledWhen(settings);
        if (panel.Kind == TControlKind::Slider) {
            auto* slider = static_cast<TNiceScrollBar*>(binding.Control);
            slider->SetEnabled(enabled);
            if (panel.CaptionOf)
                slider->SetLabelCaption(
                    QString::fromStdString(panel.CaptionOf(binding.Setting->Value.Get(settings))));
        } else {
            binding.Control->setEnabled(enabled);
        }
    }
}

void TSettingControls::Read(const TSetting& setting, TSettings& settings) const
{
    for (const TBinding& binding : m_bindings) {
        if (binding.Setting == &setting)
            setting.Value.Set(settings, ValueOf(binding));
    }
}

void TSettingControls::ReadAll(TSettings& settings) const
{
    for (const TBinding& binding : m_bindings)
        binding.Setting->Value.Set(settings, ValueOf(binding));
}

void TSettingControls::UserChanged(const TSetting* setting)
{
    if (!m_showing)
        emit Changed(setting);
}

} // namespace zx
