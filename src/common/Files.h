#pragma once

#include <optional>
#include <string>
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
