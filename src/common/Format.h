#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace vantorel {

/// One argument of Format: an integer, a real number or text.
class FormatArg {
public:
    template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
        FormatArg(T v) { // NOLINT(google-explicit-constructor)
        if constexpr (std::is_signed_v<T>) {
            value_ = static_cast<long long>(v);
        } else {
            value_ = static_cast<unsigned long long>(v);
        }
    }
    FormatArg(double v) : value_(v) {}                        // NOLINT(google-explicit-constructor)
    FormatArg(float v) : value_(static_cast<double>(v)) {}    // NOLINT(google-explicit-constructor)
    FormatArg(const char* s) : value_(std::string_view(s)) {} // NOLINT
    FormatArg(const std::string& s) : value_(std::string_view(s)) {} // NOLINT
    FormatArg(std::string_view s) : value_(s) {} // NOLINT(google-explicit-constructor)

    using Value = std::variant<long long, unsigned long long, double, std::string_view>;
    const Value& value() const { return value_; }

private:
    Value value_;
};

/// printf-style formatting that never depends on the process locale: the decimal
/// separator is always ".". Conversions: d i u x X (integers), f e E g G (reals; "%f"
/// without a precision prints two decimals, e and g follow C), s (text), %% ; flags
/// "-", "0", "+", " "; a width and a ".precision". A missing argument or a real number
/// given to an integer conversion throws std::invalid_argument.
std::string FormatV(std::string_view format, std::span<const FormatArg> args);

template <class... Args> std::string Format(std::string_view format, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return FormatV(format, list);
}

} // namespace vantorel
