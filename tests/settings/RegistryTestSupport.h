#pragma once

// A private registry for one test: the registry folder is a temporary folder, the
// executable has a chosen name, and the process-wide registry choices start afresh.

#include "common/Program.h"
#include "settings/RegistryVariables.h"

#include "ScopedEnvironment.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace vantorel::testing {

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() {
        ResetRegistrySettings();
        TakeRegistryProblems(); // other tests' problems are not this one's
    }
    ~RegistryTest() override {
        SetRegistryProgramName("");
        ResetRegistrySettings();
    }

    /// Runs the rest of the test as an executable of this name.
    void RunAs(const std::string& executableName) {
        executable_.reset();
        executable_.emplace("/opt/vantorel/bin/" + executableName);
        ResetRegistrySettings();
    }

    std::string UserFile() const { return dir_ / "HKEY_CURRENT_USER.reg"; }
    std::string MachineFile() const { return dir_ / "HKEY_LOCAL_MACHINE.reg"; }

    TempDir dir_;
    ScopedEnvironment registryDir_{"VANTOREL_REGISTRY_DIR", dir_.Path()};
    std::optional<ScopedExecutablePath> executable_{std::in_place, "/opt/vantorel/bin/vantorel"};
};

} // namespace vantorel::testing
