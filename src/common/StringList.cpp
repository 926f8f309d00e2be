#include "common/StringList.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"

namespace vantorel {

void TStringList::Add(std::string line) {
    lines_.push_back(std::move(line));
    if (OnAdd) {
        OnAdd(lines_.back());
    }
}

void TStringList::Clear() {
    lines_.clear();
    if (OnReset) {
        OnReset();
    }
}

void TStringList::SetDelimitedText(std::string_view text, char delimiter, char quote) {
    lines_ = SplitDelimited(text, delimiter, quote);
    if (OnReset) {
        OnReset();
    }
}

bool TStringList::LoadFromFile(const std::string& path) {
    auto lines = ReadTextLines(path);
    lines_ = lines ? std::move(*lines) : std::vector<std::string>{};
    if (OnReset) {
        OnReset();
    }
    return lines.has_value();
}

std::string TStringList::Text(std::string_view lineBreak) const {
    std::string r;
    for (const std::string& line : lines_) {
        r.append(line).append(lineBreak);
    }
    return r;
}

} // namespace vantorel
