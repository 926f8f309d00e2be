#include "Cli.h"

#include "common/Version.h"

#include <algorithm>
#include <exception>

namespace vantorel::cli {
namespace {

void PrintUsage(std::ostream& out) {
    out << "Usage: vantorel-cli <command> [options] [arguments]\n"
           "  or:  vantorel-cli --help | --version\n"
           "  or:  vantorel-cli help <command>\n\n"
           "Puts a geographic overlay on Meteor-M N2 LRPT channel images.\n\n"
           "Commands:\n";
    size_t width = 0;
    for (const Command& c : Commands()) {
        width = std::max(width, c.name.size());
    }
    for (const Command& c : Commands()) {
        out << "  " << c.name << std::string(width - c.name.size() + 3, ' ') << c.summary << "\n";
    }
    out << "\nExit codes: 0 done, 1 the work failed, 2 the command line was wrong, 3 done but\n"
           "with warnings (process, locate, watch: the result is doubtful; standard error says\n"
           "why).\n";
}

void PrintCommandHelp(const Command& c, std::ostream& out) {
    out << "Usage: vantorel-cli " << c.name << " " << c.synopsis << "\n\n" << c.help;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands()) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

} // namespace

Arguments::Arguments(const std::vector<std::string>& args,
                     const std::vector<std::string>& valueOptions,
                     const std::vector<std::string>& flagOptions,
                     const std::vector<std::string>& optionalValueOptions) {
    auto known = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a.compare(0, 2, "--") != 0) {
            positional_.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        if (known(valueOptions, name)) {
            if (eq != std::string::npos) {
                options_[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                options_[name] = args[++i];
            } else {
                throw UsageError("option --" + name + " needs a value");
            }
            repeated_[name].push_back(options_[name]);
        } else if (known(optionalValueOptions, name)) {
            options_[name] = eq == std::string::npos ? std::string() : a.substr(eq + 1);
        } else if (known(flagOptions, name)) {
            if (eq != std::string::npos) {
                throw UsageError("option --" + name + " takes no value");
            }
            options_[name] = "";
        } else {
            throw UsageError("unknown option " + a.substr(0, eq));
        }
    }
}

std::optional<std::string> Arguments::Value(const std::string& name) const {
    const auto it = options_.find(name);
    if (it == options_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::vector<std::string> Arguments::Values(const std::string& name) const {
    const auto it = repeated_.find(name);
    return it == repeated_.end() ? std::vector<std::string>() : it->second;
}

TMeteorSatellite SatelliteNamed(const std::string& nameOrNumber) {
    const auto satellite = FindMeteorSatellite(nameOrNumber);
    if (!satellite) {
        throw UsageError("--satellite takes METEOR-M2, METEOR-M2 2, METEOR-M2 3 or "
                         "METEOR-M2 4, or their catalogue numbers; not \"" +
                         nameOrNumber + "\"");
    }
    return *satellite;
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {TimingCommand(), SettingsCommand(),
                                                  PropagateCommand(), ScanCommand(), ProcessCommand(),
                                                  LocateCommand(), WatchCommand(), KepsCommand(),
                                                  CalibrateCommand()};
    return commands;
}

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintUsage(err);
        return kExitUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") {
        PrintUsage(out);
        return kExitOk;
    }
    if (first == "--version") {
        out << "vantorel-cli " << kVersion << "\n";
        return kExitOk;
    }
    if (first == "help") {
        if (args.size() == 1) {
            PrintUsage(out);
            return kExitOk;
        }
        if (const Command* c = FindCommand(args[1])) {
            PrintCommandHelp(*c, out);
            return kExitOk;
        }
        err << "vantorel-cli: unknown command '" << args[1] << "'\n";
        return kExitUsage;
    }
    const Command* command = FindCommand(first);
    if (command == nullptr) {
        err << "vantorel-cli: unknown command '" << first << "' (see vantorel-cli --help)\n";
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
        PrintCommandHelp(*command, out);
        return kExitOk;
    }
    try {
        return command->run(rest, out, err);
    } catch (const UsageError& e) {
        err << "vantorel-cli " << command->name << ": " << e.what() << "\n"
            << "Usage: vantorel-cli " << command->name << " " << command->synopsis << "\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "vantorel-cli " << command->name << ": " << e.what() << "\n";
        return kExitFailure;
    }
}

} // namespace vantorel::cli
