#include "orbit/ScannerCalibration.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <cmath>

namespace vantorel {
namespace {

struct TKey {
    std::string_view Name;
    double TScannerCalibration::*Field;
    double Lowest;
    double Highest;
};

constexpr TKey kKeys[] = {
    {"scan-angle", &TScannerCalibration::ScanAngle, 90.0, 130.0},
    {"roll", &TScannerCalibration::Roll, -10.0, 10.0},
    {"pitch", &TScannerCalibration::Pitch, -10.0, 10.0},
    {"yaw", &TScannerCalibration::Yaw, -10.0, 10.0},
    {"time-offset", &TScannerCalibration::TimeOffset, -60.0, 60.0},
};

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
            const std::string id = Trim(line.substr(1, line.find(']') - 1));
            const bool number5 = line.back() == ']' && id.size() == 5 &&
                                 id.find_first_not_of("0123456789") == std::string::npos;
            current = number5 ? &out.BySatellite[id] : nullptr;
            if (!number5) {
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
        const auto value = ParseReal(Trim(line.substr(equals + 1)));
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
                }
            }
        }
        if (!known) {
            problem("unknown key \"" + key + "\"");
        }
    }
    return out;
}

} // namespace vantorel
