// The panel's side of the GIF export: the save dialog, the busy bits, the
// cursor and the status texts around the core's build of the GIF, which is the
// same one zephyrix-cli export runs, so equal settings give equal bytes.

#include "core/gif/GIFExport.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XWaitCursor.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStatusBar>

namespace zx {

namespace {

    // The GIF picture format as the save dialog offers it.
    constexpr const char* sGIFExtension = "gif";
    constexpr const char* sGIFDescription = "GIF 图像";

    // A status text in panel 0, shown at once: the export runs on this thread.
    void ShowExportStatus(TFlagForm& form, const std::string& text)
    {
        form.SetStatusText(QString::fromStdString(text));
        form.MainStatusBar->repaint();
    }

} // namespace

std::optional<QString> TFlagForm::RunGIFSaveDialog()
{
    const QString extension = QString::fromLatin1(sGIFExtension);
    QFileDialog dialog(this, QStringLiteral("另存为"), QDir::currentPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // "GIF 图像 (*.gif)|*.gif" as Qt writes it.
    dialog.setNameFilter(QString::fromUtf8(sGIFDescription) + QStringLiteral(" (*.") + extension
        + QStringLiteral(")"));
    dialog.setDefaultSuffix(extension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
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
    const std::unique_ptr<TGIFImage> gif = BuildAnimation();
    WriteAnimation(*gif, *fileName);
}

std::unique_ptr<TGIFImage> TFlagForm::BuildAnimation()
{
    TExportOptions options;
    options.Frames = FramesNiceScrollBar->Position();
    options.GIFBits = BitsNiceScrollBar->Position();
    options.GIFDelay = DelayNiceScrollBar->Position();
    options.GIFLoops = LoopsNiceScrollBar->Position();
    options.Quality
        = HighQualityCheckBox->isChecked() ? TExportQuality::High : TExportQuality::Standard;
    repaint();
    if (ShowForm())
        ShowForm()->repaint();
    const auto render = [this](std::int32_t k, std::uint16_t phase) {
        RenderSlot(static_cast<std::uint16_t>(k), phase);
    };
    return BuildExportGif(FrameStore(), options, render,
        [this](const std::string& text) { ShowExportStatus(*this, text); });
}

void TFlagForm::WriteAnimation(const TGIFImage& gif, const QString& fileName)
{
    ShowExportStatus(*this, sStatusSaving);
    gif.SaveGifFile(fileName.toStdString());
    ShowExportStatus(*this, std::string());
}

} // namespace zx
