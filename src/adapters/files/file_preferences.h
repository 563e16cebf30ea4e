#pragma once

#include "adapters/files/preferences_document.h"
#include "core/ports/log.h"
#include "core/ports/preferences.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// The preferences as one JSON document, "preferences.json", in the user's configuration directory:
//
//   {"username": "...", "lastusedbridgeIP": "...",
//    "lamps": [{"id": "1", "name": "Desk", "enabled": true}, ...]}
//
// Every write goes to disk at once, atomically (a temporary file renamed over the old one), readable
// and writable by the owner only; the directory is made 0700 when missing. Members this program does
// not know are kept as they are. Another program (glowcastctl) may write the same file meanwhile:
// each read and write first picks up a file that changed on disk, and a write changes only its own
// key. Only a regular file is read, and opening it never waits (a FIFO in its place would). A file
// that cannot be read, is not a regular file or is not a JSON object is renamed to
// "preferences.json.corrupt-<UTC time>" with a log line, and the program goes on without it; it is
// never overwritten. Every byte written and the flush to disk are checked before the new file replaces
// the old one; a write that fails, or whose document would be larger than a preferences file is
// read at (4 MiB), leaves the old file as it was and is logged. A failed text or setLamps is kept for
// later reads and tried again with the next write; a failed setting or updateLamps returns false and
// is forgotten, so memory and file agree.
class FilePreferences final : public Preferences {
public:
    FilePreferences(Log& log, std::filesystem::path directory);

    // GLOWCAST_CONFIG_DIR when set, else $XDG_CONFIG_HOME/glowcast, else ~/.config/glowcast. Not
    // QStandardPaths: the Qt 6.4 of Debian 12 takes a relative XDG_CONFIG_HOME, which the XDG layout
    // says to ignore, and without HOME falls back to "/" where the password database knows better.
    [[nodiscard]] static std::filesystem::path defaultDirectory();

    // Reads pick up a changed file first, and may keep an unreadable one aside.
    [[nodiscard]] std::optional<std::string> text(std::string_view key) override;
    void setText(std::string_view key, std::optional<std::string> value) override;
    [[nodiscard]] std::optional<std::vector<LampEntry>> lamps() override;
    void setLamps(const std::vector<LampEntry>& lamps) override;

    [[nodiscard]] const std::filesystem::path& filePath() const { return m_file; }

    // Settings keys and the serialised edit of the selection. Every write (these and the ones
    // above) holds an exclusive lock on the preferences directory from the re-read of the file to
    // its rename, so two programs that write at once never undo each other's change.
    [[nodiscard]] StoredSetting setting(std::string_view key) override;
    [[nodiscard]] bool setSetting(std::string_view key, std::optional<SettingValue> value) override;
    [[nodiscard]] bool updateLamps(const LampsEdit& edit) override;
    // The "systems" list of objects {"id","kind","address","pace","offset","syncport","user"}.
    [[nodiscard]] std::vector<SystemRecord> systems() override;
    [[nodiscard]] bool updateSystems(const SystemsEdit& edit) override;
    // Runs action while holding the directory's lock, as a write does (a write inside it takes the lock
    // no further): for files kept beside the preferences, such as a lamp system's password.
    void whileLocked(const std::function<void()>& action);

private:
    // Held while one write runs; the outermost of nested ones takes and releases the lock. A lock
    // that stays taken for 5 s (a writer stopped mid-way) is given up on with a log line. Meanwhile
    // the wait spins a local event loop that leaves user input aside, so a window keeps painting.
    class EditLock {
    public:
        explicit EditLock(FilePreferences& preferences);
        ~EditLock();
        EditLock(const EditLock&) = delete;
        EditLock& operator=(const EditLock&) = delete;

    private:
        FilePreferences& m_preferences;
        int m_descriptor = -1;
    };

    // What identifies one version of the file on disk; a different one means someone wrote it.
    struct FileIdentity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        time_t modifiedSeconds = 0;
        long modifiedNanoseconds = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    [[nodiscard]] static FileIdentity identityOf(const struct stat& status);

    void refresh();
    void load();
    void keepAside(const std::string& reason);
    // What a write that could not be saved leaves behind: the value, for later reads and the next
    // save (texts and setLamps), or nothing (settings and updateLamps, whose callers hear of it).
    enum class Keep { UntilSaved, OnlyIfSaved };
    bool change(const QString& key, const QJsonValue& value, Keep keep);
    bool save();

    Log& m_log;
    std::filesystem::path m_directory;
    std::filesystem::path m_file;
    QJsonObject m_document;
    FileIdentity m_loaded;
    // The file there could be neither read nor moved aside: writes leave it alone.
    bool m_blocked = false;
    // Changes not yet on disk: applied again over whatever a reload brings. Null removes the key.
    QHash<QString, QJsonValue> m_unsaved;
    int m_editDepth = 0;
};

} // namespace glowcast
