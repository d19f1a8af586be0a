// The panel's side of the GIF export: the save dialog, the busy bits, the
// cursor and the status texts around the core's build of the GIF, which is the
// same one zephyrix-cli export runs, so equal settings give equal bytes. A
// WebP or APNG name goes to FlagUnitSaveFormat.cpp instead.

#include "core/gif/GIFExport.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XWaitCursor.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/SaveFormats.h"
#include "ui/flag/ShowUnit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStatusBar>

namespace zx {

std::optional<QString> TFlagForm::RunGIFSaveDialog()
{
    QFileDialog dialog(this, tr("另存为"), QDir::currentPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // "GIF 图像 (*.gif)", "WebP 动画 (*.webp)", "APNG 动画 (*.png)".
    OfferSaveFormats(dialog, AnimationFormatOfSetting(m_settings.SaveFormat));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    m_chosenFormat = ChosenSaveFormat(dialog);
    QDir::setCurrent(QFileInfo(dialog.selectedFiles().front()).absolutePath());
    return dialog.selectedFiles().front();
}

void TFlagForm::ExportAnimation(bool preview)
{
    TBusyScope exporting(*this, bfExporting);
    // Whatever ends the command, the status text does not stay behind.
    struct TClearStatus {
        TFlagForm& Form;
        ~TClearStatus() { Form.SetStatusText(QString()); }
    } clearStatus { *this };

    if (preview) {
        PreviewAnimation();
        return;
    }
    // Saving asks for the name before anything is rendered.
    const std::optional<QString> fileName = GIFSaveDialog();
    if (!fileName)
        return;
    const TWaitCursor wait;
    if (const TAnimationFormat format = FormatOfSaveName(*fileName);
        format != TAnimationFormat::Gif) {
        WriteAnimationAs(format, *fileName);
        return;
    }
    const std::unique_ptr<TGIFImage> gif = BuildAnimation();
    WriteAnimation(*gif, *fileName);
}

std::unique_ptr<TGIFImage> TFlagForm::BuildAnimation()
{
    repaint();
    if (ShowForm())
        ShowForm()->repaint();
    // The status texts are shown at once: the export runs on this thread.
    const auto status = [this](const std::string& text) {
        SetStatusText(CoreMessage(text));
        MainStatusBar->repaint();
    };
    const auto render = [&](std::int32_t k, std::uint16_t phase) {
        m_model.RenderSlot(static_cast<std::uint16_t>(k), phase, status);
    };
    return BuildExportGif(m_model.FrameStore(), ExportOptionsOf(m_settings), render, status);
}

void TFlagForm::WriteAnimation(const TGIFImage& gif, const QString& fileName)
{
    // The preview's frames saved under a WebP or APNG name.
    if (const TAnimationFormat format = FormatOfSaveName(fileName);
        format != TAnimationFormat::Gif) {
        WriteAnimationAs(format, fileName);
        return;
    }
    SetStatusText(CoreMessage(sStatusSaving));
    MainStatusBar->repaint();
    gif.SaveGifFile(fileName.toStdString());
    m_settings.SaveFormat = static_cast<std::int32_t>(TAnimationFormat::Gif);
    SetStatusText(QString());
    MainStatusBar->repaint();
}

} // namespace zx
