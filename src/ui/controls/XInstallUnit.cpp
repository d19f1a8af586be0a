#include "ui/controls/XInstallUnit.h"

#include "ui/flag/XRegistryUnit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace zx {

QString ProgramFolder(const QString& programFile)
{
    return QDir::toNativeSeparators(QFileInfo(programFile).absolutePath() + QLatin1Char('/'));
}

bool InstallRecord(const QString& key, const QString& version, const QString& programFile)
{
    const QString folder = ProgramFolder(programFile);
    TNewRegistry registry(TRootKey::LocalMachine);
    QString storedPath;
    QString storedVersion;
    if (registry.OpenKey(key, true)) {
        storedPath = registry.ReadStringDef(QStringLiteral("InstallPath"), QString());
        storedVersion = registry.ReadStringDef(QStringLiteral("Version"), QString());
    }
    if (storedVersion == version && storedPath == folder)
        return false;
    registry.WriteString(QStringLiteral("Version"), version);
    registry.WriteString(QStringLiteral("InstallPath"), folder);
    registry.Flush();
    return true;
}

bool InstallRecord(const QString& key, const QString& version)
{
    return InstallRecord(key, version, QCoreApplication::applicationFilePath());
}

} // namespace zx
