#include "platform/Registry.h"

#include "platform/FileLock.h"
#include "platform/FileStamp.h"
#include "platform/ProgramDir.h"
#include "platform/RegistryFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QSaveFile>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

Q_LOGGING_CATEGORY(lcRegistry, "vestrel.platform.registry")

// A hive file beyond this size is not ours to rewrite: reading stops there and writes are refused.
constexpr qint64 kMaxHiveSize = 64 * 1024 * 1024;

QByteArray rootName(RegistryHive hive) {
    return hive == RegistryHive::CurrentUser ? QByteArray("HKEY_CURRENT_USER") : QByteArray("HKEY_LOCAL_MACHINE");
}

// "\software\\Pelk Software\" → "software\Pelk Software"
QByteArray normalisedKey(const QByteArray& key) {
    QByteArrayList parts = key.split('\\');
    parts.removeAll(QByteArray());
    return parts.join('\\');
}

QByteArray fullPath(RegistryHive hive, const QByteArray& relative) {
    return relative.isEmpty() ? rootName(hive) : rootName(hive) + '\\' + relative;
}

// The hive file holds one key or value per line: a name with a line break cannot be stored.
bool hasLineBreak(const QByteArray& name) {
    return name.contains('\r') || name.contains('\n');
}

std::string message(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

std::string nameOf(const QByteArray& valueName) {
    return valueName.toStdString();
}

using SharedHive = std::shared_ptr<const regfile::Hive>;

struct HiveRead {
    SharedHive hive;
    bool whole = true; // false when the file exists but could not be read in full
};

// The parsed hive files of this process, by path, with the stamp each had when it was read.
struct CachedHive {
    FileStamp stamp;
    bool recent = false; // read so soon after a change that the stamp cannot vouch for it
    SharedHive hive;
};

class HiveCache {
public:
    HiveRead read(const QString& path) {
        // The stamp is taken before the file is read: a change made meanwhile shows at the next read.
        const FileStamp stamp = FileStamp::of(path);
        {
            QMutexLocker locker(&m_mutex);
            const auto cached = m_hives.constFind(path);
            if (cached != m_hives.constEnd() && !cached->recent && cached->stamp == stamp)
                return HiveRead{cached->hive, true};
        }
        auto hive = std::make_shared<const regfile::Hive>();
        if (stamp.exists) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return HiveRead{hive, false};
            const QByteArray bytes = file.read(std::min(file.size(), kMaxHiveSize));
            if (!file.atEnd())
                return HiveRead{hive, false};
            hive = std::make_shared<const regfile::Hive>(regfile::parse(bytes));
        }
        QMutexLocker locker(&m_mutex);
        m_hives.insert(path, CachedHive{stamp, stamp.isRecent(), hive});
        return HiveRead{hive, true};
    }

    void forget(const QString& path) {
        QMutexLocker locker(&m_mutex);
        m_hives.remove(path);
    }

private:
    QMutex m_mutex;
    QHash<QString, CachedHive> m_hives;
};

HiveCache& hiveCache() {
    static HiveCache cache;
    return cache;
}

HiveRead readHive(RegistryHive hive) {
    return hiveCache().read(registryHiveFile(hive));
}

// Locked read-modify-write of the hive file: `change` returns whether it changed anything.
template <typename Change> bool changeHive(RegistryHive hive, Change&& change) {
    const QString path = registryHiveFile(hive);
    if (!QDir().mkpath(registryDirectory()))
        throw RegistryError(message(u"Cannot create the registry folder %1"_s.arg(registryDirectory())));
    // Writers wait their turn in the kernel's queue; one that dies releases the lock with it.
    FileLock lock(path);
    if (!lock.isLocked())
        throw RegistryError(message(u"Cannot lock the registry file %1: %2"_s.arg(path, lock.errorString())));

    const HiveRead current = readHive(hive);
    if (!current.whole)
        throw RegistryError(message(u"Cannot read the registry file %1 whole"_s.arg(path)));
    regfile::Hive changed = *current.hive;
    if (!change(changed)) {
        lock.removeIfCreated();
        return false;
    }

    const QByteArray bytes = regfile::serialize(changed);
    QSaveFile file(path);
    // Whatever happens to the replace, the next read goes to the file.
    hiveCache().forget(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        lock.removeIfCreated();
        throw RegistryError(message(u"Cannot write the registry file %1: %2"_s.arg(path, file.errorString())));
    }
    return true;
}

} // namespace

QString registryHiveFile(RegistryHive hive) {
    return registryDirectory() + QString::fromLatin1(rootName(hive)) + u".reg"_s;
}

Registry::Registry(RegistryHive hive)
    : m_hive(hive) {}

Registry::~Registry() = default;

bool Registry::OpenKey(const QByteArray& key, bool canCreate) {
    const QByteArray relative = normalisedKey(key);
    if (hasLineBreak(relative))
        return false;
    const QByteArray path = fullPath(m_hive, relative);
    bool exists = relative.isEmpty() || readHive(m_hive).hive->exists(path);
    if (!exists && canCreate) {
        try {
            changeHive(m_hive, [&](regfile::Hive& hive) {
                if (hive.exists(path))
                    return false;
                hive.obtain(path);
                return true;
            });
            exists = true;
        } catch (const RegistryError& e) {
            qCWarning(lcRegistry, "%s", e.what());
            exists = false;
        }
    }
    if (!exists)
        return false;
    m_currentKey = relative;
    m_open = true;
    return true;
}

void Registry::CloseKey() {
    m_currentKey.clear();
    m_open = false;
}

bool Registry::KeyExists(const QByteArray& key) const {
    const QByteArray relative = normalisedKey(key);
    return relative.isEmpty() || readHive(m_hive).hive->exists(fullPath(m_hive, relative));
}

bool Registry::DeleteKey(const QByteArray& key) {
    const QByteArray relative = normalisedKey(key);
    if (relative.isEmpty())
        return false;
    const QByteArray path = fullPath(m_hive, relative);
    try {
        return changeHive(m_hive, [&](regfile::Hive& hive) { return hive.remove(path); });
    } catch (const RegistryError& e) {
        qCWarning(lcRegistry, "%s", e.what());
        return false;
    }
}

std::optional<RegistryValue> Registry::ReadValue(const QByteArray& name) const {
    if (!m_open)
        return std::nullopt;
    const SharedHive hive = readHive(m_hive).hive;
    const qsizetype key = hive->find(fullPath(m_hive, m_currentKey));
    if (key < 0)
        return std::nullopt;
    const qsizetype index = regfile::findValue(hive->keys[key], name);
    if (index < 0)
        return std::nullopt;
    const regfile::Value& stored = hive->keys[key].values[index];
    return RegistryValue{static_cast<RegistryType>(stored.type), stored.data};
}

bool Registry::ValueExists(const QByteArray& name) const {
    return ReadValue(name).has_value();
}

QByteArray Registry::ReadString(const QByteArray& name) const {
    const auto value = ReadValue(name);
    if (!value)
        return QByteArray();
    // REG_EXPAND_SZ reads as a string, unexpanded, as the programs' registry class reads it.
    if (value->type != RegistryType::String && value->type != RegistryType::ExpandString)
        throw RegistryError("Invalid data type for '" + nameOf(name) + "'");
    return value->data;
}

int Registry::ReadInteger(const QByteArray& name) const {
    const auto value = ReadValue(name);
    if (!value || value->type != RegistryType::DWord || value->data.size() != 4)
        throw RegistryError("Invalid data type for '" + nameOf(name) + "'");
    return static_cast<qint32>(regfile::dwordValue(value->data));
}

QByteArray Registry::ReadBinaryData(const QByteArray& name) const {
    const auto value = ReadValue(name);
    if (!value || value->type == RegistryType::String || value->type == RegistryType::ExpandString ||
        value->type == RegistryType::DWord)
        throw RegistryError("Invalid data type for '" + nameOf(name) + "'");
    return value->data;
}

RegistryValue RegistryValue::fromInteger(int value) {
    return {RegistryType::DWord, regfile::dwordData(static_cast<quint32>(value))};
}

void Registry::WriteValues(const RegistryValueList& values) {
    if (!m_open)
        throw RegistryError("Failed to set data: no key is open");
    for (const auto& entry : values) {
        if (hasLineBreak(entry.first))
            throw RegistryError("Failed to set data for '" + nameOf(entry.first) + "': the name holds a line break");
        const int type = static_cast<int>(entry.second.type);
        if (type < 0 || type > regfile::kMaxType)
            throw RegistryError("Failed to set data for '" + nameOf(entry.first) + "': no such type");
    }
    if (values.isEmpty())
        return;
    const QByteArray path = fullPath(m_hive, m_currentKey);
    changeHive(m_hive, [&](regfile::Hive& hive) {
        regfile::Key& key = hive.obtain(path);
        for (const auto& [name, value] : values) {
            const int type = static_cast<int>(value.type);
            const qsizetype index = regfile::findValue(key, name);
            if (index >= 0)
                key.values[index] = regfile::Value{key.values[index].name, type, value.data};
            else
                key.values.push_back(regfile::Value{name, type, value.data});
        }
        return true;
    });
}

void Registry::WriteString(const QByteArray& name, const QByteArray& value) {
    WriteValues({{name, RegistryValue::fromString(value)}});
}

void Registry::WriteInteger(const QByteArray& name, int value) {
    WriteValues({{name, RegistryValue::fromInteger(value)}});
}

void Registry::WriteBinaryData(const QByteArray& name, const QByteArray& data) {
    WriteValues({{name, RegistryValue::fromBinary(data)}});
}

bool Registry::DeleteValue(const QByteArray& name) {
    if (!m_open)
        return false;
    const QByteArray path = fullPath(m_hive, m_currentKey);
    try {
        return changeHive(m_hive, [&](regfile::Hive& hive) {
            const qsizetype key = hive.find(path);
            if (key < 0)
                return false;
            const qsizetype index = regfile::findValue(hive.keys[key], name);
            if (index < 0)
                return false;
            hive.keys[key].eraseValue(index);
            return true;
        });
    } catch (const RegistryError& e) {
        qCWarning(lcRegistry, "%s", e.what());
        return false;
    }
}

QByteArrayList Registry::GetValueNames() const {
    QByteArrayList names;
    if (!m_open)
        return names;
    const SharedHive hive = readHive(m_hive).hive;
    const qsizetype key = hive->find(fullPath(m_hive, m_currentKey));
    if (key >= 0) {
        for (const regfile::Value& value : hive->keys[key].values)
            names.append(value.name);
    }
    return names;
}

QByteArrayList Registry::GetKeyNames() const {
    if (!m_open)
        return {};
    return readHive(m_hive).hive->subkeys(fullPath(m_hive, m_currentKey));
}

} // namespace vestrel
