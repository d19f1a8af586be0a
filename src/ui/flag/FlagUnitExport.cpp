// The panel's side of the GIF export: the save dialog, the busy bits, the
// cursor and the status texts around the core's build of the GIF, which is the
// same one zephyrix-cli export runs, so equal settings give equal bytes.

#include "core/Stream.h"
#include "core/gif/GIFExport.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XWaitCursor.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QStatusBar>
#include <utility>

namespace zx {

namespace {

    // The GIF picture format as the save dialog offers it.
    constexpr const char* sGIFExtension = "gif";
    constexpr const char* sGIFDescription = QT_TRANSLATE_NOOP("zx::TFlagForm", "GIF 图像");
    // How long the status says what a save wrote before the playback's frame
    // numbers come back.
    constexpr int kFinalStatusMs = 5000;

} // namespace

std::optional<QString> TFlagForm::RunGIFSaveDialog()
{
    const QString extension = QString::fromLatin1(sGIFExtension);
    QFileDialog dialog(this, tr("另存为"), QDir::currentPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // "GIF 图像 (*.gif)|*.gif" as Qt writes it.
    dialog.setNameFilter(
        tr(sGIFDescription) + QStringLiteral(" (*.") + extension + QStringLiteral(")"));
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
        ~TClearStatus()
        {
            if (!Form.m_finalStatus.isEmpty())
                Form.m_finalStatusShown.setRemainingTime(kFinalStatusMs);
            Form.SetStatusText(std::exchange(Form.m_finalStatus, QString()));
        }
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
    WriteAnimation(BuildAnimation(), *fileName);
}

TSizedGif TFlagForm::BuildAnimation()
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
    return BuildSizedExportGif(m_model.FrameStore(), ExportOptionsOf(m_settings),
        SizeOptionsOf(m_settings), render, status);
}

void TFlagForm::WriteAnimation(const TSizedGif& gif, const QString& fileName)
{
    SetStatusText(CoreMessage(sStatusSaving));
    MainStatusBar->repaint();
    WriteFileAtomic(fileName.toStdString(), gif.File);
    m_finalStatus = tr("已写入 %1 字节").arg(QLocale().toString(qulonglong(gif.File.size())));
    SetStatusText(QString());
    MainStatusBar->repaint();
}

} // namespace zx
