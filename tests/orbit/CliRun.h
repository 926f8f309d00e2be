#pragma once

// Runs vantorel-cli in the test's process and keeps what it printed.

#include "Cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace vantorel::testing {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

inline CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = cli::Main(args, out, err);
    return {code, out.str(), err.str()};
}

} // namespace vantorel::testing
