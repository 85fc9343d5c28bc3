#include "SettingsPreferenceStore.h"

#include "platform/linux/base/Files.h"

#include <QLockFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brimlow::platform::linuxdesktop {
namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

// The whole text must be one decimal integer that fits: "1e3", " 1" or "1 " are not numbers.
std::int64_t parsedInteger(const std::string& text) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::string localTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, length);
}

// Never replaces an existing file: an earlier corrupt copy is as precious as this one.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // The file system cannot refuse to replace; this check races only with ourselves.
    if (access(to.c_str(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

std::string preferencesFilePath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base = configHome != nullptr && configHome[0] == '/' ? std::string(configHome)
                                                                     : homeDirectory() + "/.config";
    return base + "/pellvane/Brimlow2.conf";
}

std::vector<std::string> systemPreferencesFilePaths() {
    std::vector<std::string> paths;
    for (const std::string& folder : xdgBaseDirectories("XDG_CONFIG_DIRS", "/etc/xdg")) {
        paths.push_back(folder + "/pellvane/Brimlow2.conf");
    }
    return paths;
}

class SettingsPreferenceStore::Impl {
public:
    Impl(std::string path, Console& console, const std::vector<std::string>& systemPaths)
        : path_(std::move(path)), console_(console) {
        for (const std::string& systemPath : systemPaths) {
            takeDefaultsFrom(systemPath);
        }
        const WriteTarget target = writeTarget(path_);
        target_ = target.path;
        if (target.refusal.empty()) {
            removeUnfinishedWrites();
            renew();
        } else {
            keepInMemory(target.refusal);
        }
    }

    QVariant read(const std::string& key) {
        QVariant value = readOwn(key);
        if (!value.isValid()) {
            auto found = defaults_.find(key);
            return found == defaults_.end() ? QVariant() : found->second;
        }
        return value;
    }

    void write(const std::string& key, const QVariant& value) {
        if (!fileIsOurs()) {
            memory_[key] = value;
            return;
        }
        // Also finds a corrupt file before the write could replace it.
        takeInChanges();
        settings_->setValue(QString::fromStdString(key), value);
        takeInChanges();
    }

private:
    QVariant readOwn(const std::string& key) {
        if (!fileIsOurs()) {
            auto found = memory_.find(key);
            return found == memory_.end() ? QVariant() : found->second;
        }
        takeInChanges();
        return settings_->value(QString::fromStdString(key));
    }

    // A key that a more important file gave stays. A file QSettings cannot parse gives nothing:
    // what it understood of it may not be what the administrator meant. A missing file is the usual
    // case and says nothing.
    void takeDefaultsFrom(const std::string& systemPath) {
        struct stat status {};
        std::string refusal;
        if (stat(systemPath.c_str(), &status) != 0) {
            if (errno == ENOENT) {
                return;
            }
            refusal = std::string("cannot be read (") + std::strerror(errno) + ")";
        } else if (!S_ISREG(status.st_mode)) {
            refusal = "is not a regular file";
        } else if (access(systemPath.c_str(), R_OK) != 0) {
            refusal = std::string("cannot be read (") + std::strerror(errno) + ")";
        }
        if (refusal.empty()) {
            const QSettings system(QString::fromStdString(systemPath), QSettings::IniFormat);
            if (system.status() != QSettings::NoError) {
                refusal = "could not be parsed";
            } else {
                for (const QString& key : system.allKeys()) {
                    defaults_.emplace(key.toStdString(), system.value(key));
                }
            }
        }
        if (!refusal.empty()) {
            console_.printLine("System preferences file " + systemPath + " " + refusal +
                               ": skipped it");
        }
    }

    // Asked before every access, since another program may put something else there at any
    // time; QSettings would read a device or a FIFO without end and rename its file over it.
    bool fileIsOurs() {
        if (settings_ == nullptr) {
            return false;
        }
        const WriteTarget target = writeTarget(path_);
        if (!target.refusal.empty()) {
            keepInMemory(target.refusal);
            return false;
        }
        if (target.path != target_) {
            // The link was pointed elsewhere: from now on that file is the store.
            target_ = target.path;
            renew();
        }
        return true;
    }

    // A run killed while it wrote leaves QSaveFile's temporary file (<name>.XXXXXX) and QSettings'
    // lock file beside the store. A temporary that has not changed for a while belongs to no
    // write under way; a lock whose process is gone is taken over and so removed. A run killed
    // between creating the lock and naming itself in it leaves the lock empty, which Qt would
    // wait half a minute to call stale, with the program frozen; a live writer names itself at
    // once, so an empty lock a second old is a dead one's.
    void removeUnfinishedWrites() {
        namespace fs = std::filesystem;
        QLockFile lock(QString::fromStdString(target_ + ".lock"));
        lock.setStaleLockTime(1000);
        if (lock.tryLock(1500)) {
            lock.unlock();
        }
        const fs::path store(target_);
        const std::string prefix = store.filename().string() + ".";
        const auto stale = fs::file_time_type::clock::now() - std::chrono::seconds(5);
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(store.parent_path(), error)) {
            const std::string name = entry.path().filename().string();
            const bool temporary =
                name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
                std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(),
                            [](unsigned char c) { return std::isalnum(c) != 0; });
            std::error_code ignored;
            if (temporary && entry.is_regular_file(ignored) &&
                entry.last_write_time(ignored) < stale) {
                fs::remove(entry.path(), ignored);
            }
        }
    }

    void keepInMemory(const std::string& refusal) {
        if (settings_ != nullptr) {
            for (const QString& key : settings_->allKeys()) {
                memory_[key.toStdString()] = settings_->value(key);
            }
            // Every write was synced at once: nothing is pending that it could write on its way.
            settings_.reset();
        }
        console_.printLine("Preferences file " + path_ + " is not a file Brimlow may write (" +
                           refusal +
                           "): preferences are kept in memory until Brimlow quits, and "
                           "it is left as it is");
    }

    // Writes pending values and reads what changed on disk.
    void takeInChanges() {
        settings_->sync();
        switch (settings_->status()) {
        case QSettings::NoError:
            troubleReported_ = false;
            return;
        case QSettings::FormatError:
            setCorruptFileAside();
            renew();
            return;
        case QSettings::AccessError:
            if (!troubleReported_) {
                console_.printLine("Preferences file " + path_ +
                                   " cannot be read or written; changes are kept until Brimlow "
                                   "quits and saved if the file becomes writable before");
                troubleReported_ = true;
            }
            renew();
            return;
        }
    }

    // A QSettings keeps its first error for its lifetime. A fresh one made while the old one
    // still lives shares its values and unsaved changes, and reports afresh.
    void renew() {
        auto fresh =
            std::make_unique<QSettings>(QString::fromStdString(target_), QSettings::IniFormat);
        settings_ = std::move(fresh);
    }

    // Renaming needs the same permission as the write that replaces the file, so a file that
    // cannot be moved aside cannot be overwritten either.
    void setCorruptFileAside() {
        const std::string base = target_ + ".corrupt-" + localTimestamp();
        std::string aside = base;
        bool moved = false;
        for (int n = 2; n <= 100; ++n) {
            if (renameWithoutReplacing(target_, aside)) {
                moved = true;
                break;
            }
            if (errno != EEXIST) {
                break;
            }
            aside = base + "-" + std::to_string(n);
        }
        if (moved) {
            console_.printLine("Preferences file " + path_ + " could not be parsed; kept it as " +
                               aside + " and started with empty preferences");
            troubleReported_ = false;
        } else if (!troubleReported_) {
            console_.printLine("Preferences file " + path_ + " could not be parsed nor moved to " +
                               aside + " (" + std::strerror(errno) + "); left it untouched");
            troubleReported_ = true;
        }
    }

    const std::string path_;
    Console& console_;
    // Where the path's links lead: the file QSettings reads and replaces.
    std::string target_;
    std::unique_ptr<QSettings> settings_;
    // The values, once the path leads to something that is not ours to write.
    std::map<std::string, QVariant> memory_;
    std::map<std::string, QVariant> defaults_;
    bool troubleReported_ = false;
};

SettingsPreferenceStore::SettingsPreferenceStore(std::string path, Console& console,
                                                 const std::vector<std::string>& systemPaths)
    : impl_(std::make_unique<Impl>(std::move(path), console, systemPaths)) {}

SettingsPreferenceStore::~SettingsPreferenceStore() = default;

std::int64_t SettingsPreferenceStore::integerForKey(const std::string& key) {
    return parsedInteger(impl_->read(key).toString().toStdString());
}

void SettingsPreferenceStore::setInteger(const std::string& key, std::int64_t value) {
    impl_->write(key, QString::number(value));
}

std::optional<std::string> SettingsPreferenceStore::stringForKey(const std::string& key) {
    QVariant value = impl_->read(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    // An unquoted comma in a hand-edited file makes QSettings read a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u", ").toStdString();
    }
    return value.toString().toStdString();
}

void SettingsPreferenceStore::setString(const std::string& key, const std::string& value) {
    impl_->write(key, QString::fromStdString(value));
}

} // namespace brimlow::platform::linuxdesktop
