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

/// A file that cannot be used, told in three parts: a headline, the cause, and the file.
/// what() is the message the raiser composes from them.
class EFileProblem : public std::runtime_error {
public:
    EFileProblem(const std::string& message, const std::string& headline, const std::string& cause,
                 const std::string& path)
        : std::runtime_error(message), headline_(headline), cause_(cause), path_(path) {}
    const std::string& Headline() const { return headline_; }
    const std::string& Cause() const { return cause_; }
    const std::string& Path() const { return path_; }

private:
    std::string headline_;
    std::string cause_;
    std::string path_;
};

} // namespace vantorel
