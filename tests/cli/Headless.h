#pragma once

// vantorel-cli driven in this process, with the program's data beside a stand-in
// executable and a registry of its own.

#include "Cli.h"

#include "TempDir.h"
#include "common/Program.h"
#include "settings/RegistryVariables.h"
#include "settings/SettingsSandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vantorel::cli {

struct Result {
    int code;
    std::string out;
    std::string err;
};

struct Headless : ::testing::Test {
    const std::string kSource = VANTOREL_SOURCE_DIR;
    testing::TempDir program;
    std::optional<TSettingsSandbox> settings;
    std::unique_ptr<ScopedExecutablePath> exe;

    void SetUp() override {
        std::filesystem::copy_file(kSource + "/data/Countries.dat", program / "Countries.dat");
        std::filesystem::copy_file(kSource + "/data/Stations.dat", program / "Stations.dat");
        exe = std::make_unique<ScopedExecutablePath>(program / "vantorel-cli");
        settings.emplace();
        ResetRegistrySettings();
    }
    void TearDown() override {
        settings.reset();
        ResetRegistrySettings();
    }
    Result Call(std::vector<std::string> args) {
        std::ostringstream out, err;
        const int code = Main(args, out, err);
        return {code, out.str(), err.str()};
    }
};

} // namespace vantorel::cli
