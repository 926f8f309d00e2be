#pragma once

// A temporary folder for one test, removed with everything in it afterwards.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace vantorel::testing {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = base / ("vantorel-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary folder");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The folder with a trailing delimiter.
    std::string Path() const { return path_.string() + "/"; }
    /// Path of an entry inside the folder.
    std::string operator/(std::string_view name) const { return Path() + std::string(name); }

    /// Writes bytes to a file inside the folder (folders on the way are made) and
    /// returns its path.
    std::string Write(std::string_view name, std::string_view content) const {
        const std::string p = *this / name;
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream f(p, std::ios::binary);
        f.write(content.data(), static_cast<std::streamsize>(content.size()));
        return p;
    }

private:
    std::filesystem::path path_;
};

} // namespace vantorel::testing
