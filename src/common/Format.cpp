// Locale-free printf subset. Numbers are converted with std::to_chars, which is
// specified to behave as printf in the "C" locale, so "." is always the separator.
#include "common/Format.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace vantorel {
namespace {

struct Conversion {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    int width = 0;
    int precision = -1;
    char type = 0;
};

[[noreturn]] void Fail(std::string_view format, const char* why) {
    throw std::invalid_argument(std::string("Format '") + std::string(format) + "': " + why);
}

// Pads a converted field; with the zero flag the zeros go after any sign.
std::string Pad(std::string body, const Conversion& conversion, bool numeric) {
    if (static_cast<int>(body.size()) >= conversion.width) {
        return body;
    }
    const size_t fill = static_cast<size_t>(conversion.width) - body.size();
    if (conversion.left) {
        return body + std::string(fill, ' ');
    }
    if (conversion.zero && numeric) {
        const size_t signLen =
            (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
        body.insert(signLen, fill, '0');
        return body;
    }
    return std::string(fill, ' ') + body;
}

std::string SignPrefix(bool negative, const Conversion& conversion) {
    if (negative) {
        return "-";
    }
    if (conversion.plus) {
        return "+";
    }
    if (conversion.space) {
        return " ";
    }
    return "";
}

std::string FormatInteger(bool negative, unsigned long long magnitude,
                          const Conversion& conversion) {
    char buf[72];
    const int base = (conversion.type == 'x' || conversion.type == 'X') ? 16 : 10;
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude, base);
    std::string digits(buf, res.ptr);
    if (conversion.type == 'X') {
        for (char& c : digits) {
            if (c >= 'a' && c <= 'f') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
    }
    if (conversion.precision >= 0 && static_cast<int>(digits.size()) < conversion.precision) {
        digits.insert(0, static_cast<size_t>(conversion.precision) - digits.size(), '0');
    }
    Conversion padSpec = conversion;
    if (conversion.precision >= 0) {
        padSpec.zero = false; // as in C: a precision disables zero padding
    }
    return Pad(SignPrefix(negative, conversion) + digits, padSpec, true);
}

std::string FormatReal(double v, const Conversion& conversion) {
    std::chars_format fmt = std::chars_format::fixed;
    int precision = conversion.precision;
    switch (conversion.type) {
    case 'f':
        precision = precision < 0 ? 2 : precision;
        break;
    case 'e':
    case 'E':
        fmt = std::chars_format::scientific;
        precision = precision < 0 ? 6 : precision;
        break;
    default: // g, G
        fmt = std::chars_format::general;
        precision = precision < 0 ? 6 : precision;
        break;
    }
    const bool negative = std::signbit(v) && !std::isnan(v);
    const double magnitude = std::fabs(v);
    std::string body;
    if (!std::isfinite(magnitude)) {
        body = std::isnan(magnitude) ? "nan" : "inf";
    } else {
        char buf[400];
        auto res = std::to_chars(buf, buf + sizeof buf, magnitude, fmt, precision);
        if (res.ec != std::errc()) {
            return "?";
        }
        body.assign(buf, res.ptr);
    }
    if (conversion.type == 'E' || conversion.type == 'G') {
        for (char& c : body) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
    }
    // A value that rounds to zero keeps its sign in C ("-0.00"); so do we.
    return Pad(SignPrefix(negative, conversion) + body, conversion, std::isfinite(magnitude));
}

} // namespace

std::string FormatV(std::string_view format, std::span<const FormatArg> args) {
    std::string out;
    out.reserve(format.size() + 16);
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        ++i;
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        Conversion conversion;
        for (; i < format.size(); ++i) {
            const char f = format[i];
            if (f == '-') {
                conversion.left = true;
            } else if (f == '0') {
                conversion.zero = true;
            } else if (f == '+') {
                conversion.plus = true;
            } else if (f == ' ') {
                conversion.space = true;
            } else {
                break;
            }
        }
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            conversion.width = conversion.width * 10 + (format[i] - '0');
            if (conversion.width > 1000) {
                Fail(format, "width too large");
            }
            ++i;
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            conversion.precision = 0;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                conversion.precision = conversion.precision * 10 + (format[i] - '0');
                if (conversion.precision > 300) {
                    Fail(format, "precision too large");
                }
                ++i;
            }
        }
        if (i >= format.size()) {
            Fail(format, "incomplete conversion");
        }
        conversion.type = format[i++];
        if (next >= args.size()) {
            Fail(format, "missing argument");
        }
        const FormatArg::Value& arg = args[next++].value();
        switch (conversion.type) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
            if (const auto* s = std::get_if<long long>(&arg)) {
                const bool negative = *s < 0;
                const unsigned long long magnitude =
                    negative ? 0ULL - static_cast<unsigned long long>(*s)
                             : static_cast<unsigned long long>(*s);
                out += FormatInteger(negative, magnitude, conversion);
            } else if (const auto* u = std::get_if<unsigned long long>(&arg)) {
                out += FormatInteger(false, *u, conversion);
            } else {
                Fail(format, "integer conversion given a non-integer");
            }
            break;
        case 'f':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            if (const auto* d = std::get_if<double>(&arg)) {
                out += FormatReal(*d, conversion);
            } else if (const auto* s = std::get_if<long long>(&arg)) {
                out += FormatReal(static_cast<double>(*s), conversion);
            } else if (const auto* u = std::get_if<unsigned long long>(&arg)) {
                out += FormatReal(static_cast<double>(*u), conversion);
            } else {
                Fail(format, "real conversion given text");
            }
            break;
        case 's': {
            std::string text;
            if (const auto* sv = std::get_if<std::string_view>(&arg)) {
                text.assign(*sv);
            } else {
                Fail(format, "text conversion given a number");
            }
            if (conversion.precision >= 0 && static_cast<int>(text.size()) > conversion.precision) {
                text.resize(static_cast<size_t>(conversion.precision));
            }
            out += Pad(std::move(text), conversion, false);
            break;
        }
        default:
            Fail(format, "unknown conversion");
        }
    }
    return out;
}

} // namespace vantorel
