#include "ui/flag/XRegistryUnit.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <limits>

namespace zx {

namespace {

    const char* const sNoOpenKey
        = QT_TRANSLATE_NOOP("zx::XRegistryUnit", "无法写入设置值“%1”：没有打开的键");
    const char* const sStoreNotWritten
        = QT_TRANSLATE_NOOP("zx::XRegistryUnit", "无法写入设置文件 %1");

    // Where a key path lies: the store of a maker's program and a group in it.
    struct TStorePlace {
        QString Maker;
        QString Program;
        QString Group;
    };

    std::optional<TStorePlace> PlaceOf(const QString& path)
    {
        const QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
        if (parts.size() < 3 || parts[0].compare(QLatin1String("Software"), Qt::CaseInsensitive))
            return std::nullopt;
        // QSettings would read a slash as one more group level.
        for (const QString& part : parts) {
            if (part.contains(QLatin1Char('/')))
                return std::nullopt;
        }
        return TStorePlace { parts[1], parts[2], parts.mid(3).join(QLatin1Char('/')) };
    }

    std::unique_ptr<QSettings> MakeStore(QSettings::Scope scope, const TStorePlace& place)
    {
        auto store = std::make_unique<QSettings>(
            QSettings::NativeFormat, scope, place.Maker, place.Program);
        store->setFallbacksEnabled(false);
        return store;
    }

    bool HoldsValues(QSettings& store, const QString& group)
    {
        if (group.isEmpty())
            return !store.allKeys().isEmpty();
        store.beginGroup(group);
        const bool any = !store.allKeys().isEmpty();
        store.endGroup();
        return any;
    }

    std::optional<std::int32_t> FitInteger(long long value)
    {
        if (value < std::numeric_limits<std::int32_t>::min()
            || value > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
        return static_cast<std::int32_t>(value);
    }

    // A value the store holds in its own type (a number written in this run,
    // or a native store's number) reads as its number.
    bool IsNumber(const QVariant& value)
    {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            return true;
        default:
            return false;
        }
    }

} // namespace

TNewRegistry::TNewRegistry(TRootKey root)
    : m_root(root)
{
}

TNewRegistry::~TNewRegistry() = default;

void TNewRegistry::SetRootKey(TRootKey root)
{
    CloseKey();
    m_root = root;
}

bool TNewRegistry::IsRelative(const QString& key)
{
    return !key.startsWith(QLatin1Char('\\'));
}

bool TNewRegistry::OpenKey(const QString& key, bool canCreate)
{
    const bool relative = IsRelative(key);
    const QString path = relative ? key : key.mid(1);
    const bool fromCurrent = relative && HasCurrentKey();
    const QString fullPath = fromCurrent ? m_currentPath + QLatin1Char('\\') + path : path;
    const std::optional<TStorePlace> place = PlaceOf(fullPath);
    if (!place)
        return false;

    bool perUserFallback = false;
    std::unique_ptr<QSettings> store;
    if (m_root == TRootKey::LocalMachine) {
        store = MakeStore(QSettings::SystemScope, *place);
        if (!store->isWritable()) {
            store = MakeStore(QSettings::UserScope, *place);
            perUserFallback = true;
        }
    } else {
        store = MakeStore(QSettings::UserScope, *place);
    }
    // A store keeps no empty groups: creating a key succeeds when its store can
    // be written, and an existing key is one with a value in or below it.
    const bool opened
        = canCreate && !path.isEmpty() ? store->isWritable() : HoldsValues(*store, place->Group);
    if (!opened)
        return false;

    m_store = std::move(store);
    m_group = place->Group;
    m_currentPath = fullPath;
    m_perUserFallback = perUserFallback;
    return true;
}

void TNewRegistry::CloseKey()
{
    m_store.reset();
    m_group.clear();
    m_currentPath.clear();
    m_perUserFallback = false;
}

QString TNewRegistry::FileName() const
{
    return m_store ? m_store->fileName() : QString();
}

QString TNewRegistry::ValueKey(const QString& name) const
{
    return m_group.isEmpty() ? name : m_group + QLatin1Char('/') + name;
}

bool TNewRegistry::ValueExists(const QString& name) const
{
    return m_store && m_store->contains(ValueKey(name));
}

std::optional<std::int32_t> TNewRegistry::ReadInteger(const QString& name) const
{
    if (!m_store)
        return std::nullopt;
    const QVariant value = m_store->value(ValueKey(name));
    if (IsNumber(value))
        return FitInteger(value.toLongLong());
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    const long long number = value.toString().toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return FitInteger(number);
}

std::optional<bool> TNewRegistry::ReadBool(const QString& name) const
{
    const std::optional<std::int32_t> number = ReadInteger(name);
    if (!number)
        return std::nullopt;
    return *number != 0;
}

std::optional<QString> TNewRegistry::ReadString(const QString& name) const
{
    if (!m_store)
        return std::nullopt;
    const QVariant value = m_store->value(ValueKey(name));
    // A number written in this run reads as the text a later run would find in
    // the file.
    if (value.typeId() == QMetaType::QString || IsNumber(value))
        return value.toString();
    return std::nullopt;
}

std::int32_t TNewRegistry::ReadIntegerDef(const QString& name, std::int32_t defaultValue) const
{
    return ReadInteger(name).value_or(defaultValue);
}

bool TNewRegistry::ReadBoolDef(const QString& name, bool defaultValue) const
{
    return ReadBool(name).value_or(defaultValue);
}

QString TNewRegistry::ReadStringDef(const QString& name, const QString& defaultValue) const
{
    return ReadString(name).value_or(defaultValue);
}

QSettings& TNewRegistry::WritableStore(const QString& name)
{
    if (!m_store)
        throw ERegistryException(
            QCoreApplication::translate("zx::XRegistryUnit", sNoOpenKey).arg(name).toStdString());
    return *m_store;
}

void TNewRegistry::WriteInteger(const QString& name, std::int32_t value)
{
    WritableStore(name).setValue(ValueKey(name), value);
}

void TNewRegistry::WriteBool(const QString& name, bool value)
{
    WritableStore(name).setValue(ValueKey(name), value ? 1 : 0);
}

void TNewRegistry::WriteString(const QString& name, const QString& value)
{
    WritableStore(name).setValue(ValueKey(name), value);
}

void TNewRegistry::Flush()
{
    if (!m_store)
        return;
    m_store->sync();
    if (m_store->status() == QSettings::AccessError)
        throw ERegistryException(QCoreApplication::translate("zx::XRegistryUnit", sStoreNotWritten)
                                     .arg(m_store->fileName())
                                     .toStdString());
}

} // namespace zx
