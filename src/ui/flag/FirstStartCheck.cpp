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

void TFirstStartCheck::Run(TAboutBox& aboutBox)
{
    try {
        const std::int32_t earlierStarts = ExeCounter(ProgramKey());
        // At the first start the install record is not consulted.
        if (earlierStarts == 0 || InstallRecord(ProgramKey(), aboutBox.Version())) {
            CreateShortcut(QStringLiteral("Zephyrix"), QCoreApplication::applicationFilePath(),
                QString(), true, QStringLiteral("Tarnwick"));
            aboutBox.Execute();
        }
    } catch (const std::exception& error) {
        qWarning("zephyrix: %s", error.what());
    }
}

} // namespace zx
