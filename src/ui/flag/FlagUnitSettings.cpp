// The panel's settings in the per-user store: read once at start-up, written
// once when the panel closes. The controls hold the values in between; a
// missing group, a missing value or one that does not read as its type keeps
// what the control holds (at start-up, its default).
//
// Values and groups the program does not know are left alone in the store.

#include "core/flag/FlagParameters.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/FlagSettingsStore.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/flag/XRegistryUnit.h"
#include "ui/imaging/TextUnit.h"

#include <QCheckBox>
#include <QDir>
#include <algorithm>
#include <functional>
#include <optional>

namespace zx {

namespace {

    // How the panel holds one stored flag setting.
    struct TFieldControl {
        std::function<std::int32_t()> Get;
        std::function<void(std::int32_t)> Set;
    };

    TFieldControl SliderControl(TNiceScrollBar* slider)
    {
        // The slider clamps to its range and fires no change event.
        return { [slider] { return slider->Position(); },
            [slider](std::int32_t value) { slider->SetPosition(value); } };
    }

    TFieldControl CheckBoxControl(QCheckBox* box)
    {
        // A changed state fires the box's handler, as a click would: the frames
        // (and for the light, the lighting table) follow the loaded value.
        return { [box] { return std::int32_t(box->isChecked() ? 1 : 0); },
            [box](std::int32_t value) { box->setChecked(value != 0); } };
    }

    std::optional<TFieldControl> ControlOf(TFlagForm& form, const TFlagField& field)
    {
        const std::string name = field.Name;
        const std::pair<const char*, TNiceScrollBar*> sliders[] = {
            { "Frames", form.FramesNiceScrollBar },
            { "Distance", form.DistanceNiceScrollBar },
            { "Amplitude", form.HeightNiceScrollBar },
            { "Frequency", form.FrequencyNiceScrollBar },
            { "Angle", form.AngleNiceScrollBar },
            { "BumpIntensity", form.BumpAmpNiceScrollBar },
            { "BumpFrequency", form.BumpSizeNiceScrollBar },
            { "Brightness", form.BrightnessNiceScrollBar },
            { "Contrast", form.ContrastNiceScrollBar },
            { "GIFDelay", form.DelayNiceScrollBar },
            { "GIFLoops", form.LoopsNiceScrollBar },
            { "GIFBits", form.BitsNiceScrollBar },
        };
        for (const auto& [sliderName, slider] : sliders) {
            if (name == sliderName)
                return SliderControl(slider);
        }
        if (name == "BackgroundColor") {
            // A value that is no colour leaves the chooser as it is.
            TColorChoice* choice = form.BackColorChoice;
            return TFieldControl { [choice] { return std::int32_t(choice->Color()); },
                [choice](std::int32_t value) {
                    if (kColorRange.Contains(value))
                        choice->SetColor(TColor(value));
                } };
        }
        if (name == "TransparentMode")
            return CheckBoxControl(form.TransparentCheckBox);
        if (name == "InvertLightMode")
            return CheckBoxControl(form.SwapLightCheckBox);
        if (name == "Antialiasing") {
            TRadioGroup* group = form.AntialiasRadioGroup;
            // Out-of-range numbers select the nearest item, so that one
            // always stays selected.
            return TFieldControl { [group] { return std::int32_t(group->ItemIndex()); },
                [group](std::int32_t value) {
                    group->SetItemIndex(std::clamp(value, 0, group->Count() - 1));
                } };
        }
        // A click in the flag window always gives a pin point in kSpotRange;
        // a stored one is kept there too, so that no arithmetic on it can
        // overflow.
        if (name == "SpotX")
            return TFieldControl { [&form] { return form.SpotX(); },
                [&form](
                    std::int32_t value) { form.SetSpot(kSpotRange.Clamp(value), form.SpotY()); } };
        if (name == "SpotY")
            return TFieldControl { [&form] { return form.SpotY(); },
                [&form](
                    std::int32_t value) { form.SetSpot(form.SpotX(), kSpotRange.Clamp(value)); } };
        return std::nullopt;
    }

    std::int32_t ReadWindowValue(
        const TNewRegistry& registry, const char* name, std::int32_t current)
    {
        return std::clamp(registry.ReadIntegerDef(QLatin1String(name), current),
            kMinWindowCoordinate, kMaxWindowCoordinate);
    }

} // namespace

void TFlagForm::LoadSettings()
{
    {
        TNewRegistry registry(TRootKey::CurrentUser);
        if (registry.OpenKey(ProgramKey(), false)) {
            const QString folder
                = registry.ReadStringDef(QStringLiteral("CurrentDirectory"), QString());
            // A folder that is gone leaves the current one.
            if (!folder.isEmpty())
                QDir::setCurrent(folder);
        }

        if (registry.OpenKey(ProgramSubKey(kSettingsGroup), false)) {
            for (const TFlagField& field : FlagFields()) {
                const std::optional<TFieldControl> control = ControlOf(*this, field);
                if (field.Stored && control)
                    control->Set(ReadFlagField(registry, field, control->Get()));
            }
            // Only what is written changes with it, not the frames.
            HighQualityCheckBox->setChecked(registry.ReadBoolDef(
                QLatin1String(kHighQualityValue), HighQualityCheckBox->isChecked()));
        }

        if (m_textForm && registry.OpenKey(ProgramSubKey(kTextGroup), false)) {
            TTextOverlaySettings text = m_textForm->Settings();
            ReadTextSettings(registry, text);
            m_textForm->ApplySettings(text);
        }

        if (registry.OpenKey(ProgramSubKey(kFormsGroup), false) && m_showForm) {
            // Stored bounds are outer bounds. Before the windows are shown
            // they have no frame yet, so the flag window's stored size is
            // applied again once its frame is known.
            QRect panel = frameGeometry();
            panel.moveLeft(ReadWindowValue(registry, "ControlPanelX", panel.left()));
            panel.moveTop(ReadWindowValue(registry, "ControlPanelY", panel.top()));
            move(panel.topLeft());
            QRect flag = m_showForm->frameGeometry();
            flag.moveLeft(ReadWindowValue(registry, "PreviewX", flag.left()));
            flag.moveTop(ReadWindowValue(registry, "PreviewY", flag.top()));
            const std::optional<std::int32_t> width
                = registry.ReadInteger(QStringLiteral("PreviewW"));
            const std::optional<std::int32_t> height
                = registry.ReadInteger(QStringLiteral("PreviewH"));
            if (width || height) {
                flag.setWidth(std::clamp(width.value_or(flag.width()), 0, kMaxWindowCoordinate));
                flag.setHeight(std::clamp(height.value_or(flag.height()), 0, kMaxWindowCoordinate));
                m_restoredLayout.FlagOuterSize = flag.size();
            }
            PlaceWindows({ { panel.left(), panel.top(), panel.width(), panel.height() },
                { flag.left(), flag.top(), flag.width(), flag.height() } });
            // The snap the flag window's move would make; a window that is
            // not shown yet reports its moves only when it is shown.
            FlagWindowMoved();
        }
    }

    if (m_textForm)
        m_textForm->SelectPreferredFont();

    // The sliders were set without their change events: the frames are
    // invalidated once with the loaded values, so that the wave's steps and
    // the frame size are those of the loaded settings.
    InvalidateFrames();
}

void TFlagForm::SaveSettings()
{
    TNewRegistry registry(TRootKey::CurrentUser);
    if (registry.OpenKey(ProgramKey(), true)) {
        registry.WriteString(QStringLiteral("CurrentDirectory"), QDir::currentPath());
        registry.Flush();
    }

    if (registry.OpenKey(ProgramSubKey(kSettingsGroup), true)) {
        for (const TFlagField& field : FlagFields()) {
            const std::optional<TFieldControl> control = ControlOf(*this, field);
            if (field.Stored && control)
                WriteFlagField(registry, field, control->Get());
        }
        registry.WriteBool(QLatin1String(kHighQualityValue), HighQualityCheckBox->isChecked());
        registry.Flush();
    }

    if (m_textForm && registry.OpenKey(ProgramSubKey(kTextGroup), true)) {
        TTextOverlaySettings text = m_textForm->Settings();
        // With no font installed there is no entry to save; keep the wanted one.
        if (text.FontName.empty())
            text.FontName = m_textForm->PreferredFontName.toStdString();
        WriteTextSettings(registry, text);
        registry.Flush();
    }

    if (!m_showForm || !registry.OpenKey(ProgramSubKey(kFormsGroup), true))
        return;
    const QRect panel = frameGeometry();
    const QRect flag = m_showForm->frameGeometry();
    registry.WriteInteger(QStringLiteral("ControlPanelX"), panel.left());
    registry.WriteInteger(QStringLiteral("ControlPanelY"), panel.top());
    registry.WriteInteger(QStringLiteral("PreviewX"), flag.left());
    registry.WriteInteger(QStringLiteral("PreviewY"), flag.top());
    registry.WriteInteger(QStringLiteral("PreviewW"), flag.width());
    registry.WriteInteger(QStringLiteral("PreviewH"), flag.height());
    registry.Flush();
}

void TFlagForm::FormClose()
{
    RunCommand(this, [this] { SaveSettings(); });
}

} // namespace zx
