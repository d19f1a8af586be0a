#include "ui/controls/XShortcutUnit.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSaveFile>
#include <QStandardPaths>

namespace zx {

namespace {

    // The icon size the entry's icon is installed at (the program's own icon
    // is drawn at it).
    constexpr int kIconSize = 48;

    // A value as the desktop entry format writes strings: backslash and the
    // control characters escaped.
    QString EscapeValue(const QString& text)
    {
        QString result;
        for (const QChar c : text) {
            if (c == QLatin1Char('\\'))
                result += QStringLiteral("\\\\");
            else if (c == QLatin1Char('\n'))
                result += QStringLiteral("\\n");
            else if (c == QLatin1Char('\t'))
                result += QStringLiteral("\\t");
            else if (c == QLatin1Char('\r'))
                result += QStringLiteral("\\r");
            else
                result += c;
        }
        return result;
    }

    // One argument of the Exec key: in double quotes, with the double quote,
    // the backtick, the dollar sign and the backslash escaped by a backslash,
    // and % doubled (a single % starts a field code).
    QString QuoteExecArgument(const QString& argument)
    {
        QString result = QStringLiteral("\"");
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                || c == QLatin1Char('\\'))
                result += QLatin1Char('\\');
            if (c == QLatin1Char('%'))
                result += QLatin1Char('%');
            result += c;
        }
        return result + QLatin1Char('"');
    }

    // Replaces the file with bytes, or leaves it as it was: a write cut short
    // (a full disk) is a failure too, which QSaveFile alone does not notice.
    bool WriteWhole(const QString& fileName, const QByteArray& bytes)
    {
        QSaveFile file(fileName);
        // Unbuffered, so that the write itself reports how much reached the
        // file (a buffered one is cut short silently when flushed).
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            file.commit();
            return false;
        }
        return file.commit();
    }

    bool InstallIcon(const QString& iconName)
    {
        const QIcon icon = QGuiApplication::windowIcon();
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (icon.isNull() || data.isEmpty())
            return false;
        const QString folder = data + QStringLiteral("/icons/hicolor/%1x%1/apps").arg(kIconSize);
        if (!QDir().mkpath(folder))
            return false;
        QByteArray png;
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly)
            || !icon.pixmap(kIconSize, kIconSize).save(&buffer, "PNG"))
            return false;
        return WriteWhole(folder + QLatin1Char('/') + iconName + QStringLiteral(".png"), png);
    }

} // namespace

QString InstalledEntryFileName(const QString& programFile)
{
    return QDir::cleanPath(QFileInfo(programFile).absolutePath()
        + QStringLiteral("/" ZX_DATA_FROM_BINDIR "/applications/") + QLatin1String(kDesktopEntryId)
        + QStringLiteral(".desktop"));
}

bool HasInstalledEntry(const QString& programFile)
{
    return QFileInfo(InstalledEntryFileName(programFile)).isFile();
}

QString ShortcutFileName(const QString& name, const QString& folder)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return QString();
    return data + QStringLiteral("/applications/") + folder + QLatin1Char('/') + name
        + QStringLiteral(".desktop");
}

QString DesktopEntryText(
    const QString& name, const QString& target, const QString& arguments, const QString& iconName)
{
    QString exec = QuoteExecArgument(target);
    if (!arguments.isEmpty())
        exec += QLatin1Char(' ') + arguments;
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Version=1.5\n");
    text += QStringLiteral("Name=") + EscapeValue(name) + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + EscapeValue(exec) + QLatin1Char('\n');
    text += QStringLiteral("Path=") + EscapeValue(QFileInfo(target).absolutePath())
        + QLatin1Char('\n');
    if (!iconName.isEmpty())
        text += QStringLiteral("Icon=") + EscapeValue(iconName) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n"
                           "Categories=Graphics;\n");
    return text;
}

bool CreateShortcut(const QString& name, const QString& target, const QString& arguments,
    bool inPrograms, const QString& folder)
{
    static_cast<void>(inPrograms);
    if (HasInstalledEntry(target))
        return false;
    const QString fileName = ShortcutFileName(name, folder);
    if (fileName.isEmpty() || !QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return false;
    const QString iconName = QFileInfo(target).completeBaseName().toLower();
    const bool hasIcon = !iconName.isEmpty() && InstallIcon(iconName);
    return WriteWhole(fileName,
        DesktopEntryText(name, target, arguments, hasIcon ? iconName : QString()).toUtf8());
}

} // namespace zx
