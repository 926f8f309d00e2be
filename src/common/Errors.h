#pragma once

#include <stdexcept>
#include <string>

namespace vantorel {

/// A numeric failure with its fixed message text (a singular matrix, an invalid argument
/// to a maths routine). It ends the stage that raised it and reaches the user as the
/// application's error message.
class EMathError : public std::runtime_error {
public:
    explicit EMathError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace vantorel
