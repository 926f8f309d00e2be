// vantorel-cli settings: shows and changes the settings the window and vantorel-cli share.
#include "Cli.h"

#include "common/Format.h"
#include "common/StringUtils.h"
#include "pass/inputs/StatTiming.h"
#include "settings/Registry.h"
#include "settings/RegistryVariables.h"

#include <charconv>

namespace vantorel::cli {
namespace {

// Decimal, or hex after "0x", within [0, maximum].
std::optional<std::int32_t> ParseSettingNumber(std::string_view text, std::int32_t maximum) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    long long v = 0;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, v, base);
    if (text.empty() || error != std::errc() || end != last || v < 0 || v > maximum) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(v);
}

// The value an assignment NAME=VALUE stores, with the name as the program spells it.
std::pair<std::string, RegistryValue> ParseAssignment(const std::string& assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        throw UsageError("expected NAME=VALUE, not \"" + assignment + "\"");
    }
    const std::string name = assignment.substr(0, equals);
    const std::string text = assignment.substr(equals + 1);
    if (SameText(name, kKeplerPathValue)) {
        return {std::string(kKeplerPathValue), RegistryValue::String(text)};
    }
    if (SameText(name, kKepsUrlsValue)) {
        return {std::string(kKepsUrlsValue), RegistryValue::String(text)};
    }
    if (SameText(name, kLineThicknessValue)) {
        const auto n = ParseSettingNumber(text, 2);
        if (!n) {
            throw UsageError("LineThickness takes 0 (thin), 1 (normal) or 2 (thick)");
        }
        return {std::string(kLineThicknessValue),
                RegistryValue::Dword(static_cast<std::uint32_t>(*n))};
    }
    for (const std::string_view colour : {kLineColourValue, kGraticuleColourValue}) {
        if (SameText(name, colour)) {
            const auto n = ParseSettingNumber(text, 0xFFFFFF);
            if (!n) {
                throw UsageError(std::string(colour) +
                                 " takes a colour value 0x00BBGGRR (decimal or 0x hex)");
            }
            return {std::string(colour), RegistryValue::Dword(static_cast<std::uint32_t>(*n))};
        }
    }
    if (SameText(name, kGraticuleValue)) {
        const auto n = ParseSettingNumber(text, 1);
        if (!n) {
            throw UsageError("Graticule takes 0 (off) or 1 (on)");
        }
        return {std::string(kGraticuleValue), RegistryValue::Dword(static_cast<std::uint32_t>(*n))};
    }
    if (SameText(name, kFileClockOffsetValue)) {
        const auto hours = ParseClockOffsetHours(text);
        if (!text.empty() && !hours) {
            throw UsageError("FileClockOffset takes whole hours from -14 to 14, or nothing");
        }
        return {std::string(kFileClockOffsetValue),
                RegistryValue::String(hours ? std::to_string(*hours) : std::string())};
    }
    throw UsageError("no setting named \"" + name +
                     "\" (KeplerPath, LineThickness, LineColour, KepsUrls, Graticule, "
                     "GraticuleColour, FileClockOffset)");
}

std::string Show(const std::optional<RegistryValue>& value) {
    if (!value) {
        return "(not set)";
    }
    if (const auto text = value->AsString()) {
        return "\"" + *text + "\"";
    }
    if (const auto n = value->AsInteger()) {
        return Format("%d (0x%08x)", *n, static_cast<std::uint32_t>(*n));
    }
    return "(not a string or a number: ignored)";
}

int RunSettings(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a(args, {}, {});
    std::vector<std::pair<std::string, RegistryValue>> changes;
    for (const std::string& assignment : a.Positional()) {
        changes.push_back(ParseAssignment(assignment));
    }
    SetRegistryProgramName(kWindowProgramName);
    const RegistryRoot root = CurrentRegistrySettings().rootKey;
    const std::string key = ProgramKeyPath();

    int code = kExitOk;
    for (const auto& [name, value] : changes) {
        TRegistry registry(root);
        RegistryWriteStatus status = registry.OpenKey(key);
        if (Succeeded(status)) {
            status = registry.WriteValue(name, value);
        }
        if (!Succeeded(status)) {
            err << "vantorel-cli settings: " << name
                << " not stored: " << DescribeWriteStatus(status) << "\n";
            code = kExitFailure;
        }
    }

    TRegistry registry(root);
    out << "Registry file: " << (registry.FilePath().empty() ? "(unknown)" : registry.FilePath())
        << "\n";
    for (const RegistryFileProblem& problem : registry.File().Problems()) {
        out << Format("  line %d: ", static_cast<int>(problem.line)) << problem.message << "\n";
    }
    if (registry.Unreadable()) {
        out << "  The file cannot be read: no setting is read from it or saved to it.\n";
    } else if (!registry.File().Problems().empty()) {
        out << "  Settings are read from the other lines but not saved until these are mended.\n";
    }
    out << "Key: " << RootKeyName(root) << key << "\n";
    if (registry.Unreadable()) {
        out << "  (no values shown: none can be read from the registry file)\n";
    } else {
        registry.OpenKeyReadOnly(key);
        for (const std::string_view name :
             {kKeplerPathValue, kLineThicknessValue, kLineColourValue, kKepsUrlsValue,
              kGraticuleValue, kGraticuleColourValue, kFileClockOffsetValue}) {
            out << "  " << name << " = " << Show(registry.ReadValue(name)) << "\n";
        }
    }
    out << "  Halvory " << kTwoLineDataPathValue << " = \"" << HalvoryValue(kTwoLineDataPathValue)
        << "\"\n";
    out.flush();
    err << TakeRegistryProblemReport();
    return code;
}

} // namespace

Command SettingsCommand() {
    return {
        "settings", "[NAME=VALUE]...", "show or change the settings shared with the window",
        "Stores each NAME=VALUE given, then shows where the settings are kept and what\n"
        "they hold. vantorel-cli uses the window's settings (key \\Software\\Corvane\\vantorel\n"
        "in the registry file; $VANTOREL_REGISTRY_DIR names another folder for it).\n\n"
        "Names:\n"
        "  KeplerPath=FOLDER      the folder of the Kepler data; empty: the sibling tracker's\n"
        "  LineThickness=N        0 thin, 1 normal, 2 thick\n"
        "  LineColour=N           the overlay colour as 0x00BBGGRR (65535 = yellow)\n"
        "  Graticule=N            1: draw the latitude/longitude grid, 0: not\n"
        "  GraticuleColour=N      the grid's colour as 0x00BBGGRR\n"
        "  FileClockOffset=H      whole hours ahead of UTC of the clock that named the\n"
        "                         channel files; empty: this computer's time zone\n"
        "  KepsUrls=URL...        where keps update fetches element sets: URLs separated by\n"
        "                         spaces or \"|\"; empty: CelesTrak's weather group\n",
        RunSettings};
}

} // namespace vantorel::cli
