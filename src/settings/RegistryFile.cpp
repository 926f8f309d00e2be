// The registry editor's export format, read and written line by line.
//
// Follows the format as the registry editor writes it ("Windows Registry Editor Version
// 5.00", UTF-16 with a byte-order mark, CR LF, sections in brackets, "\\" and "\"" the
// only escapes in quoted text, hex lists continued with a trailing "\") and departs from
// it where a hand-edited file on this platform needs it:
// - UTF-8 files (with or without a byte-order mark) and LF or CR line endings are read
//   too, and a file keeps the encoding and line endings it was read with;
// - blanks around "=" and around a line are allowed;
// - a new file is UTF-8 with LF line endings, for editing by hand here;
// - text holding a line break is written as hex(1) bytes, since a quoted string cannot
//   span lines;
// - anything the editor would reject, or would import differently from what it shows,
//   is a problem: such a file is still read as far as it can be, but never rewritten.
#include "settings/RegistryFile.h"

#include "common/StringUtils.h"
#include "settings/Utf16.h"

#include <algorithm>
#include <stdexcept>

namespace vantorel {
namespace {

constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr char kHexDigits[] = "0123456789abcdef";
// The registry editor wraps hex lists before this column.
constexpr size_t kHexLineWidth = 80;

std::string Fold(std::string_view s) {
    return LowerCase(s);
}

bool HasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The key path without the delimiters at its ends; nullopt when a name in it is empty or
// holds a line break.
std::optional<std::string> NormaliseKeyPath(std::string_view path) {
    if (!path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
    }
    if (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return std::string();
    }
    if (HasLineBreakOrNul(path) || path.front() == '\\' || path.back() == '\\' ||
        path.find("\\\\") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(path);
}

std::string KeyPathOrThrow(std::string_view path) {
    auto normalised = NormaliseKeyPath(path);
    if (!normalised) {
        throw std::invalid_argument("registry key path with an empty name or a line break");
    }
    return *normalised;
}

// True when `ancestor` is `path` or one of its parents ("" is the root).
bool Covers(std::string_view ancestor, std::string_view path) {
    if (ancestor.empty() || ancestor == path) {
        return true;
    }
    return path.size() > ancestor.size() && path.substr(0, ancestor.size()) == ancestor &&
           path[ancestor.size()] == '\\';
}

std::optional<RegistryRoot> RootFromName(std::string_view name, bool& known) {
    known = true;
    if (SameText(name, "HKEY_CURRENT_USER")) {
        return RegistryRoot::CurrentUser;
    }
    if (SameText(name, "HKEY_LOCAL_MACHINE")) {
        return RegistryRoot::LocalMachine;
    }
    known = SameText(name, "HKEY_CLASSES_ROOT") || SameText(name, "HKEY_USERS") ||
            SameText(name, "HKEY_CURRENT_CONFIG");
    return std::nullopt;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits and nothing else.
std::optional<std::uint32_t> ParseHex32(std::string_view s) {
    if (s.empty() || s.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
}

// "41,00, 42,00": bytes of one or two hex digits separated by commas, blanks allowed.
std::optional<std::vector<std::uint8_t>> ParseHexList(std::string_view s) {
    std::vector<std::uint8_t> bytes;
    if (Trim(s).empty()) {
        return bytes;
    }
    size_t start = 0;
    while (true) {
        const size_t comma = s.find(',', start);
        const std::string field =
            Trim(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
        const auto v = field.size() <= 2 ? ParseHex32(field) : std::nullopt;
        if (!v) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*v));
        if (comma == std::string_view::npos) {
            return bytes;
        }
        start = comma + 1;
    }
}

// Quoted text starting at s[pos] == '"'; on success pos is just past the closing quote.
std::optional<std::string> ParseQuoted(std::string_view s, size_t& pos) {
    std::string out;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
                return std::nullopt;
            }
            out += s[++i];
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// The text after the "=" that follows a value's name ("" when there is none).
std::string DataAfterName(std::string_view line) {
    size_t pos = 1; // after "@"
    if (line.starts_with('"')) {
        pos = 0;
        if (!ParseQuoted(line, pos)) {
            return {};
        }
    }
    const std::string rest = TrimLeft(line.substr(pos));
    return rest.starts_with('=') ? TrimLeft(std::string_view(rest).substr(1)) : std::string();
}

// Splits text into lines, each with the ending it had.
std::vector<std::string> SplitKeepingEndings(std::string_view text,
                                             std::vector<std::string>& eols) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            eols.emplace_back();
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        const size_t length =
            text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        eols.emplace_back(text.substr(end, length));
        start = end + length;
    }
    return lines;
}

} // namespace

TRegistryFile::TRegistryFile(RegistryRoot root) : root_(root) {}

void TRegistryFile::Problem(std::size_t line, std::string message) {
    problems_.push_back({line, std::move(message), {}});
}

void TRegistryFile::FillProblemTexts() {
    std::map<std::size_t, const std::string*> wanted;
    for (const RegistryFileProblem& problem : problems_) {
        wanted[problem.line] = nullptr;
    }
    std::size_t number = 0;
    for (const Item& item : items_) {
        for (const Line& line : item.lines) {
            if (const auto it = wanted.find(++number); it != wanted.end()) {
                it->second = &line.text;
            }
        }
    }
    for (RegistryFileProblem& problem : problems_) {
        if (const std::string* text = wanted[problem.line]) {
            problem.text = *text;
        }
    }
}

TRegistryFile TRegistryFile::Parse(std::string_view bytes, RegistryRoot root) {
    TRegistryFile file(root);
    std::string text;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        file.encoding_ = Encoding::Utf8Bom;
        text = bytes.substr(3);
    } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        const bool little = bytes[0] == '\xFF';
        file.encoding_ = little ? Encoding::Utf16Le : Encoding::Utf16Be;
        auto decoded =
            Utf16ToUtf8(bytes.substr(2), little ? ByteOrder::LittleEndian : ByteOrder::BigEndian,
                        /*strict=*/true);
        if (!decoded) {
            file.Problem(1, "the file is not valid UTF-16");
            return file;
        }
        text = std::move(*decoded);
    } else {
        text = bytes;
    }
    std::vector<std::string> eols;
    std::vector<std::string> texts = SplitKeepingEndings(text, eols);
    std::vector<Line> lines;
    lines.reserve(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        lines.push_back({std::move(texts[i]), std::move(eols[i])});
    }
    const bool utf16 = file.encoding_ == Encoding::Utf16Le || file.encoding_ == Encoding::Utf16Be;
    file.newline_ = utf16 ? "\r\n" : "\n";
    for (const Line& line : lines) {
        if (!line.eol.empty()) {
            file.newline_ = line.eol;
            break;
        }
    }
    file.ParseLines(std::move(lines));
    file.FillProblemTexts();
    file.Analyse();
    return file;
}

void TRegistryFile::ParseLines(std::vector<Line> lines) {
    const bool blank = std::all_of(lines.begin(), lines.end(), [](const Line& l) {
        return Trim(l.text).empty() && l.text.find('\0') == std::string::npos;
    });
    if (blank) {
        for (Line& line : lines) {
            items_.push_back(Item::Of(ItemKind::Blank, {std::move(line)}));
        }
        return;
    }
    const std::string first = TrimRight(lines[0].text);
    if ((first != kRegistryFileHeader && first != kOldHeader) ||
        lines[0].text.find('\0') != std::string::npos) {
        Problem(1, "not a registry file: the first line must be \"" +
                       std::string(kRegistryFileHeader) + "\"");
        items_.push_back(Item::Of(ItemKind::Invalid, std::move(lines)));
        return;
    }
    hasHeader_ = true;
    items_.push_back(Item::Of(ItemKind::Header, {std::move(lines[0])}));

    bool inSection = false; // a section header has been read (valid or not)
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t number = i + 1;
        const std::string t = Trim(lines[i].text);
        if (lines[i].text.find('\0') != std::string::npos) {
            Problem(number, "NUL character in the line");
            items_.push_back(Item::Of(ItemKind::Invalid, {std::move(lines[i])}));
        } else if (t.empty()) {
            items_.push_back(Item::Of(ItemKind::Blank, {std::move(lines[i])}));
        } else if (t[0] == ';') {
            items_.push_back(Item::Of(ItemKind::Comment, {std::move(lines[i])}));
        } else if (t[0] == '[') {
            inSection = true;
            items_.push_back(ParseSection(lines[i], number));
        } else if (t[0] == '"' || t[0] == '@') {
            // Hex lists go on over lines that end in "\".
            std::vector<Line> group{std::move(lines[i])};
            const bool hex = FindText(DataAfterName(t), "hex") == 0;
            while (hex && TrimRight(group.back().text).ends_with('\\') && i + 1 < lines.size()) {
                group.push_back(std::move(lines[++i]));
            }
            Item item = ParseValue(std::move(group), number);
            if (!inSection && item.kind == ItemKind::Value) {
                Problem(number, "value before the first key");
                item.kind = ItemKind::Invalid;
            }
            items_.push_back(std::move(item));
        } else {
            Problem(number, "not a key, a value or a comment");
            items_.push_back(Item::Of(ItemKind::Invalid, {std::move(lines[i])}));
        }
    }
}

TRegistryFile::Item TRegistryFile::ParseSection(const Line& line, std::size_t number) {
    Item item = Item::Of(ItemKind::BrokenSection, {line});
    const std::string t = Trim(line.text);
    if (t.size() < 2 || t.back() != ']') {
        Problem(number, "key without its closing \"]\"");
        return item;
    }
    std::string_view inner = std::string_view(t).substr(1, t.size() - 2);
    if (inner.starts_with('-')) {
        item.deletion = true;
        inner.remove_prefix(1);
    }
    const size_t slash = inner.find('\\');
    bool known = false;
    const auto root = RootFromName(inner.substr(0, slash), known);
    if (!known) {
        Problem(number, "unknown root key \"" + std::string(inner.substr(0, slash)) + "\"");
        return item;
    }
    const std::string_view rest =
        slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
    if (slash != std::string_view::npos &&
        (rest.empty() || !NormaliseKeyPath(rest) || rest.front() == '\\' || rest.back() == '\\')) {
        Problem(number, "key path with an empty name");
        return item;
    }
    item.kind = ItemKind::Section;
    item.ownRoot = root == root_;
    item.folded = Fold(rest);
    return item;
}

TRegistryFile::Item TRegistryFile::ParseValue(std::vector<Line> lines, std::size_t number) {
    Item item = Item::Of(ItemKind::Invalid, std::move(lines));
    std::string text = Trim(item.lines[0].text);
    for (size_t i = 1; i < item.lines.size(); ++i) {
        text.pop_back(); // the "\" that continued the line before
        text = TrimRight(text) + Trim(item.lines[i].text);
    }
    const auto fail = [&](std::string message) {
        Problem(number, std::move(message));
        return std::move(item);
    };
    for (const Line& line : item.lines) {
        if (line.text.find('\0') != std::string::npos) {
            return fail("NUL character in the line");
        }
    }

    size_t pos = 0;
    if (text[0] == '@') {
        pos = 1;
    } else {
        auto name = ParseQuoted(text, pos);
        if (!name) {
            return fail("value name without its closing quote, or with an escape other than "
                        "\\\\ and \\\"");
        }
        item.name = std::move(*name);
    }
    const std::string afterName = TrimLeft(std::string_view(text).substr(pos));
    if (!afterName.starts_with('=')) {
        return fail("\"=\" missing after the value name");
    }
    const std::string data = Trim(std::string_view(afterName).substr(1));
    item.folded = Fold(item.name);

    RegistryValue value;
    if (data == "-") {
        item.deletion = true;
    } else if (data.starts_with('"')) {
        size_t end = 0;
        auto s = ParseQuoted(data, end);
        if (!s || end != data.size()) {
            return fail("text without its closing quote, with an escape other than \\\\ and "
                        "\\\", or followed by more");
        }
        value.type = RegistryDataType::String;
        value.text = std::move(*s);
    } else if (FindText(data, "dword:") == 0) {
        const auto v = ParseHex32(std::string_view(data).substr(6));
        if (!v) {
            return fail("dword: must be followed by 1 to 8 hex digits");
        }
        value = RegistryValue::Dword(*v);
    } else if (FindText(data, "hex") == 0) {
        std::string_view rest = std::string_view(data).substr(3);
        value.type = RegistryDataType::Binary;
        if (rest.starts_with('(')) {
            const size_t close = rest.find(')');
            const auto type =
                close == rest.npos ? std::nullopt : ParseHex32(rest.substr(1, close - 1));
            if (!type) {
                return fail("hex( must hold a type number in hex digits and end with )");
            }
            value.type = static_cast<RegistryDataType>(*type);
            rest.remove_prefix(close + 1);
        }
        if (!rest.starts_with(':')) {
            return fail("\":\" missing after hex");
        }
        auto bytes = ParseHexList(rest.substr(1));
        if (!bytes) {
            return fail("hex list must be bytes of two hex digits separated by commas");
        }
        if (value.type == RegistryDataType::String ||
            value.type == RegistryDataType::ExpandString) {
            const std::string_view raw(reinterpret_cast<const char*>(bytes->data()), bytes->size());
            std::string s = *Utf16ToUtf8(raw, ByteOrder::LittleEndian, /*strict=*/false);
            value.text = s.substr(0, s.find('\0'));
        } else {
            value.data = std::move(*bytes);
        }
    } else {
        return fail("value data must be \"text\", dword:, hex: or -");
    }
    item.kind = ItemKind::Value;
    if (!item.deletion) {
        item.value = std::move(value);
    }
    return item;
}

void TRegistryFile::Analyse() {
    keys_.clear();
    const std::string* current = nullptr; // key of the section being read; null: none
    for (const Item& item : items_) {
        if (item.kind == ItemKind::Section || item.kind == ItemKind::BrokenSection) {
            current = nullptr;
        }
        if (item.kind == ItemKind::Section && item.ownRoot) {
            if (item.deletion) {
                std::erase_if(keys_, [&](const auto& k) { return Covers(item.folded, k.first); });
                continue;
            }
            // The key and every parent of it exist.
            for (size_t slash = item.folded.find('\\'); slash != std::string::npos;
                 slash = item.folded.find('\\', slash + 1)) {
                keys_.try_emplace(item.folded.substr(0, slash));
            }
            keys_.try_emplace(item.folded);
            current = &item.folded;
        } else if (item.kind == ItemKind::Value && current != nullptr) {
            auto& values = keys_[*current].values;
            if (item.deletion) {
                values.erase(item.folded);
            } else {
                values[item.folded] = {item.name, *item.value};
            }
        }
    }
}

bool TRegistryFile::KeyExists(std::string_view keyPath) const {
    const auto path = NormaliseKeyPath(keyPath);
    return path && (path->empty() || keys_.count(Fold(*path)) != 0);
}

std::optional<RegistryValue> TRegistryFile::Value(std::string_view keyPath,
                                                  std::string_view name) const {
    const auto path = NormaliseKeyPath(keyPath);
    if (!path) {
        return std::nullopt;
    }
    const auto key = keys_.find(Fold(*path));
    if (key == keys_.end()) {
        return std::nullopt;
    }
    const auto value = key->second.values.find(Fold(name));
    if (value == key->second.values.end()) {
        return std::nullopt;
    }
    return value->second.second;
}

std::vector<std::string> TRegistryFile::ValueNames(std::string_view keyPath) const {
    std::vector<std::string> names;
    const auto path = NormaliseKeyPath(keyPath);
    const auto key = path ? keys_.find(Fold(*path)) : keys_.end();
    if (key != keys_.end()) {
        for (const auto& [folded, value] : key->second.values) {
            names.push_back(value.first);
        }
    }
    return names;
}

void TRegistryFile::EnsureHeader() {
    if (hasHeader_) {
        return;
    }
    hasHeader_ = true;
    InsertItem(0, Item::Of(ItemKind::Blank, {{"", newline_}}));
    InsertItem(0, Item::Of(ItemKind::Header, {{std::string(kRegistryFileHeader), newline_}}));
}

void TRegistryFile::InsertItem(std::size_t position, Item item) {
    // The line before must end before the new one starts.
    if (position > 0 && items_[position - 1].lines.back().eol.empty()) {
        items_[position - 1].lines.back().eol = newline_;
    }
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(position), std::move(item));
}

void TRegistryFile::AppendSection(const std::string& keyPath) {
    EnsureHeader();
    if (items_.back().kind != ItemKind::Blank) {
        InsertItem(items_.size(), Item::Of(ItemKind::Blank, {{"", newline_}}));
    }
    std::string header = "[" + std::string(RootKeyName(root_));
    if (!keyPath.empty()) {
        header += "\\" + keyPath;
    }
    header += "]";
    Item section = Item::Of(ItemKind::Section, {{header, newline_}});
    section.folded = Fold(keyPath);
    section.ownRoot = true;
    InsertItem(items_.size(), std::move(section));
}

void TRegistryFile::CreateKey(std::string_view keyPath) {
    const std::string path = KeyPathOrThrow(keyPath);
    if (!KeyExists(path)) {
        AppendSection(path);
        Analyse();
    }
}

std::vector<TRegistryFile::Line> TRegistryFile::ValueLines(std::string_view name,
                                                           const RegistryValue& value) const {
    std::string head = (name.empty() ? std::string("@") : Quote(name)) + "=";
    std::vector<std::uint8_t> bytes = value.data;
    const bool text =
        value.type == RegistryDataType::String || value.type == RegistryDataType::ExpandString;
    if (value.type == RegistryDataType::String && !HasLineBreakOrNul(value.text)) {
        return {{head + Quote(value.text), newline_}};
    }
    if (value.AsInteger()) {
        const auto bits = static_cast<std::uint32_t>(*value.AsInteger());
        std::string hex(8, '0');
        for (int i = 0; i < 8; ++i) {
            hex[7 - i] = kHexDigits[(bits >> (4 * i)) & 0xF];
        }
        return {{head + "dword:" + hex, newline_}};
    }
    if (text) {
        // Stored as the registry holds it: UTF-16LE with a terminating NUL.
        const std::string utf16 =
            Utf8ToUtf16(std::string_view(value.text).substr(0, value.text.find('\0')),
                        ByteOrder::LittleEndian) +
            std::string(2, '\0');
        bytes.assign(utf16.begin(), utf16.end());
    }
    std::string current = head;
    if (value.type == RegistryDataType::Binary) {
        current += "hex:";
    } else {
        std::string type;
        for (auto t = static_cast<std::uint32_t>(value.type); t != 0 || type.empty(); t >>= 4) {
            type.insert(type.begin(), kHexDigits[t & 0xF]);
        }
        current += "hex(" + type + "):";
    }
    std::vector<Line> lines;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::string piece{kHexDigits[bytes[i] >> 4], kHexDigits[bytes[i] & 0xF]};
        if (i + 1 < bytes.size()) {
            piece += ',';
        }
        if (current.ends_with(',') && current.size() + piece.size() + 1 > kHexLineWidth - 2) {
            lines.push_back({current + "\\", newline_});
            current = "  ";
        }
        current += piece;
    }
    lines.push_back({current, newline_});
    return lines;
}

void TRegistryFile::SetValue(std::string_view keyPath, std::string_view name,
                             const RegistryValue& value) {
    const std::string path = KeyPathOrThrow(keyPath);
    if (HasLineBreakOrNul(name)) {
        throw std::invalid_argument("registry value name with a line break");
    }
    const std::string foldedPath = Fold(path);
    const std::string foldedName = Fold(name);
    // An existing value keeps the spelling of its name, as in the registry.
    std::string spelled(name);
    if (const auto key = keys_.find(foldedPath); key != keys_.end()) {
        if (const auto v = key->second.values.find(foldedName); v != key->second.values.end()) {
            spelled = v->second.first;
        }
    }
    Item item = Item::Of(ItemKind::Value, ValueLines(spelled, value));
    item.folded = foldedName;
    item.value = value;
    item.name = spelled;

    // The last section of the key that no later deletion undoes.
    std::optional<size_t> section;
    for (size_t i = items_.size(); i-- > 0;) {
        const Item& it = items_[i];
        if (it.kind != ItemKind::Section || !it.ownRoot) {
            continue;
        }
        if (it.deletion && Covers(it.folded, foldedPath)) {
            break;
        }
        if (!it.deletion && it.folded == foldedPath) {
            section = i;
            break;
        }
    }
    if (!section) {
        AppendSection(path);
        InsertItem(items_.size(), std::move(item));
        Analyse();
        return;
    }
    size_t end = *section + 1;
    while (end < items_.size() && items_[end].kind != ItemKind::Section &&
           items_[end].kind != ItemKind::BrokenSection) {
        ++end;
    }
    size_t insertAt = *section + 1;
    for (size_t i = end; i-- > *section + 1;) {
        Item& it = items_[i];
        if (it.kind != ItemKind::Value) {
            continue;
        }
        if (it.folded == foldedName) {
            // Replace in place; the last line keeps the ending it had.
            item.lines.back().eol = it.lines.back().eol;
            it = std::move(item);
            Analyse();
            return;
        }
        insertAt = std::max(insertAt, i + 1);
    }
    InsertItem(insertAt, std::move(item));
    Analyse();
}

std::string TRegistryFile::Bytes() const {
    std::string text;
    for (const Item& item : items_) {
        for (const Line& line : item.lines) {
            text += line.text;
            text += line.eol;
        }
    }
    switch (encoding_) {
    case Encoding::Utf8:
        return text;
    case Encoding::Utf8Bom:
        return "\xEF\xBB\xBF" + text;
    case Encoding::Utf16Le:
        return "\xFF\xFE" + Utf8ToUtf16(text, ByteOrder::LittleEndian);
    case Encoding::Utf16Be:
        return "\xFE\xFF" + Utf8ToUtf16(text, ByteOrder::BigEndian);
    }
    return text;
}

} // namespace vantorel
