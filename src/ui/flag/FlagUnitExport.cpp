// The panel's side of the export: the save dialog with its formats and the
// two commands. The export itself is the core's export job, the one
// zephyrix-cli export runs, so equal settings give equal bytes; TFlagWork
// runs it in the background, for the GIF as for WebP and APNG.

#include "ui/controls/XBoxUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/SaveFormats.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

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

TAnimationFormat TFlagForm::FormatOfSaveName(const QString& fileName) const
{
    return SaveFormatOf(
        fileName, m_chosenFormat.value_or(AnimationFormatOfSetting(m_settings.SaveFormat)));
}

void TFlagForm::ExportAnimation(bool preview)
{
    if (preview)
        m_work->Preview();
    else
        m_work->Save();
}

void TFlagForm::Preview1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] { ExportAnimation(true); });
}

} // namespace zx
