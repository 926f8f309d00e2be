// vantorel-cli propagate: the position, velocity and ground point of one element set at
// chosen times, for checking a set by hand.
#include "Cli.h"

#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"
#include "orbit/Satellite.h"
#include "orbit/Support.h"

#include <optional>
#include <stdexcept>
#include <tuple>

namespace vantorel::cli {
namespace {

/// Refuses lines the model would read as zeros: the element lines must carry their line
/// number, 68 or more characters and the same catalogue number.
void CheckElementLines(const std::string& line1, const std::string& line2) {
    auto check = [](const std::string& line, char number) {
        if (line.size() < 68 || line[0] != number || line[1] != ' ') {
            const std::string n(1, number);
            throw UsageError(Format("element line %s must start with \"%s \" and have 68 or more "
                                    "characters: \"%s\"",
                                    n, n, line));
        }
    };
    check(line1, '1');
    check(line2, '2');
    if (line1.compare(2, 5, line2, 2, 5) != 0) {
        throw UsageError("the two element lines carry different catalogue numbers");
    }
    if (!ParseReal(Trim(line2.substr(52, 11)))) {
        throw UsageError("element line 2 has no mean motion in columns 53-63");
    }
}

/// The element lines of a file: the first line starting "1 " and the line after it.
std::pair<std::string, std::string> ElementLinesFromFile(const std::string& path) {
    const auto lines = ReadTextLines(path);
    if (!lines) {
        throw std::runtime_error("cannot read " + path);
    }
    for (size_t i = 0; i + 1 < lines->size(); ++i) {
        const std::string line = TrimRight((*lines)[i]);
        if (line.size() >= 2 && line.compare(0, 2, "1 ") == 0) {
            return {line, TrimRight((*lines)[i + 1])};
        }
    }
    throw std::runtime_error("no element lines in " + path);
}

int RunPropagate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a(args, {"elements"}, {});
    std::vector<std::string> rest = a.Positional();
    std::string line1, line2;
    if (const auto file = a.Value("elements")) {
        std::tie(line1, line2) = ElementLinesFromFile(*file);
    } else {
        if (rest.size() < 2) {
            throw UsageError("give the two element lines (or --elements=FILE) and a time");
        }
        line1 = TrimRight(rest[0]);
        line2 = TrimRight(rest[1]);
        rest.erase(rest.begin(), rest.begin() + 2);
    }
    if (rest.empty()) {
        throw UsageError("no time given");
    }
    CheckElementLines(line1, line2);

    TSatellite satellite;
    satellite.ParseElements(line1, line2);

    // Every time is checked before anything is printed.
    struct Request {
        double minutes;
        double julianDate;
    };
    std::vector<Request> requests;
    for (const std::string& text : rest) {
        if (const auto utc = ParseUtcDateTime(text)) {
            const double jd = DateTimeToJD(*utc);
            requests.push_back({(jd - satellite.EpochJD) * kMinutesPerDay, jd});
        } else if (const auto minutes = ParseReal(text)) {
            requests.push_back({*minutes, satellite.EpochJD + *minutes / kMinutesPerDay});
        } else {
            throw UsageError("not a time: \"" + text +
                             "\" (minutes since the epoch, or yyyy-mm-dd hh:nn:ss UTC)");
        }
    }

    out << "Satellite " << satellite.CatalogueNumber << ", epoch "
        << FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz \"UTC\"", satellite.EpochDateTime()) << ", "
        << (satellite.DeepSpace ? "SDP4 (deep space)" : "SGP4 (near earth)") << "\n";
    out << Format("%12s %14s %14s %14s %12s %12s %12s %13s %13s %11s\n", "minutes", "x km", "y km",
                  "z km", "vx km/s", "vy km/s", "vz km/s", "latitude", "longitude", "height km");
    for (const Request& r : requests) {
        TVector position, velocity;
        try {
            satellite.PropagateMinutes(r.minutes, position, velocity);
        } catch (const EMathError& e) {
            // The rows before stay: they are sound.
            out.flush();
            err << Format("vantorel-cli propagate: no state at %.4f minutes: %s\n", r.minutes,
                          e.what());
            return kExitFailure;
        }
        StateToKilometres(position, velocity);
        const TGeodetic g = GeodeticPosition(r.julianDate, position);
        out << Format("%12.4f %14.6f %14.6f %14.6f %12.9f %12.9f %12.9f %13.8f %13.8f %11.6f\n",
                      r.minutes, position.X, position.Y, position.Z, velocity.X, velocity.Y,
                      velocity.Z, g.Latitude * kRadiansToDegrees, g.Longitude * kRadiansToDegrees,
                      g.Height);
    }
    out.flush();
    return kExitOk;
}

} // namespace

Command PropagateCommand() {
    return {
        "propagate", "[--elements=FILE] [LINE1 LINE2] TIME...",
        "position, velocity and ground point of an element set at given times",
        "Propagates one two-line element set with SGP4 (near earth) or SDP4 (periods of\n"
        "225 minutes or more) and prints one row per time:\n"
        "  minutes   time since the element set's epoch\n"
        "  x y z     position in km, inertial frame of the model (true equator, mean\n"
        "            equinox of date)\n"
        "  vx vy vz  velocity in km/s, same frame\n"
        "  latitude, longitude  geodetic, degrees, north and east positive, the\n"
        "            longitude in [0, 360); WGS-72 ellipsoid\n"
        "  height    above the ellipsoid, km\n"
        "The first time the model cannot serve (Kepler's equation unsolved, an\n"
        "eccentricity out of range, a decayed orbit) ends the table with the reason on\n"
        "standard error and exit code 1.\n\n"
        "Arguments:\n"
        "  LINE1 LINE2  the element lines (quote each one); not needed with --elements\n"
        "  TIME         minutes since the epoch (\"-90\", \"1440.5\") or a UTC date-time\n"
        "               \"yyyy-mm-dd hh:nn[:ss[.zzz]]\" (\"T\" for the blank and a final \"Z\"\n"
        "               are accepted)\n\n"
        "Options:\n"
        "  --elements=FILE  take the element lines from FILE: the first line starting\n"
        "                   with \"1 \" and the line after it\n\n"
        "Example:\n"
        "  vantorel-cli propagate --elements=keps.txt 0 \"2024-08-31 12:00:00\"\n",
        RunPropagate};
}

} // namespace vantorel::cli
