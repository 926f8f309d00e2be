#pragma once

// The registry on this platform: one registry file per root (see RegistryFile.h),
//   HKEY_CURRENT_USER.reg   in $XDG_CONFIG_HOME/vantorel/ (default ~/.config/vantorel/)
//   HKEY_LOCAL_MACHINE.reg  in /etc/vantorel/
// both in $VANTOREL_REGISTRY_DIR instead when that is set.
//
// Reading takes the file as it is; files are only ever replaced whole, so a reader never
// sees half of one. Every change is one transaction under an exclusive lock shared by
// all processes (a lock file beside the registry file): the file is read again, the one
// change is made to what it holds now, and the result is written to a temporary file in
// the same folder that then takes the file's place. So two programs that change
// different values both keep theirs, a failure leaves the previous file whole, and a
// file that does not read cleanly is left as it is instead of being overwritten.

#include "settings/RegistryFile.h"
#include "settings/RegistryValue.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// The folder that holds a root's registry file, with a trailing delimiter; nullopt
/// when the user's configuration folder cannot be told (no $HOME, no user entry).
std::optional<std::string> RegistryFolder(RegistryRoot root);

/// Path of a root's registry file ("HKEY_CURRENT_USER.reg" in its folder).
std::optional<std::string> RegistryFilePath(RegistryRoot root);

/// Path of the lock file that guards changes of a registry file.
std::string RegistryLockFilePath(const std::string& registryFilePath);

/// How long a change waits for another process's change by default.
inline constexpr std::chrono::milliseconds kRegistryLockTimeout{10000};

/// The outcome of a change of the registry.
enum class RegistryWriteStatus {
    Written,           ///< the file was replaced with the change made
    Unchanged,         ///< the file already held it; nothing was written
    InvalidName,       ///< the key path or value name cannot be stored
    FolderUnavailable, ///< the registry folder is unknown or cannot be made
    LockUnavailable,   ///< the lock file cannot be opened or locked
    LockTimeout,       ///< another process kept the lock longer than the timeout
    FileUnreadable,    ///< the registry file exists but cannot be read
    FileUnparsable,    ///< the registry file has lines that cannot be read: left as it is
    WriteFailed,       ///< the new file could not be written or put in place
};

/// True for Written and Unchanged.
bool Succeeded(RegistryWriteStatus status);

/// A short English account of the outcome, for messages ("written", "the registry file
/// has lines that cannot be read", ...).
std::string_view DescribeWriteStatus(RegistryWriteStatus status);

/// What is wrong with a registry file, as reading or changing it found it.
struct RegistryProblem {
    std::string file;           ///< path of the registry file
    std::size_t line = 0;       ///< first line that cannot be read, from 1; 0: no line was read
    std::string lineText;       ///< that line as it stands in the file
    std::string reason;         ///< what is wrong with it
    std::size_t otherLines = 0; ///< how many more lines cannot be read
    bool nothingRead = false;   ///< no value of the file is used
    bool savesRefused = false;  ///< a change was refused because of it: settings were lost
};

/// The message for the user: the file, the line (number and text), what is wrong, and
/// what it means for reading and saving settings; lines end in "\n".
std::string DescribeRegistryProblem(const RegistryProblem& problem);

/// The problems of registry files that reading or changing them met since the last call
/// and that have not been returned before: each file's problem is returned once per
/// process (a different problem of the file later is news again; a file that reads
/// cleanly again is forgotten). A save refused before the problem was taken is marked in
/// savesRefused. Thread-safe.
std::vector<RegistryProblem> TakeRegistryProblems();

/// TakeRegistryProblems as text for the user, one DescribeRegistryProblem per problem;
/// "" when there is nothing new. The one call to make after settings were loaded or
/// saved: the window adds it to its diagnostics, the command-line tools write it to
/// standard error.
std::string TakeRegistryProblemReport();

/// A connection to one root, with one key open at a time (the root itself when none
/// is). It reads the root's file when it is made and after each change it makes; reads
/// never create a file, a folder or a key. Key paths start at the root
/// ("\Software\Corvane\vantorel"; the leading "\" may be left out).
/// The environment variable that names a folder for the registry files in place of the
/// user's own (and the machine's).
inline constexpr const char* kRegistryFolderVariable = "VANTOREL_REGISTRY_DIR";
/// Set in tests, benchmarks and tools: a write to the user's own settings (the registry
/// folder not named) ends the process with a message instead (see TSettingsSandbox).
inline constexpr const char* kNoUserSettingsVariable = "VANTOREL_NO_USER_SETTINGS";

class TRegistry {
public:
    explicit TRegistry(RegistryRoot root);

    RegistryRoot RootKey() const { return root_; }
    /// Path of the root's registry file ("" when it cannot be told).
    const std::string& FilePath() const { return filePath_; }
    /// The file as last read by this connection.
    const TRegistryFile& File() const { return file_; }
    /// True when none of the file's values could be read: it exists but cannot be read,
    /// or it is not a registry file.
    bool Unreadable() const { return unreadable_ || file_.Unreadable(); }

    bool KeyExists(std::string_view keyPath) const;
    /// Opens an existing key without creating it; false (and the open key unchanged)
    /// when it does not exist.
    bool OpenKeyReadOnly(std::string_view keyPath);
    /// Opens a key, creating it (with its parents) when it does not exist. The open key
    /// is unchanged unless the result is Written or Unchanged.
    RegistryWriteStatus OpenKey(std::string_view keyPath);
    /// Goes back to the root.
    void CloseKey();
    /// The open key's path ("" for the root).
    const std::string& CurrentPath() const { return currentPath_; }

    /// Questions and reads on the open key; all of them answer "absent" for a value that
    /// does not exist.
    bool ValueExists(std::string_view name) const;
    std::optional<RegistryDataType> GetDataType(std::string_view name) const;
    std::optional<RegistryValue> ReadValue(std::string_view name) const;
    /// A REG_DWORD value of 4 bytes; nullopt for any other.
    std::optional<std::int32_t> ReadInteger(std::string_view name) const;
    /// A REG_SZ or REG_EXPAND_SZ value (not expanded); nullopt for any other.
    std::optional<std::string> ReadString(std::string_view name) const;

    /// Changes of the open key, each one transaction (see above).
    RegistryWriteStatus WriteValue(std::string_view name, const RegistryValue& value);
    RegistryWriteStatus WriteInteger(std::string_view name, std::int32_t value);
    RegistryWriteStatus WriteString(std::string_view name, std::string_view value);

    /// How long a change waits for the lock (at least one attempt is made).
    void SetLockTimeout(std::chrono::milliseconds timeout) { lockTimeout_ = timeout; }

private:
    template <class Change> RegistryWriteStatus Transact(const Change& change);

    RegistryRoot root_;
    std::string filePath_;
    /// The file is in the folder VANTOREL_REGISTRY_DIR named, not the user's own.
    bool namedFolder_ = false;
    TRegistryFile file_;
    bool unreadable_ = false;
    std::string currentPath_;
    std::chrono::milliseconds lockTimeout_ = kRegistryLockTimeout;
};

} // namespace vantorel
