#include "orbit/ScannerCalibration.h"

#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <cmath>
#include <optional>

namespace vantorel {
namespace {

struct TKey {
    std::string_view Name;
    double TScannerCalibration::*Field;
    double TScannerCalibration::*Error;
    double Lowest;
    double Highest;
};

constexpr TKey kKeys[] = {
    {"scan-angle", &TScannerCalibration::ScanAngle, &TScannerCalibration::ScanAngleError, 90.0,
     130.0},
    {"roll", &TScannerCalibration::Roll, &TScannerCalibration::RollError, -10.0, 10.0},
    {"pitch", &TScannerCalibration::Pitch, &TScannerCalibration::PitchError, -10.0, 10.0},
    {"yaw", &TScannerCalibration::Yaw, &TScannerCalibration::YawError, -10.0, 10.0},
    {"time-offset", &TScannerCalibration::TimeOffset, &TScannerCalibration::TimeOffsetError,
     -60.0, 60.0},
};

// A section's header line: "[NNNNN]" with a five-digit catalogue number.
std::optional<std::string> SectionNumber(const std::string& line) {
    if (line.empty() || line.front() != '[' || line.back() != ']') {
        return std::nullopt;
    }
    const std::string id = Trim(line.substr(1, line.size() - 2));
    if (id.size() != 5 || id.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return id;
}

} // namespace

TScannerCalibrations ParseScannerCalibrations(std::string_view text) {
    TScannerCalibrations out;
    TScannerCalibration* current = nullptr;
    int number = 0;
    for (const std::string& raw : SplitLines(text)) {
        ++number;
        const std::string line = Trim(raw.substr(0, raw.find('#')));
        if (line.empty()) {
            continue;
        }
        auto problem = [&](const std::string& why) {
            out.Problems.push_back("line " + std::to_string(number) + ": " + why);
        };
        if (line.front() == '[') {
            const auto id = SectionNumber(line);
            current = id ? &out.BySatellite[*id] : nullptr;
            if (!id) {
                problem("not a catalogue number in brackets");
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos || current == nullptr) {
            problem(current == nullptr ? "a value before any [catalogue number]"
                                       : "not \"key = value\"");
            continue;
        }
        const std::string key = LowerCase(Trim(line.substr(0, equals)));
        std::string text = Trim(line.substr(equals + 1));
        if (key == "measured") {
            const std::string answer = LowerCase(text);
            if (answer == "yes" || answer == "no") {
                current->Measured = answer == "yes";
            } else {
                problem("measured takes yes or no");
            }
            continue;
        }
        std::optional<double> error;
        if (const auto plusMinus = text.find("+-"); plusMinus != std::string::npos) {
            error = ParseReal(Trim(text.substr(plusMinus + 2)));
            text = Trim(text.substr(0, plusMinus));
            if (!error || !std::isfinite(*error) || *error < 0.0) {
                problem("\"" + key + "\" takes an uncertainty of zero or more after +-");
                continue;
            }
        }
        const auto value = ParseReal(text);
        if (!value || !std::isfinite(*value)) {
            problem("\"" + key + "\" takes a number");
            continue;
        }
        if (key == "pixels") {
            if (*value < 100 || *value > 10000 || *value != std::floor(*value)) {
                problem("pixels takes a whole number from 100 to 10000");
            } else {
                current->Pixels = static_cast<int>(*value);
            }
            continue;
        }
        bool known = false;
        for (const TKey& k : kKeys) {
            if (key == k.Name) {
                known = true;
                if (*value < k.Lowest || *value > k.Highest) {
                    problem(key + " out of its range");
                } else {
                    current->*k.Field = *value;
                    current->*k.Error = error.value_or(0.0);
                }
            }
        }
        if (!known) {
            problem("unknown key \"" + key + "\"");
        }
    }
    return out;
}

std::string FormatScannerValues(const TScannerCalibration& c) {
    std::string out;
    auto add = [&](const TKey& k) {
        out += Format("%-11s = %.3f", std::string(k.Name).c_str(), c.*k.Field);
        if (c.*k.Error > 0.0) {
            out += Format(" +- %.3f", c.*k.Error);
        }
        out += "\n";
        if (k.Field == &TScannerCalibration::ScanAngle) {
            out += Format("%-11s = %d\n", "pixels", c.Pixels);
        }
    };
    for (const TKey& k : kKeys) {
        add(k);
    }
    out += Format("%-11s = %s\n", "measured", c.Measured ? "yes" : "no");
    return out;
}

std::string ReplaceScannerSection(std::string_view text, const std::string& catalogueNumber,
                                  const std::string& section) {
    const std::vector<std::string> lines = SplitLines(text);
    auto number = [&](std::size_t i) {
        return SectionNumber(Trim(lines[i].substr(0, lines[i].find('#'))));
    };
    auto comment = [&](std::size_t i) {
        const std::string t = Trim(lines[i]);
        return !t.empty() && t.front() == '#';
    };
    // Every section of the number (a file may repeat one): its header, the comments right
    // above it, and every line up to the comments that lead into the next header.
    std::vector<std::pair<std::size_t, std::size_t>> old;
    for (std::size_t header = 0; header < lines.size(); ++header) {
        if (number(header) != catalogueNumber) {
            continue;
        }
        std::size_t first = header;
        while (first > 0 && comment(first - 1) && (old.empty() || first - 1 >= old.back().second)) {
            --first;
        }
        std::size_t end = header + 1;
        while (end < lines.size() && !number(end)) {
            ++end;
        }
        std::size_t next = end;
        if (end < lines.size()) {
            while (next > header + 1 && comment(next - 1)) {
                --next;
            }
        }
        old.emplace_back(first, next);
        header = end - 1;
    }
    std::string out;
    if (old.empty()) {
        for (const std::string& line : lines) {
            out += line + "\n";
        }
        if (out.size() >= 2 && out.substr(out.size() - 2) != "\n\n") {
            out += "\n";
        }
        return out + section;
    }
    std::size_t at = 0;
    for (std::size_t k = 0; k < old.size(); ++k) {
        for (; at < old[k].first; ++at) {
            out += lines[at] + "\n";
        }
        if (k == 0) {
            out += section;
            if (old[k].second < lines.size()) {
                out += "\n";
            }
        }
        at = old[k].second;
    }
    for (; at < lines.size(); ++at) {
        out += lines[at] + "\n";
    }
    return out;
}

} // namespace vantorel
