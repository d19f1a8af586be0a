// The panel's export as an animated WebP or APNG: the same frames the GIF is
// made of, rendered where missing, written as zephyrix-cli export writes
// them (lossy WebP at the default quality, APNG losslessly), with the same
// status texts.

#include "core/gif/GIFExport.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/SaveFormats.h"
#include "ui/flag/ShowUnit.h"

#include <QStatusBar>

namespace zx {

TAnimationFormat TFlagForm::FormatOfSaveName(const QString& fileName) const
{
    return SaveFormatOf(
        fileName, m_chosenFormat.value_or(AnimationFormatOfSetting(m_settings.SaveFormat)));
}

void TFlagForm::WriteAnimationAs(TAnimationFormat format, const QString& fileName)
{
    repaint();
    if (ShowForm())
        ShowForm()->repaint();
    const auto status = [this](const std::string& text) {
        SetStatusText(CoreMessage(text));
        MainStatusBar->repaint();
    };
    const auto render = [&](std::int32_t k, std::uint16_t phase) {
        m_model.RenderSlot(static_cast<std::uint16_t>(k), phase, status);
    };
    const TExportOptions options = ExportOptionsOf(m_settings);
    CheckExportOptions(options);
    const TExportAnimation animation
        = GatherExportAnimation(m_model.FrameStore(), options.Frames, render);
    status(sStatusSaving);
    SaveAnimationFile(
        format, fileName.toStdString(), animation.View(options.GIFDelay, options.GIFLoops));
    m_settings.SaveFormat = static_cast<std::int32_t>(format);
    status(std::string());
}

} // namespace zx
