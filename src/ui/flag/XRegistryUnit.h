#pragma once

// TNewRegistry: the settings store, opened by key path and read with a
// fallback, so that a missing key, a missing value or a value of the wrong
// type simply leaves the caller's current setting in place.
//
// The store is QSettings. A key path "\Software\<maker>\<program>" names the
// store of organisation <maker> and application <program> (on Linux the file
// ~/.config/<maker>/<program>.conf, in the Windows registry the key itself);
// the components after it are groups ("\Software\Tarnwick\Zephyrix\Settings"
// is the group "Settings"). Paths that stop above a program name no store and
// cannot be opened. Each root is exactly one store: the per-user store does not
// read through to the machine-wide one.
//
// Integers are 32-bit, booleans are integers (non-zero reads as true), strings
// are plain; everything is written in that form. This file uses only QtCore,
// so that zephyrix-cli can read the desktop program's settings without a
// display.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

class QSettings;

namespace zx {

// The store could not be written.
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TRootKey {
    CurrentUser,
    // The machine-wide store. Where it cannot be written (an ordinary user on
    // Linux) the per-user store stands in for it, for reading and writing
    // alike, so that what is written there is what is read back.
    LocalMachine,
};

class TNewRegistry {
public:
    explicit TNewRegistry(TRootKey root = TRootKey::CurrentUser);
    // Writes what was changed; a failure there goes unreported (use Flush).
    ~TNewRegistry();
    TNewRegistry(const TNewRegistry&) = delete;
    TNewRegistry& operator=(const TNewRegistry&) = delete;

    TRootKey RootKey() const { return m_root; }
    // Closes the current key.
    void SetRootKey(TRootKey root);

    // False when the path starts with "\".
    static bool IsRelative(const QString& key);

    // Opens the key; a relative path is taken from the current key when one is
    // open, otherwise from the root. Without canCreate only a key that holds
    // at least one value (itself or below it) opens. With it, the key opens
    // when its store can be written. On success the key becomes the current
    // one, and the current path the old one + "\" + key for a relative key,
    // otherwise key without its leading "\". Returns whether it opened.
    bool OpenKey(const QString& key, bool canCreate);
    void CloseKey();
    bool HasCurrentKey() const { return m_store != nullptr; }
    const QString& CurrentPath() const { return m_currentPath; }
    // True when the open key lies in the per-user store standing in for the
    // machine-wide one.
    bool UsesPerUserFallback() const { return m_perUserFallback; }
    // The file (or registry path) behind the open key; empty without one.
    QString FileName() const;

    bool ValueExists(const QString& name) const;

    // The stored value when it exists and reads as the wanted type. An
    // integer is a whole number within 32 bits; a boolean is an integer.
    std::optional<std::int32_t> ReadInteger(const QString& name) const;
    std::optional<bool> ReadBool(const QString& name) const;
    std::optional<QString> ReadString(const QString& name) const;

    // The same, with the default for a missing or unreadable value.
    std::int32_t ReadIntegerDef(const QString& name, std::int32_t defaultValue) const;
    bool ReadBoolDef(const QString& name, bool defaultValue) const;
    QString ReadStringDef(const QString& name, const QString& defaultValue) const;

    // Throw ERegistryException when no key is open.
    void WriteInteger(const QString& name, std::int32_t value);
    void WriteBool(const QString& name, bool value);
    void WriteString(const QString& name, const QString& value);

    // Writes the changes to the store now; throws ERegistryException when the
    // store cannot be written.
    void Flush();

private:
    QString ValueKey(const QString& name) const;
    QSettings& WritableStore(const QString& name);

    TRootKey m_root;
    std::unique_ptr<QSettings> m_store;
    QString m_group;
    QString m_currentPath;
    bool m_perUserFallback = false;
};

} // namespace zx
