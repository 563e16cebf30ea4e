#include "adapters/files/file_preferences.h"

#include "adapters/files/regular_file.h"
#include "adapters/qt/qt_sleeper.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSaveFile>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace glowcast {

namespace {

constexpr const char* kFileName = "preferences.json";
// A selection of even a few hundred lamps takes a few tens of kilobytes; anything near this is
// not a file this program wrote.
constexpr std::size_t kMaximumFileBytes = std::size_t{4} << 20;

std::string errnoText(int error)
{
    return std::strerror(error);
}

std::string utcStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return std::string(stamp, length);
}

// Makes every missing directory of path with mode 0700, as the XDG layout asks for directories that
// hold a user's settings. Existing directories keep their mode. Nothing when path is a directory
// now, else why not.
std::optional<std::string> makeDirectories(const std::filesystem::path& path)
{
    std::filesystem::path current;
    for (const auto& part : path) {
        current /= part;
        if (::mkdir(current.c_str(), 0700) != 0 && errno != EEXIST)
            return "cannot create " + current.string() + ": " + errnoText(errno);
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return path.string() + " is not a directory";
    return std::nullopt;
}

// A pause while another program holds the lock. With an event loop (the window's) the pause spins a
// local one that leaves user input aside; a program without one just sleeps.
void pauseForLock(std::chrono::milliseconds step)
{
    if (QCoreApplication::instance() != nullptr)
        QtSleeper().sleep(step);
    else
        std::this_thread::sleep_for(step);
}

// Renames from to to unless to exists; false with errno set otherwise.
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link refuses an existing name as well.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

} // namespace

FilePreferences::FilePreferences(Log& log, std::filesystem::path directory) : m_log(log)
{
    std::error_code error;
    m_directory = std::filesystem::absolute(directory, error);
    if (error)
        m_directory = std::move(directory);
    m_file = m_directory / kFileName;
    m_log.write("preferences: using " + m_file.string());
    refresh();
}

std::filesystem::path FilePreferences::defaultDirectory()
{
    if (const char* own = std::getenv("GLOWCAST_CONFIG_DIR"); own != nullptr && *own != '\0')
        return own;
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the XDG layout asks.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::filesystem::path{xdg} / "glowcast";
    std::filesystem::path home;
    if (const char* fromEnvironment = std::getenv("HOME"); fromEnvironment != nullptr && *fromEnvironment != '\0') {
        home = fromEnvironment;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
            home = found->pw_dir;
    }
    return home / ".config" / "glowcast";
}

std::optional<std::string> FilePreferences::text(std::string_view key)
{
    refresh();
    return preferences_document::text(m_document, key, nullptr);
}

void FilePreferences::setText(std::string_view key, std::optional<std::string> value)
{
    if (key == preferences_document::kLampsKey) {
        m_log.write("preferences: \"lamps\" holds the lamp selection, not a text; not changed");
        return;
    }
    if (key == preferences_document::kSystemsKey) {
        m_log.write("preferences: \"systems\" holds the lamp systems, not a text; not changed");
        return;
    }
    const QString name = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    (void)change(name, value ? QJsonValue(QString::fromStdString(*value)) : QJsonValue(QJsonValue::Null),
                 Keep::UntilSaved);
}

std::optional<std::vector<LampEntry>> FilePreferences::lamps()
{
    refresh();
    return preferences_document::lamps(m_document, nullptr);
}

void FilePreferences::setLamps(const std::vector<LampEntry>& lamps)
{
    (void)change(QLatin1String(preferences_document::kLampsKey), preferences_document::lampsValue(lamps),
                 Keep::UntilSaved);
}

FilePreferences::FileIdentity FilePreferences::identityOf(const struct stat& status)
{
    return {true, status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
}

void FilePreferences::refresh()
{
    struct stat status {};
    FileIdentity now;
    if (::stat(m_file.c_str(), &status) == 0) {
        now = identityOf(status);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        // Unreachable for another reason (a permission, a loop of links): load says why, once.
        if (!m_blocked)
            load();
        return;
    }
    if (now != m_loaded || (m_blocked && !now.exists))
        load();
}

void FilePreferences::load()
{
    QJsonObject loaded;
    FileRead read = readRegularFile(m_file, kMaximumFileBytes);
    if (read.failure == FileReadFailure::Missing) {
        m_loaded = {};
        m_blocked = false;
    } else if (!read.ok()) {
        keepAside(read.reason);
        return;
    } else {
        preferences_document::Parsed parsed = preferences_document::parse(
            QByteArray(reinterpret_cast<const char*>(read.bytes.data()), static_cast<qsizetype>(read.bytes.size())));
        if (!parsed.document) {
            keepAside(parsed.error.toStdString());
            return;
        }
        loaded = std::move(*parsed.document);
        preferences_document::report(loaded, m_log);
        m_loaded = identityOf(read.status);
        m_blocked = false;
    }
    for (auto change = m_unsaved.cbegin(); change != m_unsaved.cend(); ++change) {
        if (change.value().isNull())
            loaded.remove(change.key());
        else
            loaded.insert(change.key(), change.value());
    }
    m_document = std::move(loaded);
}

void FilePreferences::keepAside(const std::string& why)
{
    const std::string stem = m_file.string() + ".corrupt-" + utcStamp();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::filesystem::path aside = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
        if (renameWithoutReplacing(m_file, aside)) {
            m_log.write("preferences: could not read " + m_file.string() + " (" + why + "); kept it aside as " +
                        aside.string() + " and going on without it");
            m_loaded = {};
            m_blocked = false;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    const std::string renameError = errnoText(errno);
    m_log.write("preferences: could not read " + m_file.string() + " (" + why + ") nor keep it aside (" + renameError +
                "); nothing will be saved over it");
    struct stat status {};
    m_loaded = {};
    if (::stat(m_file.c_str(), &status) == 0)
        m_loaded = identityOf(status);
    m_blocked = true;
}

bool FilePreferences::change(const QString& key, const QJsonValue& value, Keep keep)
{
    const EditLock lock(*this);
    refresh();
    const std::optional<QJsonValue> unsavedBefore =
        m_unsaved.contains(key) ? std::optional{m_unsaved.value(key)} : std::nullopt;
    const QJsonValue before = m_document.value(key);
    m_unsaved.insert(key, value);
    if (value.isNull())
        m_document.remove(key);
    else
        m_document.insert(key, value);
    if (save()) {
        m_unsaved.clear();
        return true;
    }
    if (keep == Keep::UntilSaved)
        return false;
    // The one who asked hears of the failure: the value goes back to what is on disk (or to what was
    // already waiting), so that what is read and what is stored never disagree.
    if (unsavedBefore)
        m_unsaved.insert(key, *unsavedBefore);
    else
        m_unsaved.remove(key);
    if (before.isUndefined())
        m_document.remove(key);
    else
        m_document.insert(key, before);
    return false;
}

bool FilePreferences::save()
{
    const std::string notSaved = "preferences: could not save " + m_file.string() + ": ";
    if (m_blocked) {
        m_log.write(notSaved + "the file there cannot be read and is kept as it is; the change holds until the "
                               "program ends");
        return false;
    }
    const QByteArray bytes = QJsonDocument(m_document).toJson(QJsonDocument::Indented);
    // A file the next start would refuse to read is never written.
    if (static_cast<std::size_t>(bytes.size()) > kMaximumFileBytes) {
        m_log.write(notSaved + "it would hold " + std::to_string(bytes.size()) + " bytes, more than the " +
                    std::to_string(kMaximumFileBytes) +
                    " a preferences file can hold; the change holds until the "
                    "program ends");
        return false;
    }
    if (const std::optional<std::string> error = makeDirectories(m_directory)) {
        m_log.write(notSaved + *error);
        return false;
    }
    // QSaveFile writes a temporary file beside the real one and renames it over it on commit, so a
    // reader sees either the old document or the new one, never a part.
    // Unbuffered, so that a write the file system refuses (a full disk, a quota) fails here and is
    // seen, rather than in a flush at commit that would go unnoticed and rename a cut-off file over
    // the good one.
    QSaveFile file(QString::fromStdString(m_file.string()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_log.write(notSaved + file.errorString().toStdString());
        return false;
    }
    // The user name is the key to the bridge: owner only, set before any byte is written.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        m_log.write(notSaved + "cannot restrict its mode: " + errnoText(errno));
        file.cancelWriting();
        return false;
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        // A write cut short is no error to Qt; the system said why the rest was refused.
        const std::string why = file.error() != QFileDevice::NoError ? file.errorString().toStdString()
                                : errno != 0                         ? errnoText(errno)
                                                                     : std::string{"the write was cut short"};
        m_log.write(notSaved + why + "; the file there is left as it was");
        file.cancelWriting();
        return false;
    }
    // Some file systems report a lack of space only when the data reaches the disk.
    if (::fsync(file.handle()) != 0) {
        m_log.write(notSaved + errnoText(errno) + "; the file there is left as it was");
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_log.write(notSaved + file.errorString().toStdString() + "; the file there is left as it was");
        return false;
    }
    struct stat status {};
    if (::stat(m_file.c_str(), &status) == 0)
        m_loaded = identityOf(status);
    return true;
}

// Settings keys, and the lock that serialises every write of the preferences directory.

StoredSetting FilePreferences::setting(std::string_view key)
{
    refresh();
    return preferences_document::setting(m_document, key);
}

bool FilePreferences::setSetting(std::string_view key, std::optional<SettingValue> value)
{
    if (key == preferences_document::kLampsKey) {
        m_log.write("preferences: \"lamps\" holds the lamp selection, not a setting; not changed");
        return false;
    }
    if (key == preferences_document::kSystemsKey) {
        m_log.write("preferences: \"systems\" holds the lamp systems, not a setting; not changed");
        return false;
    }
    const QString name = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    return change(name, value ? preferences_document::settingValue(*value) : QJsonValue(QJsonValue::Null),
                  Keep::OnlyIfSaved);
}

bool FilePreferences::updateLamps(const LampsEdit& edit)
{
    const EditLock lock(*this);
    refresh();
    return change(QLatin1String(preferences_document::kLampsKey),
                  preferences_document::lampsValue(edit(preferences_document::lamps(m_document, nullptr))),
                  Keep::OnlyIfSaved);
}

std::vector<SystemRecord> FilePreferences::systems()
{
    refresh();
    return preferences_document::systems(m_document, nullptr);
}

bool FilePreferences::updateSystems(const SystemsEdit& edit)
{
    const EditLock lock(*this);
    refresh();
    const std::vector<SystemRecord> records = edit(preferences_document::systems(m_document, nullptr));
    return change(QLatin1String(preferences_document::kSystemsKey),
                  preferences_document::systemsValue(m_document, records), Keep::OnlyIfSaved);
}

void FilePreferences::whileLocked(const std::function<void()>& action)
{
    const EditLock lock(*this);
    action();
}

FilePreferences::EditLock::EditLock(FilePreferences& preferences) : m_preferences(preferences)
{
    if (m_preferences.m_editDepth++ > 0)
        return;
    // Without the directory there is nothing to lock yet; the save makes it and says so if it cannot.
    if (makeDirectories(m_preferences.m_directory))
        return;
    // The directory itself, not a file in it: the lock leaves nothing behind, and the file is replaced
    // by every save, so a lock on it would not outlive one.
    m_descriptor = ::open(m_preferences.m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_descriptor < 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{5};
    // Bounded in count as well, should the clock stall.
    for (int attempt = 0; attempt < 1000 && std::chrono::steady_clock::now() < deadline; ++attempt) {
        if (::flock(m_descriptor, LOCK_EX | LOCK_NB) == 0)
            return;
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        pauseForLock(std::chrono::milliseconds{10});
    }
    m_preferences.m_log.write("preferences: another program has kept " + m_preferences.m_directory.string() +
                              " locked for 5 s; writing without waiting for it");
    ::close(m_descriptor);
    m_descriptor = -1;
}

FilePreferences::EditLock::~EditLock()
{
    if (--m_preferences.m_editDepth == 0 && m_descriptor >= 0)
        ::close(m_descriptor); // closing the only descriptor releases the lock
}

} // namespace glowcast
