#include "common/StringUtils.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace vantorel {
namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

char ToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char ToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) {
        ++b;
    }
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) {
        --e;
    }
    return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), ToUpper);
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    std::transform(r.begin(), r.end(), r.begin(), ToLower);
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ToUpper(x) == ToUpper(y);
           });
}

size_t FindText(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) {
        return std::string_view::npos;
    }
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (SameText(haystack.substr(i, needle.size()), needle)) {
            return i;
        }
    }
    return std::string_view::npos;
}

bool ContainsText(std::string_view haystack, std::string_view needle) {
    return FindText(haystack, needle) != std::string_view::npos;
}

std::string ReplaceFirst(std::string_view s, std::string_view from, std::string_view to,
                         bool ignoreCase) {
    if (from.empty()) {
        return std::string(s);
    }
    const size_t pos = ignoreCase ? FindText(s, from) : s.find(from);
    if (pos == std::string_view::npos) {
        return std::string(s);
    }
    std::string r;
    r.reserve(s.size() + to.size());
    r.append(s.substr(0, pos)).append(to).append(s.substr(pos + from.size()));
    return r;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(s);
    }
    std::string r;
    r.reserve(s.size());
    size_t pos = 0;
    while (true) {
        const size_t hit = s.find(from, pos);
        if (hit == std::string_view::npos) {
            r.append(s.substr(pos));
            return r;
        }
        r.append(s.substr(pos, hit - pos)).append(to);
        pos = hit + from.size();
    }
}

std::optional<int> ParseInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i >= s.size()) {
        return std::nullopt;
    }
    long long value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (s[i] - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::optional<double> ParseReal(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsBlank(s[b])) {
        ++b;
    }
    while (e > b && IsBlank(s[e - 1])) {
        --e;
    }
    std::string_view t = s.substr(b, e - b);
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    // Shape check first: from_chars alone would accept "inf", "nan" and hex digits.
    size_t i = 0;
    size_t mantissaDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        ++i;
        ++mantissaDigits;
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return std::nullopt;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            ++i;
        }
        size_t expDigits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0) {
            return std::nullopt;
        }
    }
    if (i != t.size()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), value);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

bool MatchesMask(std::string_view name, std::string_view mask, bool ignoreCase) {
    // Iterative glob with single-star backtracking: linear in practice, never exponential.
    size_t n = 0;
    size_t m = 0;
    size_t starM = std::string_view::npos;
    size_t starN = 0;
    auto same = [ignoreCase](char a, char b) {
        return ignoreCase ? ToUpper(a) == ToUpper(b) : a == b;
    };
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || (mask[m] != '*' && same(mask[m], name[n])))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

std::vector<std::string> SplitDelimited(std::string_view text, char delimiter, char quote) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    std::vector<std::string> fields;
    size_t p = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (p < n && IsBlank(text[p])) {
            ++p;
        }
    };
    skipBlanks();
    while (p < n) {
        std::string field;
        if (text[p] == quote) {
            ++p;
            while (p < n) {
                if (text[p] == quote) {
                    if (p + 1 < n && text[p + 1] == quote) {
                        field += quote;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                field += text[p++];
            }
        } else {
            const size_t start = p;
            while (p < n && !IsBlank(text[p]) && text[p] != delimiter) {
                ++p;
            }
            field.assign(text.substr(start, p - start));
        }
        fields.push_back(std::move(field));
        skipBlanks();
        if (p < n && text[p] == delimiter) {
            if (p + 1 == n) {
                fields.emplace_back();
            }
            ++p;
            skipBlanks();
        }
    }
    return fields;
}

} // namespace vantorel
