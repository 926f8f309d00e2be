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

/// A connection to one root, with one key open at a time (the root itself when none
/// is). It reads the root's file when it is made and after each change it makes; reads
/// never create a file, a folder or a key. Key paths start at the root
/// ("\Software\Corvane\vantorel"; the leading "\" may be left out).
class TRegistry {
public:
    explicit TRegistry(RegistryRoot root);

    RegistryRoot RootKey() const { return root_; }
    /// Path of the root's registry file ("" when it cannot be told).
    const std::string& FilePath() const { return filePath_; }
    /// The file as last read by this connection.
    const TRegistryFile& File() const { return file_; }

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
    TRegistryFile file_;
    std::string currentPath_;
    std::chrono::milliseconds lockTimeout_ = kRegistryLockTimeout;
};

} // namespace vantorel
