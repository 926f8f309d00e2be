#include "common/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace vantorel {

std::vector<std::string> SplitLines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.emplace_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    while (true) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        content.append(buffer, got);
        if (got < sizeof buffer) {
            break;
        }
    }
    // A folder opens on Linux but fails to read: report it as unreadable.
    if (std::ferror(file.get())) {
        return std::nullopt;
    }
    return content;
}

std::optional<std::vector<std::string>> ReadTextLines(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    if (!bytes) {
        return std::nullopt;
    }
    return SplitLines(*bytes);
}

} // namespace vantorel
