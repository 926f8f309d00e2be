// Element-set updates.
//
// Choices:
// - several URLs are all or nothing: a station that lists a second source relies on it;
// - the replies are joined as they came (their line ends kept), each ended by a line break;
// - a file of the day with the same bytes means the source has not changed since the
//   last update: nothing is written, and that is no failure;
// - the Kepler folder is never made: a mistyped folder must not collect files unseen.
#include "keps/ElementSetUpdate.h"

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "keps/HttpReply.h"
#include "orbit/ElementSetCheck.h"
#include "orbit/Keplers.h"
#include "orbit/MeteorSeries.h"
#include "orbit/Satellite.h"
#include "settings/RegistryVariables.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace vantorel {
namespace {

namespace fs = std::filesystem;

/// A reason the update stops; its text is the report's one line.
class UpdateFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int kMaxFilesPerDay = 100;
constexpr double kUnixEpochAsDateTime = 25569.0;
constexpr double kSecondsPerDay = 86400.0;

std::string SatelliteLabel(const std::string& catalogueNumber) {
    if (const auto meteor = FindMeteorSatellite(catalogueNumber)) {
        return std::string(meteor->DisplayName) + " (" + catalogueNumber + ")";
    }
    return catalogueNumber;
}

std::string Joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

// The first line of a reply that is not where it belongs in three-line sets (a name, then
// line 1, then line 2 of the same satellite), said with its number; nullopt when every
// line is. Blank lines and "--" lines count for nothing, as the sets' reader skips them. A reply of
// other text around the sets, or with a name too many, would put sets under other satellites' names
// or keep what is no set.
std::optional<std::string> MisplacedLine(std::string_view reply) {
    const std::vector<std::string> lines = SplitLines(reply);
    int expected = 0; // 0 a name, 1 line 1, 2 line 2
    std::string catalogue;
    std::size_t begun = 0; // the line of the name of the set being read
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = TrimRight(lines[i]);
        if (line.empty() || line == "--") { // "--" parts sets in some collections
            continue;
        }
        const bool elements = IsElementLine(line);
        const bool fits = expected == 0 ? !elements
                          : expected == 1
                              ? elements && line[0] == '1'
                              : elements && line[0] == '2' && line.compare(2, 5, catalogue) == 0;
        if (!fits) {
            static const char* const kWanted[] = {"a satellite's name", "line 1 of a set",
                                                  "line 2 of the set"};
            return Format("line %d is not %s: \"", static_cast<int>(i + 1), kWanted[expected]) +
                   TextExcerpt(line) + "\"";
        }
        if (expected == 0) {
            begun = i;
        } else if (expected == 1) {
            catalogue = line.substr(2, 5);
        }
        expected = (expected + 1) % 3;
    }
    if (expected != 0) {
        return Format("line %d begins a set that the reply ends in: \"",
                      static_cast<int>(begun + 1)) +
               TextExcerpt(lines[begun]) + "\"";
    }
    return std::nullopt;
}

// Fetches every URL; each reply must hold a set. Returns the joined text; `sets` gets
// every set of it.
std::string FetchAll(const TElementSetUpdateRequest& request, TSatelliteList& sets) {
    std::string text;
    for (const std::string& url : request.Urls) {
        TDownloaded got = Download(url, request.Limits);
        if (!got.Body) {
            throw UpdateFailure(got.Error);
        }
        TSatelliteList own;
        own.LoadFromText(*got.Body, request.FileStem);
        if (own.Count() == 0) {
            const std::string said = TextExcerpt(*got.Body);
            throw UpdateFailure(
                url + ": no element sets in the reply (three-line sets: name, line 1, line 2)" +
                (said.empty() ? ", which is empty" : "; it begins \"" + said + "\""));
        }
        if (const auto misplaced = MisplacedLine(*got.Body)) {
            throw UpdateFailure(url + ": the reply is not three-line element sets alone (" +
                                *misplaced + "); nothing written");
        }
        sets.LoadFromText(*got.Body, request.FileStem);
        text += *got.Body;
        if (!text.ends_with('\n')) {
            text += '\n';
        }
    }
    return text;
}

bool Taken(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Writes the bytes as `path` whole, never over an existing file. False when `path` was
// taken meanwhile.
bool WriteNewFile(const std::string& path, std::string_view bytes) {
    try {
        ReplaceFileContents(path, bytes, false);
        return true;
    } catch (const TFileExists&) {
        return false;
    } catch (const std::runtime_error& failure) {
        throw UpdateFailure(failure.what());
    }
}

TDateTime ToDateTime(fs::file_time_type time) {
    const auto sinceEpoch = std::chrono::file_clock::to_sys(time).time_since_epoch();
    return kUnixEpochAsDateTime +
           std::chrono::duration<double>(sinceEpoch).count() / kSecondsPerDay;
}

void Update(const TElementSetUpdateRequest& request, TElementSetUpdate& update) {
    if (Trim(request.KeplerFolder).empty()) {
        throw UpdateFailure("no Kepler folder is set");
    }
    if (!DirectoryExists(request.KeplerFolder)) {
        throw UpdateFailure("the Kepler folder \"" + request.KeplerFolder + "\" does not exist");
    }
    if (request.FileStem.empty() || request.FileStem.find_first_of("/\\") != std::string::npos) {
        throw UpdateFailure("\"" + request.FileStem + "\" is no file name");
    }
    if (request.Urls.empty()) {
        throw UpdateFailure("no URL to fetch");
    }
    TSatelliteList sets;
    const std::string text = FetchAll(request, sets);

    std::vector<std::string> missing;
    for (const std::string& number : request.RequiredCatalogueNumbers) {
        const int index = sets.IndexOfCatalogueNumber(number);
        if (index < 0) {
            missing.push_back(SatelliteLabel(number));
        } else {
            // A set that fails its checksum was damaged on the way: none of the reply is kept.
            const TSatellite& set = *sets.SatelliteAt(index);
            const TElementSetCheck check = CheckElementSet(set.Line1, set.Line2);
            if (!check.ChecksumFailures.empty() || check.NotMeteorOrbit) {
                throw UpdateFailure(
                    "the element set of " + SatelliteLabel(number) + " in what " +
                    (request.Urls.size() == 1 ? request.Urls.front() : "the URLs") + " sent " +
                    (!check.ChecksumFailures.empty()
                         ? "fails its checksum on " + check.ChecksumFailures.front()
                         : "is not a Meteor-M's orbit: it has " + *check.NotMeteorOrbit) +
                    "; nothing written");
            }
            update.Sets.push_back({sets.Name(index), number, set.EpochDateTime()});
        }
    }
    if (!missing.empty()) {
        throw UpdateFailure("no element set for " + Joined(missing, ", ") + " in what " +
                            (request.Urls.size() == 1 ? request.Urls.front() : "the URLs") +
                            " sent");
    }
    update.SetCount = sets.Count();

    const std::string folder = IncludeTrailingPathDelimiter(request.KeplerFolder);
    const std::string date = FormatDateTime("yyyy-mm-dd", NowUTC());
    for (int n = 1; n <= kMaxFilesPerDay && update.FileName.empty(); ++n) {
        const std::string path = folder + request.FileStem + "-" + date +
                                 (n == 1 ? std::string() : Format("-%d", n)) + ".txt";
        if (Taken(path)) {
            if (ReadFileBytes(path) == text) {
                update.FileName = path;
                update.Outcome = TElementSetUpdate::TOutcome::AlreadyPresent;
            }
        } else if (WriteNewFile(path, text)) {
            update.FileName = path;
            update.Outcome = TElementSetUpdate::TOutcome::Written;
        }
    }
    if (update.FileName.empty()) {
        throw UpdateFailure(
            Format("%d files of %s are in %s already", kMaxFilesPerDay, date, folder));
    }

    update.Report.push_back(Format("Element sets of %d satellites fetched from ", update.SetCount) +
                            Joined(request.Urls, ", "));
    update.Report.push_back(update.Outcome == TElementSetUpdate::TOutcome::Written
                                ? "Written to " + update.FileName
                                : "Already in the Kepler folder, nothing written: " +
                                      update.FileName);
    for (const TFetchedSet& set : update.Sets) {
        update.Report.push_back("  " + set.Name + " (" + set.CatalogueNumber + "): epoch " +
                                FormatDateTime("yyyy-mm-dd hh:nn", set.Epoch) +
                                Format(" UTC, %.1f days old", NowUTC() - set.Epoch));
    }
}

} // namespace

std::vector<std::string> MeteorCatalogueNumbers() {
    std::vector<std::string> numbers;
    for (const TMeteorSatellite& s : MeteorSatellites()) {
        numbers.emplace_back(s.CatalogueNumber);
    }
    return numbers;
}

TElementSetUpdate UpdateElementSets(const TElementSetUpdateRequest& request) {
    TElementSetUpdate update;
    try {
        Update(request, update);
    } catch (const std::exception& e) {
        update = TElementSetUpdate{};
        update.Report.push_back(
            std::string("Element sets not updated (nothing in the Kepler folder changed): ") +
            e.what());
    }
    return update;
}

std::vector<std::string> SplitElementSetUrls(std::string_view text) {
    std::vector<std::string> urls;
    std::string url;
    for (const char c : std::string(text) + ' ') {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '|') {
            if (!url.empty()) {
                urls.push_back(url);
            }
            url.clear();
        } else {
            url += c;
        }
    }
    return urls;
}

std::vector<std::string> ConfiguredElementSetUrls() {
    std::vector<std::string> urls = SplitElementSetUrls(ProgramRegistryValue(kKepsUrlsValue));
    if (urls.empty()) {
        urls.emplace_back(kDefaultElementSetUrl);
    }
    return urls;
}

std::optional<TElementFile> NewestElementFile(const std::string& folder) {
    std::vector<std::string> files;
    const std::string base = IncludeTrailingPathDelimiter(folder);
    for (const char* mask : {"*.txt", "*.tle", "*.2li"}) {
        FindFiles(base + mask, files);
    }
    std::optional<TElementFile> newest;
    for (const std::string& file : files) {
        std::error_code ec;
        if (SameText(ExtractFileName(file).substr(0, 8), "TLEnotes") ||
            !fs::is_regular_file(file, ec)) {
            continue;
        }
        const auto time = fs::last_write_time(file, ec);
        if (!ec && (!newest || ToDateTime(time) > newest->Modified)) {
            newest = TElementFile{file, ToDateTime(time)};
        }
    }
    return newest;
}

} // namespace vantorel
