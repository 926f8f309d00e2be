#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// Removes blanks and control characters (every byte up to and including ' ') at both
/// ends, at the start only, or at the end only.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

/// ASCII letter case; other bytes (UTF-8 sequences included) are left as they are.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);

/// Index of the first occurrence of needle, ignoring ASCII case; npos when absent.
size_t FindText(std::string_view haystack, std::string_view needle);
bool ContainsText(std::string_view haystack, std::string_view needle);

/// Replaces the first occurrence of `from` (exact case unless ignoreCase).
std::string ReplaceFirst(std::string_view s, std::string_view from, std::string_view to,
                         bool ignoreCase = false);
/// Replaces every occurrence of `from`, left to right, without rescanning replacements.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

/// A decimal integer: leading blanks, an optional sign, digits and nothing after them.
/// nullopt for anything else or a value outside int.
std::optional<int> ParseInteger(std::string_view s);

/// A real number with "." as decimal separator whatever the locale: blanks around it,
/// an optional sign, digits with at most one ".", an optional exponent. No "inf" or
/// "nan"; nullopt for anything else or a value outside double.
std::optional<double> ParseReal(std::string_view s);

/// Wildcard match of a whole name: "*" any run of characters, "?" exactly one.
bool MatchesMask(std::string_view name, std::string_view mask, bool ignoreCase = true);

/// Splits delimited text with the rules of a string list's delimited text: leading
/// blanks and control characters are skipped; a field starting with the quote
/// character runs to the closing quote (two quotes inside stand for one); any other
/// field runs up to a delimiter, a blank or a control character; blanks and control
/// characters also separate fields; two delimiters in a row give an empty field and a
/// delimiter at the very end gives a final empty field. A NUL byte ends the text.
std::vector<std::string> SplitDelimited(std::string_view text, char delimiter, char quote = '"');

} // namespace vantorel
