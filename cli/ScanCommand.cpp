// vantorel-cli scan: where the scanner looked during a pass. Chooses the element set for
// the pass start as a processing run does and prints the 51 ground points of chosen image
// lines, for seeing where a pass went and for checking the geometry by hand.
#include "Cli.h"

#include "common/DateTime.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "common/StringUtils.h"
#include "orbit/Orbits.h"
#include "settings/RegistryVariables.h"

#include <cmath>
#include <optional>

namespace vantorel::cli {
namespace {

constexpr double kDefaultLinePeriodS = 0.1538925;
constexpr int kMostLines = 1000000;

/// "yyyy-mm-dd hh:nn:ss[.fff]" UTC, "T" allowed for the blank and a final "Z"; the fields
/// are the runs of digits, so the separators are not checked beyond their count.
std::optional<TDateTime> ParseStart(const std::string& text) {
    std::string digits = text;
    for (char& c : digits) {
        if (c < '0' || c > '9') {
            c = c == '.' ? '.' : ' ';
        }
    }
    const size_t dot = digits.find('.');
    const std::string whole = dot == std::string::npos ? digits : digits.substr(0, dot);
    const std::vector<std::string> fields = SplitDelimited(Trim(whole), ' ');
    std::vector<int> values;
    for (const std::string& f : fields) {
        if (!f.empty()) {
            const auto v = ParseInteger(f);
            if (!v) {
                return std::nullopt;
            }
            values.push_back(*v);
        }
    }
    if (values.size() < 5 || values.size() > 6) {
        return std::nullopt;
    }
    values.resize(6, 0);
    const auto date = TryEncodeDate(values[0], values[1], values[2]);
    const auto time = TryEncodeTime(values[3], values[4], values[5]);
    double fraction = 0.0;
    if (dot != std::string::npos) {
        std::string text(1, '0');
        text.append(Trim(digits.substr(dot)));
        fraction = ParseReal(text).value_or(-1.0);
    }
    if (!date || !time || fraction < 0.0 || fraction >= 1.0) {
        return std::nullopt;
    }
    return *date + *time + fraction / kSecondsPerDay;
}

std::vector<int> LineNumbers(const Arguments& a) {
    const auto list = a.Value("lines");
    const auto count = a.Value("count");
    if (list && count) {
        throw UsageError("give either --lines or --count, not both");
    }
    std::vector<int> numbers;
    if (list) {
        for (const std::string& item : SplitDelimited(*list, ',')) {
            const auto n = ParseInteger(Trim(item));
            if (!n || *n < 0 || *n > kMostLines) {
                throw UsageError("not a line number: \"" + item + "\"");
            }
            numbers.push_back(*n);
        }
        return numbers;
    }
    const auto n = count ? ParseInteger(*count) : std::optional<int>(1);
    if (!n || *n < 1 || *n > kMostLines) {
        throw UsageError("--count takes a number of lines from 1 to 1000000");
    }
    for (int i = 0; i < *n; ++i) {
        numbers.push_back(i);
    }
    return numbers;
}

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a(args, {"keplers", "program-folder", "satellite", "period", "lines", "count"},
                      {});
    if (a.Positional().size() != 1) {
        throw UsageError("give the pass start as one UTC date-time");
    }
    const auto start = ParseStart(a.Positional()[0]);
    if (!start) {
        throw UsageError("not a UTC date-time: \"" + a.Positional()[0] +
                         "\" (yyyy-mm-dd hh:nn:ss[.fff])");
    }
    const auto period = ParseReal(a.Value("period").value_or(Format("%.7f", kDefaultLinePeriodS)));
    if (!period || !(*period > 0.0) || *period > 60.0) {
        throw UsageError("--period takes the line period in seconds, above 0 and up to 60");
    }
    const std::vector<int> lines = LineNumbers(a);

    std::optional<ScopedExecutablePath> program;
    if (const auto folder = a.Value("program-folder")) {
        program.emplace(IncludeTrailingPathDelimiter(ExpandFileName(*folder)) + ExecutableName());
    }
    TOrbit orbit;
    orbit.KeplerData.TarnwickPath = AppPathsValue(kTarnwickProductName);
    orbit.SetKeplerPath(a.Value("keplers").value_or(""));
    orbit.SetSatellite(std::string(SatelliteNamed(a.Value("satellite").value_or("METEOR-M2")).Name));
    StreamNotifier notifier(err);
    orbit.SelectForTime(*start, notifier);
    if (!orbit.Valid) {
        err << "No element set for " << orbit.SatelliteName << " (catalogue number "
            << orbit.CatalogueNumber << ")\n";
        return kExitFailure;
    }

    out << "Element set from " << orbit.MainKeplerFile;
    if (!orbit.UpdatesKeplerFile.empty()) {
        out << " and " << orbit.UpdatesKeplerFile;
    }
    out << Format(", epoch offset %.5f days\n", orbit.EpochOffset);
    out << "  " << orbit.Elements->Line1 << "\n  " << orbit.Elements->Line2 << "\n";
    out << "line utc height_km then 51 x (longitude latitude) degrees, sample 0 on the right "
           "of the flight, 25 the middle\n";
    TScanLine scan;
    for (int n : lines) {
        const TDateTime t = *start + n * *period / kSecondsPerDay;
        orbit.LocateScanLine(t, scan);
        out << Format("%d %s %.3f", n, FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss.zzz", t),
                      scan.AltitudeKm);
        for (const TGroundPoint& p : scan.Points) {
            out << Format(" %.5f %.5f", p.Lon, p.Lat);
        }
        out << "\n";
    }
    out.flush();
    return kExitOk;
}

} // namespace

Command ScanCommand() {
    return {
        "scan", "[--keplers=FOLDER] [--program-folder=DIR] [--lines=N,N,...|--count=N] START",
        "the element set chosen for a pass and the scanner's ground points of its lines",
        "Chooses the element set nearest the pass start, as a processing run does, from the\n"
        "multi-Kepler folder and the per-satellite history in the \"Keps\" folder beside the\n"
        "program (or above it), then prints for each image line:\n"
        "  line     the image line number (its time is START + line x period)\n"
        "  utc      the line's time\n"
        "  height   the satellite's height above the WGS-72 ellipsoid, km\n"
        "  51 pairs longitude and latitude of the ground points across the swath, degrees,\n"
        "           east and north positive, longitude in (-180, 180]; point 25 is the\n"
        "           middle of the swath, point 0 lies right of the flight\n\n"
        "Arguments:\n"
        "  START  the pass start, UTC, \"yyyy-mm-dd hh:nn:ss[.fff]\" (\"T\" for the blank and a\n"
        "         final \"Z\" are accepted)\n\n"
        "Options:\n"
        "  --keplers=FOLDER        the multi-Kepler folder (*.2li, *.tle, *.txt)\n"
        "  --program-folder=DIR    look for \"Keps\" in DIR instead of the program's folder\n"
        "  --satellite=NAME        the satellite (default METEOR-M2)\n"
        "  --period=SECONDS        the line period (default 0.1538925)\n"
        "  --lines=N,N,...         the image lines to print\n"
        "  --count=N               lines 0 to N - 1 (default: line 0 only)\n\n"
        "Example:\n"
        "  vantorel-cli scan --keplers=/srv/keps --lines=0,2500,4999 \"2024-08-31 09:12:00\"\n",
        RunScan};
}

} // namespace vantorel::cli
