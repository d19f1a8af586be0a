#include "ui/flag/XSettingControls.h"

#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XIntegerEditComp.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>
#include <cassert>
#include <cstdlib>

namespace zx {

namespace {

    // A caption of the table, or one the program writes from a template
    // ("循环：60"), in the program's language. A slider's template is
    // translated before the slider fills in its numbers.
    QString Caption(const std::string& text)
    {
        return TranslateCoreText("Settings", text);
    }

    // A radio group's item for a value: the value itself, or its place in the
    // setting's allowed values (the nearest one for a value not among them).
    int ItemOf(const TSetting& setting, std::int32_t value)
    {
        const std::span<const std::int32_t> allowed = setting.Allowed;
        if (allowed.empty())
            return value;
        int nearest = 0;
        for (int i = 0; i < int(allowed.size()); ++i) {
            const auto distance = [&](int k) { return std::abs(std::int64_t(allowed[k]) - value); };
            if (distance(i) < distance(nearest))
                nearest = i;
        }
        return nearest;
    }

    std::int32_t ValueOfItem(const TSetting& setting, int item)
    {
        const std::span<const std::int32_t> allowed = setting.Allowed;
        if (allowed.empty())
            return item;
        return allowed[std::size_t(std::clamp(item, 0, int(allowed.size()) - 1))];
    }

} // namespace

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
    const QString caption = panel.Caption ? Caption(panel.Caption) : QString();
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
            panel.CaptionOf ? Caption(panel.CaptionOf(range.Default)) : caption);
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
            items << (panel.ItemsMeaning
                    ? QCoreApplication::translate("Settings", item, panel.ItemsMeaning)
                    : Caption(item));
        auto* group = new TRadioGroup(
            caption, items, parent, panel.SideBySide ? Qt::Horizontal : Qt::Vertical);
        group->SetItemIndex(ItemOf(*setting, range.Default));
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
    case TControlKind::IntegerEdit: {
        auto* edit = new TIntegerEdit(parent);
        edit->SetMinValue(range.Min);
        edit->SetMaxValue(range.Max);
        edit->SetValue(range.Default);
        // What the user typed counts once the edit is left (Enter belongs to
        // the window's default button).
        connect(edit, &TIntegerEdit::OnExit, this, [this, setting] { UserChanged(setting); });
        control = edit;
        break;
    }
    case TControlKind::None:
        return nullptr;
    }
    control->setObjectName(QString::fromLatin1(panel.Control));
    m_bindings.push_back({ setting, control });
    return control;
}

QWidget* TSettingControls::MakeLabelled(const char* setting, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    QWidget* control = Make(setting, row);
    const TSettingPanel& panel = FindSetting(m_table, setting)->Panel;
    auto* label = new QLabel(Caption(panel.Caption), row);
    label->setObjectName(QString::fromLatin1(panel.Control) + QStringLiteral("Label"));
    label->setBuddy(control);
    layout->addWidget(label);
    layout->addWidget(control, 1);
    return row;
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
        return ValueOfItem(*binding.Setting,
            std::max(0, static_cast<const TRadioGroup*>(binding.Control)->ItemIndex()));
    case TControlKind::ColorChoice:
        return static_cast<std::int32_t>(
            static_cast<const TColorChoice*>(binding.Control)->Color());
    case TControlKind::IntegerEdit:
        // Reading the edit's value writes its text as the number it stands for.
        return static_cast<TIntegerEdit*>(binding.Control)->Value();
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
        group->SetItemIndex(std::clamp(ItemOf(*binding.Setting, value), 0, group->Count() - 1));
        break;
    }
    case TControlKind::ColorChoice:
        static_cast<TColorChoice*>(binding.Control)->SetColor(TColor(value));
        break;
    case TControlKind::IntegerEdit:
        static_cast<TIntegerEdit*>(binding.Control)->SetValue(value);
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
                    Caption(panel.CaptionOf(binding.Setting->Value.Get(settings))));
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
