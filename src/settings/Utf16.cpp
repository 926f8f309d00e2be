#include "settings/Utf16.h"

namespace vantorel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUnit(std::string& out, char16_t unit, ByteOrder order) {
    const char lo = static_cast<char>(unit & 0xFF);
    const char hi = static_cast<char>(unit >> 8);
    if (order == ByteOrder::LittleEndian) {
        out += lo;
        out += hi;
    } else {
        out += hi;
        out += lo;
    }
}

// The next code point of UTF-8 text at pos, advancing pos; U+FFFD for a malformed,
// overlong or surrogate sequence (one byte consumed).
char32_t NextCodePoint(std::string_view s, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, c = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, c = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, c = b0 & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + length > s.size()) {
        ++pos;
        return kReplacement;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        c = (c << 6) | (byte(pos + i) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += length;
    return c;
}

} // namespace

std::optional<std::string> Utf16ToUtf8(std::string_view bytes, ByteOrder order, bool strict) {
    if (strict && bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    const size_t units = bytes.size() / 2;
    const auto unit = [&](size_t i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return order == ByteOrder::LittleEndian ? static_cast<char16_t>(a | (b << 8))
                                                : static_cast<char16_t>((a << 8) | b);
    };
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            const char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                               (static_cast<char32_t>(unit(i + 1)) - 0xDC00);
            AppendUtf8(out, c);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if (strict) {
                return std::nullopt;
            }
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    if (bytes.size() % 2 != 0) {
        AppendUtf8(out, kReplacement);
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view text, ByteOrder order) {
    std::string out;
    out.reserve(text.size() * 2);
    size_t pos = 0;
    while (pos < text.size()) {
        const char32_t c = NextCodePoint(text, pos);
        if (c < 0x10000) {
            AppendUnit(out, static_cast<char16_t>(c), order);
        } else {
            const char32_t v = c - 0x10000;
            AppendUnit(out, static_cast<char16_t>(0xD800 + (v >> 10)), order);
            AppendUnit(out, static_cast<char16_t>(0xDC00 + (v & 0x3FF)), order);
        }
    }
    return out;
}

} // namespace vantorel
