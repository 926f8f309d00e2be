#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// Splits text into lines at CR LF, LF or a lone CR. A final line break does not add an
/// empty line; a UTF-8 byte-order mark at the start is dropped.
std::vector<std::string> SplitLines(std::string_view text);

/// The whole content of a file, or nullopt when it is missing or cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path);

/// The lines of a text file (see SplitLines), or nullopt when it is missing or cannot be
/// read. Never throws for a file-system reason.
std::optional<std::vector<std::string>> ReadTextLines(const std::string& path);

} // namespace vantorel
