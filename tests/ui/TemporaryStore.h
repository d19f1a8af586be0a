#pragma once

// A fresh settings store and data folder for one test: the per-user and the
// machine-wide QSettings stores, XDG_CONFIG_HOME, XDG_DATA_HOME (the menu
// folder) and HOME all point into a temporary folder that is removed
// afterwards. QSettings takes its folders from the environment only once per
// process, so its paths are set directly as well.

#include <QByteArray>
#include <QDir>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

namespace zx::test {

class TTemporaryStore {
public:
    TTemporaryStore()
    {
        SetStorePath(QSettings::UserScope, UserFolder());
        SetStorePath(QSettings::SystemScope, SystemFolder());
        m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
        m_oldDataHome = qgetenv("XDG_DATA_HOME");
        m_oldHome = qgetenv("HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(UserFolder()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(DataFolder()));
        qputenv("HOME", QFile::encodeName(m_dir.path()));
    }
    ~TTemporaryStore()
    {
        qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
        qputenv("XDG_DATA_HOME", m_oldDataHome);
        qputenv("HOME", m_oldHome);
    }
    TTemporaryStore(const TTemporaryStore&) = delete;
    TTemporaryStore& operator=(const TTemporaryStore&) = delete;

    bool IsValid() const { return m_dir.isValid(); }
    QString Path() const { return m_dir.path(); }
    QString UserFolder() const { return m_dir.filePath(QStringLiteral("config")); }
    QString SystemFolder() const { return m_dir.filePath(QStringLiteral("system")); }
    QString DataFolder() const { return m_dir.filePath(QStringLiteral("data")); }
    // The files of the program's two stores.
    QString UserFile() const { return UserFolder() + QStringLiteral("/Tarnwick/Zephyrix.conf"); }
    QString SystemFile() const
    {
        return SystemFolder() + QStringLiteral("/Tarnwick/Zephyrix.conf");
    }

    // Puts the machine-wide store where nobody, not even root, can write: below
    // a plain file.
    void MakeSystemStoreUnwritable()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder")));
        blocker.open(QIODevice::WriteOnly);
        SetStorePath(QSettings::SystemScope, blocker.fileName());
    }
    // The same for the per-user store.
    void MakeUserStoreUnwritable()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder-either")));
        blocker.open(QIODevice::WriteOnly);
        SetStorePath(QSettings::UserScope, blocker.fileName());
    }

    // Writes the per-user store's file as text, as another program or a person
    // might have left it.
    void WriteUserFile(const QByteArray& text) const
    {
        QDir().mkpath(UserFolder() + QStringLiteral("/Tarnwick"));
        QFile file(UserFile());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
    }
    QByteArray ReadUserFile() const
    {
        QFile file(UserFile());
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        return file.readAll();
    }

private:
    static void SetStorePath(QSettings::Scope scope, const QString& path)
    {
        QSettings::setPath(QSettings::NativeFormat, scope, path);
        QSettings::setPath(QSettings::IniFormat, scope, path);
    }

    QTemporaryDir m_dir;
    QByteArray m_oldConfigHome;
    QByteArray m_oldDataHome;
    QByteArray m_oldHome;
};

} // namespace zx::test
