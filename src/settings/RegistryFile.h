#pragma once

// One registry root kept as a text file in the registry editor's export format:
//
//     Windows Registry Editor Version 5.00
//
//     [HKEY_CURRENT_USER\Software\Corvane\vantorel]
//     "KeplerPath"="C:\\Keps"
//     "LineThickness"=dword:00000001
//
// The file is read as a list of operations, the way the registry editor imports it:
// sections name a key (creating it and its parents), "[-key]" deletes a key with
// everything below it, "Name"=- deletes a value, and a later line wins over an earlier
// one. Every line is kept exactly as it was read (its text, its line ending, the file's
// encoding and byte-order mark), so that a change rewrites only the lines of the value
// changed and leaves the rest of the file byte for byte as it was.

#include "settings/RegistryValue.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// A line of a registry file that could not be read.
struct RegistryFileProblem {
    std::size_t line = 0; ///< line number, from 1
    std::string message;  ///< what is wrong with it
    std::string text;     ///< the line as it stands (UTF-8; "" when it could not be decoded)

    bool operator==(const RegistryFileProblem&) const = default;
};

/// The first line of the files this program writes.
inline constexpr std::string_view kRegistryFileHeader = "Windows Registry Editor Version 5.00";

/// The content of one registry file. Key paths are relative to the file's root, their
/// names separated by "\" ("Software\Corvane\vantorel"; a leading "\" is allowed); key
/// and value names are compared ignoring ASCII letter case, as the registry does. The
/// value name "" is the key's default value ("@" in the file).
class TRegistryFile {
public:
    /// An empty registry of the given root, as when there is no file yet.
    explicit TRegistryFile(RegistryRoot root);

    /// Reads the bytes of a registry file of the given root: UTF-8 (with or without a
    /// byte-order mark) or UTF-16 with a byte-order mark, any line endings, first line
    /// "Windows Registry Editor Version 5.00" or "REGEDIT4". Never fails: every line that
    /// cannot be read is listed in Problems() and contributes nothing, and the values
    /// under a section header that cannot be read are left out too. Sections of other
    /// roots are kept but contribute nothing. An empty file is an empty registry.
    static TRegistryFile Parse(std::string_view bytes, RegistryRoot root);

    RegistryRoot Root() const { return root_; }

    /// The lines that could not be read. A file with problems must not be written back:
    /// the user's text would be lost.
    const std::vector<RegistryFileProblem>& Problems() const { return problems_; }

    /// True when the file was refused as a whole (not a registry file, or text that
    /// cannot be decoded): none of its values is read.
    bool Unreadable() const { return !problems_.empty() && !hasHeader_; }

    /// True when the key exists (named by a section, or a parent of one). The root
    /// ("" or "\") always exists. False for a path that cannot name a key.
    bool KeyExists(std::string_view keyPath) const;

    /// The value, or nullopt when the key or the value does not exist.
    std::optional<RegistryValue> Value(std::string_view keyPath, std::string_view name) const;

    /// The names of the values of a key, as spelled in the file, in the order of
    /// their names ignoring case; empty when the key does not exist.
    std::vector<std::string> ValueNames(std::string_view keyPath) const;

    /// Creates the key (a section of its own at the end of the file) unless it exists.
    /// Throws std::invalid_argument for a path with an empty name or a line break.
    void CreateKey(std::string_view keyPath);

    /// Sets a value, creating its key when missing. The value's lines replace those
    /// that give it its current content when there are such; otherwise they go at the
    /// end of the key's last section, or into a new section at the end of the file.
    /// Strings holding a line break are written as hex(1) bytes. Throws
    /// std::invalid_argument for a bad key path or a value name with a line break.
    void SetValue(std::string_view keyPath, std::string_view name, const RegistryValue& value);

    /// The file's bytes: exactly those read when nothing was changed.
    std::string Bytes() const;

private:
    enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be };
    enum class ItemKind { Header, Blank, Comment, Section, BrokenSection, Value, Invalid };

    struct Line {
        std::string text; ///< the line without its ending, as UTF-8
        std::string eol;  ///< "\r\n", "\n", "\r", or "" for a last line without one
    };

    // One element of the file: a single line, or a value with its continuation lines.
    struct Item {
        ItemKind kind = ItemKind::Invalid;
        std::vector<Line> lines;
        std::string folded;    ///< Section: key path in lower case; Value: name in lower case
        bool deletion = false; ///< "[-key]" or "Name"=-
        bool ownRoot = false;  ///< Section: of this file's root
        std::optional<RegistryValue> value; ///< Value: the content (not for deletions)
        std::string name;                   ///< Value: the name as spelled

        static Item Of(ItemKind kind, std::vector<Line> lines) {
            Item item;
            item.kind = kind;
            item.lines = std::move(lines);
            return item;
        }
    };

    struct KeyState {
        /// folded name -> (name as spelled, value)
        std::map<std::string, std::pair<std::string, RegistryValue>> values;
    };

    void ParseLines(std::vector<Line> lines);
    Item ParseSection(const Line& line, std::size_t lineNumber);
    Item ParseValue(std::vector<Line> lines, std::size_t lineNumber);
    void Analyse();
    void EnsureHeader();
    void InsertItem(std::size_t position, Item item);
    void AppendSection(const std::string& keyPath);
    std::vector<Line> ValueLines(std::string_view name, const RegistryValue& value) const;
    void Problem(std::size_t line, std::string message);
    void FillProblemTexts();

    RegistryRoot root_;
    Encoding encoding_ = Encoding::Utf8;
    std::string newline_ = "\n";
    bool hasHeader_ = false;
    std::vector<Item> items_;
    std::vector<RegistryFileProblem> problems_;
    std::map<std::string, KeyState> keys_; ///< folded key path -> its values
};

} // namespace vantorel
