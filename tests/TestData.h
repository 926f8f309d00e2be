#pragma once

// Files the tests read from the repository's tests/data folder. A missing file is a test
// failure that names it, not a crash on an empty result.

#include "common/TextFile.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace vantorel::testing {

/// Path of a file or folder below tests/data.
inline std::string TestDataPath(const std::string& relative) {
    return std::string(VANTOREL_SOURCE_DIR) + "/tests/data/" + relative;
}

/// The bytes of a file below tests/data; throws, naming the file, when it cannot be read.
inline std::string ReadTestData(const std::string& relative) {
    const std::string path = TestDataPath(relative);
    auto bytes = ReadFileBytes(path);
    if (!bytes) {
        throw std::runtime_error("test data file missing or unreadable: " + path);
    }
    return std::move(*bytes);
}

/// The lines of a text file below tests/data; throws, naming the file, when it cannot be read.
inline std::vector<std::string> ReadTestDataLines(const std::string& relative) {
    const std::string path = TestDataPath(relative);
    auto lines = ReadTextLines(path);
    if (!lines) {
        throw std::runtime_error("test data file missing or unreadable: " + path);
    }
    return std::move(*lines);
}

} // namespace vantorel::testing
