#include "ui/flag/FirstStartCheck.h"

#include "ui/controls/XAboutBoxComp.h"
#include "ui/controls/XExeCounterUnit.h"
#include "ui/controls/XInstallUnit.h"
#include "ui/controls/XShortcutUnit.h"
#include "ui/flag/FlagSettingsStore.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <exception>

namespace zx {

QString TFirstStartCheck::Run(TAboutBox& aboutBox)
{
    QString problem;
    try {
        const std::int32_t earlierStarts = ExeCounter(ProgramKey());
        // At the first start the install record is not consulted.
        if (earlierStarts == 0 || InstallRecord(ProgramKey(), aboutBox.Version())) {
            const QString program = QCoreApplication::applicationFilePath();
            if (!HasInstalledEntry(program)
                && !CreateShortcut(QStringLiteral("Zephyrix"), program, QString(), true,
                    QStringLiteral("Tarnwick")))
                problem = QCoreApplication::translate(
                    "zx::TFirstStartCheck", "无法写入应用程序菜单中的菜单项");
            aboutBox.Execute();
        }
    } catch (const std::exception& error) {
        problem = QCoreApplication::translate("zx::TFirstStartCheck", "无法保存启动记录: %1")
                      .arg(QString::fromUtf8(error.what()));
    }
    if (!problem.isEmpty())
        qWarning("zephyrix: %s", qPrintable(problem));
    return problem;
}

} // namespace zx
