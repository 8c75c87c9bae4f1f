#include "vexo-core/VelmarApplication.h"

#include "vexo-core/ConfigFile.h"
#include "vexo-core/IniDocument.h"
#include "vexo-core/MutexLocker.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

namespace vexo {
namespace core {

// Entries live in an INI file, so they survive the process and other processes see them:
// the file named by VEXO_CONFIG_FILE, else vexo/vexo.ini in the user's configuration folder.
// The name is taken once, at the first use in the process.
//
// Every read goes to the file and every change is a locked read-modify-write of it (see
// ConfigFile), so entries written by other processes are seen at once and none is lost,
// however close together the writes come. A file name given explicitly needs no
// QCoreApplication, so hosts without one work too.

namespace {

struct ConfigStore
{
    // Guards everything here; callers come from any thread. File access happens under it
    // too, which keeps this process's threads in order; other processes are kept in order
    // by the file lock.
    Mutex mutex;
    std::unique_ptr<ConfigFile> file VEXO_GUARDED_BY(mutex);
    // Every string value ever handed out by reference; std::set nodes never move.
    std::set<std::string> interned VEXO_GUARDED_BY(mutex);
    // Entries whose save failed (read-only file, no folder): they hold for this process.
    std::map<std::string, std::string> unsaved VEXO_GUARDED_BY(mutex);
};

ConfigStore& store()
{
    // Never destroyed: handed-out references must outlive other static objects, and
    // there is nothing left to save at exit since every change is saved at once.
    static ConfigStore* const instance = new ConfigStore;
    return *instance;
}

ConfigFile& configFile(ConfigStore& s) VEXO_REQUIRES(s.mutex)
{
    if (!s.file) {
        QString name;
        const QByteArray explicitFile = qgetenv("VEXO_CONFIG_FILE");
        if (!explicitFile.isEmpty()) {
            name = QFile::decodeName(explicitFile);
        } else {
            QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            if (folder.isEmpty())
                folder = QDir::homePath() + QStringLiteral("/.config");
            name = folder + QStringLiteral("/vexo/vexo.ini");
        }
        s.file = std::make_unique<ConfigFile>(QFile::encodeName(name).toStdString());
    }
    return *s.file;
}

// False when the entry is absent; a file that cannot be read holds no entries.
bool readEntry(ConfigStore& s, const std::string& key, std::string* value) VEXO_REQUIRES(s.mutex)
{
    const auto kept = s.unsaved.find(key);
    if (kept != s.unsaved.end()) {
        *value = kept->second;
        return true;
    }
    IniDocument document;
    std::string error;
    if (!configFile(s).read(&document, &error))
        return false;
    return document.value(key, value);
}

} // namespace

std::int64_t VelmarApplication::getConfigIntEntry(const std::string& key, std::int64_t defaultValue)
{
    ConfigStore& s = store();
    std::string text;
    {
        MutexLocker lock(s.mutex);
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

const std::string& VelmarApplication::getConfigStringEntry(const std::string& key, const std::string& defaultValue)
{
    ConfigStore& s = store();
    MutexLocker lock(s.mutex);
    std::string value;
    if (!readEntry(s, key, &value))
        value = defaultValue;
    return *s.interned.insert(std::move(value)).first;
}

void VelmarApplication::setConfigEntry(const std::string& key, const std::string& value)
{
    ConfigStore& s = store();
    MutexLocker lock(s.mutex);
    std::string error;
    // A failed save (read-only file, no folder) cannot be reported through this API; the
    // entry then holds for this process only.
    if (configFile(s).update([&](IniDocument& document) { document.setValue(key, value); }, &error))
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
    MutexLocker lock(s.mutex);
    std::string error;
    configFile(s).update([](IniDocument& document) { document = IniDocument(); }, &error);
    s.unsaved.clear();
}

std::string VelmarApplication::configurationProblem()
{
    ConfigStore& s = store();
    MutexLocker lock(s.mutex);
    ConfigFile& file = configFile(s);
    IniDocument document;
    std::string error;
    if (!file.read(&document, &error))
        return error;
    if (!document.problem().empty())
        return file.path() + ": " + document.problem();
    return std::string();
}

} // namespace core
} // namespace vexo
