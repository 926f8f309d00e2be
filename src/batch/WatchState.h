#pragma once

// What the watch has processed, kept in a small file beside its pictures so that a restart
// neither redoes a pass nor skips one that came while it was stopped, and the lock that
// keeps a second watch from that folder.

#include "batch/PassRecord.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// Where a watched input stands in the state.
enum class TInputState {
    New,     ///< never taken
    Begun,   ///< taken, and its run never told how it ended (the watch was killed)
    Done,    ///< processed, whatever came of it, and its files are as they were then
    Changed, ///< processed, but its files have changed since
};

class TWatchState {
public:
    /// The state kept in `file` (none yet when it does not exist).
    /// @throws std::runtime_error when the file exists but cannot be read as a state file:
    ///   it is never overwritten blindly.
    explicit TWatchState(std::string file);

    /// Where the input (any spelling of its path) stands, its files' mark now given
    /// (FilesMark). A pass recorded without a mark counts as unchanged.
    TInputState StateOf(const std::string& input, std::string_view mark) const;
    /// The picture planned for an input taken and never finished; "" when none was.
    std::string BegunOutput(const std::string& input) const;
    /// Notes an input taken, with the picture planned for it, before its run.
    void Begin(const std::string& input, const std::string& output, std::string_view mark);
    /// Notes a processed input, with its files' mark when it was taken.
    void Add(const TPassRecord& record, const std::string& finished, std::string_view mark);
    /// Saves the file whole. @throws std::runtime_error when it cannot be written (what is
    /// noted stays, for the next try).
    void Save() const;
    /// The inputs noted as begun and never finished.
    std::vector<std::string> Begun() const;
    std::size_t Count() const { return passes_.size(); }
    const std::string& File() const { return file_; }

private:
    std::string file_;
    TJson passes_ = TJson::object(); ///< by absolute input path
};

/// A short, stable mark of what an input's files are (their names, sizes and times).
std::string FilesMark(std::string_view signature);

/// Thrown when another process holds a folder's watch lock.
class EFolderLocked : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The watch's lock on the folder it writes to, held while the object lives (and never
/// beyond the process: the system lets it go when the process ends, however it ends).
class TFolderLock {
public:
    /// @throws EFolderLocked naming the process that holds it; std::runtime_error when
    ///   the lock file cannot be made.
    explicit TFolderLock(const std::string& folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

private:
    int fd_ = -1;
};

/// The name of the lock file in a folder.
inline constexpr const char* kWatchLockName = ".vantorel-watch.lock";

} // namespace vantorel
