#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// An ordered list of lines: the diagnostics page, the lines of Stations.dat. Lines are
/// appended whole and kept in order.
class TStringList {
public:
    TStringList() = default;
    explicit TStringList(std::vector<std::string> lines) : lines_(std::move(lines)) {}

    void Add(std::string line);
    void Clear();
    /// Replaces the content with the fields of delimited text (see SplitDelimited).
    void SetDelimitedText(std::string_view text, char delimiter, char quote = '"');
    /// Replaces the content with the lines of a text file; false (content emptied) when
    /// the file is missing or unreadable.
    bool LoadFromFile(const std::string& path);

    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }
    const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Lines() const { return lines_; }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }
    /// The lines joined with the given line break.
    std::string Text(std::string_view lineBreak = "\n") const;

    /// Called after each Add with the new line (live echo of the diagnostics).
    std::function<void(const std::string&)> OnAdd;
    /// Called after the list has been emptied or replaced.
    std::function<void()> OnReset;

private:
    std::vector<std::string> lines_;
};

} // namespace vantorel
