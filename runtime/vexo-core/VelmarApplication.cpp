#include "vexo-core/VelmarApplication.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace vexo {
namespace core {

// Entries live in an INI file, so they survive the process and other processes see them:
// the file named by VEXO_CONFIG_FILE, else vexo/vexo.ini in the user's configuration folder.
// The name is taken once, at the first use in the process.
//
// Every call opens its own QSettings on the file. Opening re-reads the file when another
// process changed it, and a QSettings used in one call only cannot be touched later by an
// event loop (QSettings posts itself a deferred-save event on each change). Writes are
// synced at once; QSettings merges them with the file under a lock file, so writers in
// several processes do not lose each other's entries. A file name given explicitly needs
// no QCoreApplication, so hosts without one work too.

namespace {

struct ConfigStore
{
    // Guards everything here; QSettings is used only under it.
    std::mutex mutex;
    QString fileName;
    // Every string value ever handed out by reference; std::set nodes never move.
    std::set<std::string> interned;
    // Entries whose save failed (read-only file, no folder): they hold for this process.
    std::map<std::string, std::string> unsaved;
};

ConfigStore& store()
{
    // Never destroyed: handed-out references must outlive other static objects, and
    // there is nothing left to save at exit since every change is synced at once.
    static ConfigStore* const instance = new ConfigStore;
    return *instance;
}

const QString& configFileName(ConfigStore& s)
{
    if (s.fileName.isEmpty()) {
        const QByteArray explicitFile = qgetenv("VEXO_CONFIG_FILE");
        if (!explicitFile.isEmpty()) {
            s.fileName = QFile::decodeName(explicitFile);
        } else {
            QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            if (folder.isEmpty())
                folder = QDir::homePath() + QStringLiteral("/.config");
            s.fileName = folder + QStringLiteral("/vexo/vexo.ini");
        }
    }
    return s.fileName;
}

// QSettings takes '/' (and '\\' in INI files) in a key as a group separator and folds
// leading or repeated ones, so "a//b" would come back as "a/b". Those characters, and '%'
// to keep the mapping one-to-one, are stored percent-encoded; dotted keys stay as they
// are. QSettings refuses an empty key, so that one becomes a lone "%", which no other
// key can encode to.
QString settingsKey(const std::string& key)
{
    if (key.empty())
        return QStringLiteral("%");
    QString encoded;
    for (const QChar c : QString::fromStdString(key)) {
        if (c == QLatin1Char('%'))
            encoded += QLatin1String("%25");
        else if (c == QLatin1Char('/'))
            encoded += QLatin1String("%2F");
        else if (c == QLatin1Char('\\'))
            encoded += QLatin1String("%5C");
        else
            encoded += c;
    }
    return encoded;
}

std::unique_ptr<QSettings> openSettings(ConfigStore& s)
{
    auto settings = std::make_unique<QSettings>(configFileName(s), QSettings::IniFormat);
    // Readable, hand-editable text; escapes written by other settings still read back.
    settings->setIniCodec("UTF-8");
    return settings;
}

// Under the store's mutex. False when the entry is absent.
bool readEntry(ConfigStore& s, const std::string& key, std::string* value)
{
    const auto kept = s.unsaved.find(key);
    if (kept != s.unsaved.end()) {
        *value = kept->second;
        return true;
    }
    const std::unique_ptr<QSettings> settings = openSettings(s);
    const QVariant stored = settings->value(settingsKey(key));
    if (!stored.isValid())
        return false;
    // We write every value quoted as one string; a hand-edited "a, b" reads as a list.
    if (stored.userType() == QMetaType::QStringList)
        *value = stored.toStringList().join(QStringLiteral(", ")).toStdString();
    else
        *value = stored.toString().toStdString();
    return true;
}

} // namespace

std::int64_t VelmarApplication::getConfigIntEntry(const std::string& key, std::int64_t defaultValue)
{
    ConfigStore& s = store();
    std::string text;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!readEntry(s, key, &text))
            return defaultValue;
    }
    if (text.empty())
        return defaultValue;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return defaultValue;
    return value;
}

const std::string& VelmarApplication::getConfigStringEntry(const std::string& key,
                                                           const std::string& defaultValue)
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string value;
    if (!readEntry(s, key, &value))
        value = defaultValue;
    return *s.interned.insert(std::move(value)).first;
}

void VelmarApplication::setConfigEntry(const std::string& key, const std::string& value)
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::unique_ptr<QSettings> settings = openSettings(s);
    // Values are text (UTF-8); numbers are stored in decimal by the overload below.
    settings->setValue(settingsKey(key), QString::fromStdString(value));
    // A failed save (read-only file, no folder) cannot be reported through this API; the
    // entry then holds for this process only.
    settings->sync();
    if (settings->status() == QSettings::NoError && settings->isWritable())
        s.unsaved.erase(key);
    else
        s.unsaved[key] = value;
}

void VelmarApplication::setConfigEntry(const std::string& key, std::int64_t value)
{
    setConfigEntry(key, std::to_string(value));
}

void VelmarApplication::clearConfig()
{
    ConfigStore& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::unique_ptr<QSettings> settings = openSettings(s);
    settings->clear();
    settings->sync();
    s.unsaved.clear();
}

} // namespace core
} // namespace vexo
