// The registry store: registry files per root, read as they are and changed in locked
// transactions that replace the file whole.
//
// Follows the usual way of updating a shared configuration file on POSIX systems (an
// flock()ed lock file, write to a temporary file in the same folder, fsync, rename,
// fsync of the folder). Beyond that:
// - the replaced file keeps the permissions and owner of the one it replaces, and a
//   registry file that is a symbolic link stays one (its target is replaced);
// - temporary files left by a process that died while writing are removed by the next
//   change (only the lock holder writes them, so under the lock every one is stale);
// - the wait for the lock is bounded, so a process that hangs holding it costs another
//   one value, not its own hang;
// - a file larger than any registry file (64 MiB) is taken as unreadable;
// - what is wrong with a file that cannot be read, or not cleanly, is kept in a
//   process-wide log, so that the program can tell the user once instead of losing
//   every later change without a word.
#include "settings/Registry.h"

#include "common/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace vantorel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTemporarySuffix = ".tmp-";
// Far beyond any registry file; a larger file is taken as unreadable rather than read
// into memory by every variable.
constexpr size_t kMaxRegistryFileBytes = 64u << 20;

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string HomeFolder() {
    std::string home = EnvironmentValue("HOME");
    if (!home.empty()) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        home = found->pw_dir;
    }
    return home;
}

// A file descriptor that closes itself.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    /// Closes now and tells whether the close succeeded (a failed close can mean lost
    /// data on some file systems).
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

RegistryWriteStatus AcquireLock(const UniqueFd& lock, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return RegistryWriteStatus::LockUnavailable;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return RegistryWriteStatus::LockTimeout;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return RegistryWriteStatus::Written;
}

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    // Not blocking: a FIFO in the file's place would hold the program at its start.
    UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return ReadOutcome::Failed; // and so never replaced either
    }
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return ReadOutcome::Failed;
        }
        if (got == 0) {
            return ReadOutcome::Read;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        if (bytes.size() > kMaxRegistryFileBytes) {
            bytes.clear();
            return ReadOutcome::Failed;
        }
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

void RemoveStaleTemporaries(const fs::path& target) {
    const std::string prefix = target.filename().string() + std::string(kTemporarySuffix);
    std::error_code ec;
    for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().filename().string().starts_with(prefix)) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

// Writes bytes to a new file beside the target and renames it over the target.
RegistryWriteStatus ReplaceFile(const fs::path& target, std::string_view bytes) {
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd.Valid(); ++attempt) {
        temporary = target.string() + std::string(kTemporarySuffix) + std::to_string(::getpid()) +
                    "-" + std::to_string(counter++);
        fd.Reset(OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.Valid() && errno != EEXIST) {
            return RegistryWriteStatus::WriteFailed;
        }
    }
    if (!fd.Valid()) {
        return RegistryWriteStatus::WriteFailed;
    }
    struct stat previous {};
    if (::stat(target.c_str(), &previous) == 0) {
        // A failure leaves the new file with a new file's owner or mode, nothing worse.
        [[maybe_unused]] const int owned = ::fchown(fd.Get(), previous.st_uid, previous.st_gid);
        [[maybe_unused]] const int moded = ::fchmod(fd.Get(), previous.st_mode & 07777);
    }
    const bool written = WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
    if (!fd.Close() || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return RegistryWriteStatus::WriteFailed;
    }
    // The rename itself must survive a power cut.
    UniqueFd folder(OpenRetrying(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) {
        ::fsync(folder.Get());
    }
    return RegistryWriteStatus::Written;
}

// The problems met, by file; an entry stays after it is taken so that it is told once.
struct ProblemLog {
    struct Entry {
        RegistryProblem problem;
        bool taken = false;
    };
    std::mutex mutex;
    std::map<std::string, Entry> files;
};

ProblemLog& TheProblemLog() {
    static ProblemLog log;
    return log;
}

void NoteProblem(RegistryProblem problem) {
    ProblemLog& log = TheProblemLog();
    const std::lock_guard guard(log.mutex);
    const auto it = log.files.find(problem.file);
    if (it != log.files.end() && it->second.problem.line == problem.line &&
        it->second.problem.lineText == problem.lineText &&
        it->second.problem.reason == problem.reason) {
        if (!it->second.taken) {
            it->second.problem.savesRefused |= problem.savesRefused;
        }
        return;
    }
    const std::string file = problem.file;
    log.files[file] = {std::move(problem), false};
}

void NoteFileRead(const std::string& path, const TRegistryFile& file, bool saveRefused) {
    if (file.Problems().empty()) {
        ProblemLog& log = TheProblemLog();
        const std::lock_guard guard(log.mutex);
        log.files.erase(path);
        return;
    }
    const RegistryFileProblem& first = file.Problems().front();
    NoteProblem({path, first.line, first.text, first.message, file.Problems().size() - 1,
                 file.Unreadable(), saveRefused});
}

void NoteFileUnreadable(const std::string& path, bool saveRefused) {
    NoteProblem({path, 0, "", "the file cannot be read", 0, true, saveRefused});
}

/// At most about 120 bytes of a line for a message, not cutting a UTF-8 sequence.
std::string Shortened(const std::string& text) {
    constexpr size_t kMost = 120;
    if (text.size() <= kMost) {
        return text;
    }
    size_t end = kMost;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end) + "...";
}

} // namespace

std::string DescribeRegistryProblem(const RegistryProblem& p) {
    std::string text = "Settings: the registry file " + p.file;
    if (p.line == 0) {
        text += " cannot be read (" + p.reason + ").\n";
    } else {
        text += " has a line that cannot be read, line " + std::to_string(p.line) + ": \"" +
                Shortened(p.lineText) + "\" (" + p.reason + ").";
        if (p.otherLines > 0) {
            text += " " + std::to_string(p.otherLines) +
                    (p.otherLines == 1 ? " more line cannot" : " more lines cannot") +
                    " be read either.";
        }
        text += "\n";
    }
    text += p.nothingRead ? "None of its settings are used" : "Its other settings are used";
    text += p.nothingRead ? ", and " : ", but ";
    text += p.savesRefused ? "settings changed in this run were not saved and none will be"
                           : "no setting will be saved";
    text += p.line == 0     ? " until it can be read.\n"
            : p.nothingRead ? " until the file is mended or removed.\n"
                            : " until that line is mended or removed.\n";
    return text;
}

std::vector<RegistryProblem> TakeRegistryProblems() {
    ProblemLog& log = TheProblemLog();
    const std::lock_guard guard(log.mutex);
    std::vector<RegistryProblem> news;
    for (auto& [file, entry] : log.files) {
        if (!entry.taken) {
            entry.taken = true;
            news.push_back(entry.problem);
        }
    }
    return news;
}

std::string TakeRegistryProblemReport() {
    std::string report;
    for (const RegistryProblem& problem : TakeRegistryProblems()) {
        report += DescribeRegistryProblem(problem);
    }
    return report;
}

std::optional<std::string> RegistryFolder(RegistryRoot root) {
    const std::string own = EnvironmentValue(kRegistryFolderVariable);
    if (!own.empty()) {
        return IncludeTrailingPathDelimiter(ExpandFileName(own));
    }
    if (root == RegistryRoot::LocalMachine) {
        return std::string("/etc/vantorel/");
    }
    // The XDG base directory rules: a relative $XDG_CONFIG_HOME is ignored.
    const std::string config = EnvironmentValue("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/') {
        return IncludeTrailingPathDelimiter(config) + "vantorel/";
    }
    const std::string home = HomeFolder();
    if (home.empty()) {
        return std::nullopt;
    }
    return IncludeTrailingPathDelimiter(home) + ".config/vantorel/";
}

std::optional<std::string> RegistryFilePath(RegistryRoot root) {
    auto folder = RegistryFolder(root);
    if (!folder) {
        return std::nullopt;
    }
    return *folder + std::string(RootKeyName(root)) + ".reg";
}

std::string RegistryLockFilePath(const std::string& registryFilePath) {
    return registryFilePath + ".lock";
}

bool Succeeded(RegistryWriteStatus status) {
    return status == RegistryWriteStatus::Written || status == RegistryWriteStatus::Unchanged;
}

std::string_view DescribeWriteStatus(RegistryWriteStatus status) {
    switch (status) {
    case RegistryWriteStatus::Written:
        return "written";
    case RegistryWriteStatus::Unchanged:
        return "already stored";
    case RegistryWriteStatus::InvalidName:
        return "the name cannot be stored in a registry file";
    case RegistryWriteStatus::FolderUnavailable:
        return "the registry folder is unknown or cannot be made";
    case RegistryWriteStatus::LockUnavailable:
        return "the registry's lock file cannot be opened";
    case RegistryWriteStatus::LockTimeout:
        return "another program kept the registry locked";
    case RegistryWriteStatus::FileUnreadable:
        return "the registry file cannot be read";
    case RegistryWriteStatus::FileUnparsable:
        return "the registry file has lines that cannot be read; it is left as it is";
    case RegistryWriteStatus::WriteFailed:
        return "the registry file cannot be written";
    }
    return "unknown outcome";
}

TRegistry::TRegistry(RegistryRoot root)
    : root_(root), filePath_(RegistryFilePath(root).value_or("")),
      namedFolder_(!EnvironmentValue(kRegistryFolderVariable).empty()), file_(root) {
    if (filePath_.empty()) {
        return;
    }
    std::string bytes;
    switch (ReadWholeFile(filePath_, bytes)) {
    case ReadOutcome::Read:
        file_ = TRegistryFile::Parse(bytes, root_);
        NoteFileRead(filePath_, file_, false);
        break;
    case ReadOutcome::Failed:
        unreadable_ = true;
        NoteFileUnreadable(filePath_, false);
        break;
    case ReadOutcome::Missing:
        NoteFileRead(filePath_, file_, false);
        break;
    }
}

template <class Change> RegistryWriteStatus TRegistry::Transact(const Change& change) {
    if (filePath_.empty()) {
        return RegistryWriteStatus::FolderUnavailable;
    }
    if (!namedFolder_ && !EnvironmentValue(kNoUserSettingsVariable).empty()) {
        // A test, benchmark or tool that lost its own folder: stopped where it happens.
        std::fprintf(stderr,
                     "vantorel: settings would be written to the user's own %s, which %s "
                     "forbids in this process\n",
                     filePath_.c_str(), kNoUserSettingsVariable);
        std::abort();
    }
    std::error_code ec;
    const fs::path folder = fs::path(filePath_).parent_path();
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        return RegistryWriteStatus::FolderUnavailable;
    }
    const UniqueFd lock(
        OpenRetrying(RegistryLockFilePath(filePath_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!lock.Valid()) {
        return RegistryWriteStatus::LockUnavailable;
    }
    if (const auto status = AcquireLock(lock, lockTimeout_);
        status != RegistryWriteStatus::Written) {
        return status;
    }
    // Under the lock until `lock` closes.
    fs::path target = filePath_;
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) {
            return RegistryWriteStatus::WriteFailed;
        }
    }
    RemoveStaleTemporaries(target);

    std::string bytes;
    TRegistryFile current(root_);
    switch (ReadWholeFile(target.string(), bytes)) {
    case ReadOutcome::Failed:
        unreadable_ = true;
        NoteFileUnreadable(filePath_, true);
        return RegistryWriteStatus::FileUnreadable;
    case ReadOutcome::Read:
        current = TRegistryFile::Parse(bytes, root_);
        break;
    case ReadOutcome::Missing:
        break;
    }
    unreadable_ = false;
    NoteFileRead(filePath_, current, true);
    if (!current.Problems().empty()) {
        file_ = std::move(current);
        return RegistryWriteStatus::FileUnparsable;
    }
    try {
        change(current);
    } catch (const std::invalid_argument&) {
        file_ = std::move(current);
        return RegistryWriteStatus::InvalidName;
    }
    const std::string changed = current.Bytes();
    file_ = std::move(current);
    if (changed == bytes) {
        return RegistryWriteStatus::Unchanged;
    }
    return ReplaceFile(target, changed);
}

bool TRegistry::KeyExists(std::string_view keyPath) const {
    return file_.KeyExists(keyPath);
}

bool TRegistry::OpenKeyReadOnly(std::string_view keyPath) {
    if (!file_.KeyExists(keyPath)) {
        return false;
    }
    currentPath_ = keyPath;
    return true;
}

RegistryWriteStatus TRegistry::OpenKey(std::string_view keyPath) {
    if (OpenKeyReadOnly(keyPath)) {
        // A key deleted meanwhile is made again by the next write.
        return RegistryWriteStatus::Unchanged;
    }
    const auto status = Transact([&](TRegistryFile& f) { f.CreateKey(keyPath); });
    if (Succeeded(status)) {
        currentPath_ = keyPath;
    }
    return status;
}

void TRegistry::CloseKey() {
    currentPath_.clear();
}

bool TRegistry::ValueExists(std::string_view name) const {
    return ReadValue(name).has_value();
}

std::optional<RegistryDataType> TRegistry::GetDataType(std::string_view name) const {
    const auto value = ReadValue(name);
    return value ? std::optional(value->type) : std::nullopt;
}

std::optional<RegistryValue> TRegistry::ReadValue(std::string_view name) const {
    return file_.Value(currentPath_, name);
}

std::optional<std::int32_t> TRegistry::ReadInteger(std::string_view name) const {
    const auto value = ReadValue(name);
    return value ? value->AsInteger() : std::nullopt;
}

std::optional<std::string> TRegistry::ReadString(std::string_view name) const {
    const auto value = ReadValue(name);
    return value ? value->AsString() : std::nullopt;
}

RegistryWriteStatus TRegistry::WriteValue(std::string_view name, const RegistryValue& value) {
    return Transact([&](TRegistryFile& f) { f.SetValue(currentPath_, name, value); });
}

RegistryWriteStatus TRegistry::WriteInteger(std::string_view name, std::int32_t value) {
    return WriteValue(name, RegistryValue::Dword(static_cast<std::uint32_t>(value)));
}

RegistryWriteStatus TRegistry::WriteString(std::string_view name, std::string_view value) {
    return WriteValue(name, RegistryValue::String(value));
}

} // namespace vantorel
