#include "orbit/ElementSetCheck.h"

#include "common/Format.h"
#include "common/StringUtils.h"

#include <cctype>
#include <cmath>

namespace vantorel {
namespace {

constexpr std::size_t kChecksumColumn = 68; // zero-based: column 69

// A field by its first column (1-based) and width, as a number; nullopt when it does not
// read as one.
std::optional<double> Field(std::string_view line, std::size_t firstColumn, std::size_t width) {
    if (line.size() < firstColumn) {
        return std::nullopt;
    }
    return ParseReal(Trim(line.substr(firstColumn - 1, width)));
}

} // namespace

int ElementLineChecksum(std::string_view line) {
    int sum = 0;
    for (std::size_t i = 0; i < line.size() && i < kChecksumColumn; ++i) {
        const char c = line[i];
        sum += std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c == '-' ? 1 : 0;
    }
    return sum % 10;
}

TElementSetCheck CheckElementSet(std::string_view line1, std::string_view line2) {
    TElementSetCheck check;
    int number = 1;
    for (const std::string_view line : {line1, line2}) {
        const char written = line.size() > kChecksumColumn ? line[kChecksumColumn] : ' ';
        if (!std::isdigit(static_cast<unsigned char>(written))) {
            ++check.Unchecked;
        } else if (written - '0' != ElementLineChecksum(line)) {
            check.ChecksumFailures.push_back(Format("line %d: written %d, its sum %d", number,
                                                    written - '0', ElementLineChecksum(line)));
        }
        ++number;
    }
    const auto revolutions = Field(line2, 53, 11);
    const auto inclination = Field(line2, 9, 8);
    const auto eccentricity = Field(line2, 27, 7);
    std::string why;
    if (!revolutions || !(*revolutions >= kMeteorLeastRevolutionsPerDay &&
                          *revolutions <= kMeteorMostRevolutionsPerDay)) {
        why = revolutions ? Format("a mean motion of %.2f revolutions a day", *revolutions)
                          : std::string("no mean motion");
        if (revolutions && *revolutions > kMeteorMostRevolutionsPerDay) {
            why += " (an orbit decaying, far below a Meteor's)";
        }
    } else if (!inclination || !(*inclination >= kMeteorLeastInclination &&
                                 *inclination <= kMeteorMostInclination)) {
        why = inclination ? Format("an inclination of %.2f degrees", *inclination)
                          : std::string("no inclination");
    } else if (eccentricity && *eccentricity * 1e-7 > kMeteorMostEccentricity) {
        why = Format("an eccentricity of %.4f", *eccentricity * 1e-7);
    }
    if (!why.empty()) {
        check.NotMeteorOrbit = why + "; a Meteor-M makes about 14.2 revolutions a day at 98.7 "
                                     "degrees, on a near-circular orbit";
    }
    return check;
}

} // namespace vantorel
