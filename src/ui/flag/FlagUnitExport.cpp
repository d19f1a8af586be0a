// The panel's side of the GIF export: the save dialog and the two commands.
// The export itself is the core's export job, the one zephyrix-cli export
// runs, so equal settings give equal bytes; TFlagWork runs it in the
// background.

#include "ui/controls/XBoxUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace zx {

namespace {

    // The GIF picture format as the save dialog offers it.
    constexpr const char* sGIFExtension = "gif";
    constexpr const char* sGIFDescription = QT_TRANSLATE_NOOP("zx::TFlagForm", "GIF 图像");

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
