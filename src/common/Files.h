#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// The path delimiter of this platform.
inline constexpr char kPathDelimiter = '/';

/// Folder part of a path including its trailing delimiter ("" when there is none).
std::string ExtractFilePath(const std::string& path);
/// Name part of a path (after the last delimiter).
std::string ExtractFileName(const std::string& path);
/// Extension of the name part including its dot ("" when the name has none).
std::string ExtractFileExt(const std::string& path);
/// The path with the extension of its name replaced (or appended when it has none).
std::string ChangeFileExt(const std::string& path, const std::string& extension);
/// Appends the delimiter unless the path already ends in one (or is empty).
std::string IncludeTrailingPathDelimiter(const std::string& path);
/// An absolute, lexically normalised path; the file need not exist.
std::string ExpandFileName(const std::string& path);

/// A hidden name in the target's folder that no other writer of this process or another
/// one picks: where a file is written whole before it is renamed to the target.
std::string TemporaryBeside(const std::string& target);

/// The file a write to `path` replaces: a symbolic link's target (so that the link is
/// written through, not replaced), else the path itself. Throws std::runtime_error, naming
/// it, when something other than a regular file is there (a device, a folder, a FIFO).
std::string ReplaceableTarget(const std::string& path);

/// Writes `target` whole or not at all: `write` writes the file it is given, a temporary
/// one beside the target, which is synced and renamed over the target only when `write`
/// returns. When it throws (or the sync or the rename fails) the temporary file goes and
/// whatever was at the target stays as it was. The target is taken as ReplaceableTarget
/// takes it. With `replace` false a file at the target is never replaced, not even one
/// that another writer put there meanwhile: TFileExists is thrown instead.
void WriteWhole(const std::string& target, const std::function<void(const std::string&)>& write,
                bool replace = true);
/// A write that was not to replace the file found at its target.
class TFileExists : public std::runtime_error {
public:
    explicit TFileExists(const std::string& target)
        : std::runtime_error(target + " exists already"), Target(target) {}
    std::string Target; ///< as ReplaceableTarget resolved it
};
/// Removes the temporary files WriteWhole left beside `target` in processes that have
/// ended (killed while writing); those of running processes stay. Returns how many went.
int RemoveAbandonedTemporaries(const std::string& target);
/// WriteWhole of the bytes given: a reader sees the old file or the new one whole, even
/// after a crash. Throws std::runtime_error on failure (TFileExists, with `replace` false,
/// where a file is).
void ReplaceFileContents(const std::string& path, std::string_view bytes, bool replace = true);

/// True for an existing regular file (symbolic links followed).
bool FileExists(const std::string& path);
/// True for an existing folder.
bool DirectoryExists(const std::string& path);
/// True when two paths name the same folder: a trailing delimiter, "." and "..", and
/// symbolic links make no difference (folders that do not exist are compared by name).
bool SameFolder(const std::string& a, const std::string& b);

/// The path itself when it names an existing file; otherwise the entry of its folder
/// whose name equals its name ignoring ASCII case (the data files come from a system
/// whose names are case-insensitive); otherwise nullopt.
std::optional<std::string> FindFileIgnoringCase(const std::string& path);

/// Appends, for every entry of the mask's folder whose name matches the mask's name
/// part ("*" and "?", ASCII case ignored), the folder of the mask + the entry name.
/// Entries of any kind are listed ("." and ".." excepted), sorted by name ignoring
/// case so that runs are repeatable. A missing folder lists nothing.
void FindFiles(const std::string& mask, std::vector<std::string>& list);

} // namespace vantorel
