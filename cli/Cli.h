#pragma once

// The command-line front end: a table of subcommands, each with its own options.

#include "orbit/MeteorSeries.h"

#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantorel::cli {

/// Exit codes of vantorel-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
/// The work was done, but the run reported something that makes its result doubtful.
inline constexpr int kExitWarnings = 3;

/// A usage error: reported with the command's synopsis, exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The parsed arguments of one subcommand: "--name=value", "--name value" (for options
/// that take a value), "--flag", and positional arguments ("--" ends the options).
class Arguments {
public:
    /// valueOptions: the options that take a value; flagOptions: those that do not;
    /// optionalValueOptions: flags that may be given a value, only as "--name=value".
    Arguments(const std::vector<std::string>& args, const std::vector<std::string>& valueOptions,
              const std::vector<std::string>& flagOptions,
              const std::vector<std::string>& optionalValueOptions = {});

    bool Has(const std::string& name) const { return options_.count(name) != 0; }
    /// The last value given for an option.
    std::optional<std::string> Value(const std::string& name) const;
    /// Every value given for an option, in order (options that may be repeated).
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return positional_; }

private:
    std::map<std::string, std::string> options_;
    std::map<std::string, std::vector<std::string>> repeated_;
    std::vector<std::string> positional_;
};

/// The satellite a --satellite value names (a name or a catalogue number, as every
/// command takes them); UsageError for anything else.
TMeteorSatellite SatelliteNamed(const std::string& nameOrNumber);

struct Command {
    std::string name;
    std::string synopsis; ///< arguments after the command name
    std::string summary;  ///< one line for the command list
    std::string help;     ///< the options and what the command does
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

/// Every subcommand, in the order --help lists them.
const std::vector<Command>& Commands();

/// The whole program: argv without the program name; returns the exit code.
int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Subcommands, one per source file.
Command TimingCommand();
Command SettingsCommand();
Command PropagateCommand();
Command ScanCommand();
Command ProcessCommand();
Command LocateCommand();
Command KepsCommand();
/// keps update's work on its arguments ("update" first), also for the watch's daily fetch.
int RunKeps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
Command WatchCommand();
Command CalibrateCommand();

} // namespace vantorel::cli
