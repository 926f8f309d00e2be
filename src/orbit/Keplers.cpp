// Element-set selection. The per-satellite history is read whole at every request (it is
// small and the user may replace it between passes); the search over it interpolates on
// the epochs of the first and last sets, steps four sets away when that lands within
// two days, and walks towards the time until the offset stops shrinking or falls below
// half a day. Departures: every index is checked against the line list, so a malformed
// history cannot make the search read past its end.
#include "orbit/Keplers.h"

#include "common/Files.h"
#include "common/Notifier.h"
#include "common/Program.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vantorel {
namespace {

constexpr char CR = '\r';

/// Columns first .. first + count - 1 (1-based) of a line, as far as the line reaches.
std::string Columns(const std::string& line, size_t first, size_t count) {
    return first - 1 < line.size() ? line.substr(first - 1, count) : std::string();
}

bool BeginsWith(const std::string& line, char c) {
    return !line.empty() && line[0] == c;
}

/// Revolution number of the set whose line 1 is at index k, or 0 when there is none.
int SetRevolution(const std::vector<std::string>& lines, size_t k) {
    if (k + 1 >= lines.size() || !BeginsWith(lines[k], '1') || !BeginsWith(lines[k + 1], '2')) {
        return 0;
    }
    return ParseInteger(Trim(Columns(lines[k + 1], 64, 5))).value_or(0);
}

bool HasSetAt(const std::vector<std::string>& lines, size_t k) {
    return k + 1 < lines.size() && BeginsWith(lines[k], '1') && BeginsWith(lines[k + 1], '2');
}

/// An existing file under its name ignoring case, full path; nullopt when absent.
std::optional<std::string> ExistingFile(const std::string& path) {
    if (auto found = FindFileIgnoringCase(path)) {
        return ExpandFileName(*found);
    }
    return std::nullopt;
}

} // namespace

TDateTime EpochOfLine(const std::string& line) {
    if (!BeginsWith(line, '1')) {
        return 0.0;
    }
    int year = ParseInteger(Trim(Columns(line, 19, 2))).value_or(0);
    year += year < 57 ? 2000 : 1900;
    const double day = ParseReal(Trim(Columns(line, 21, 12))).value_or(999.0);
    if (!(day < 367.0)) {
        return 0.0;
    }
    const auto newYear = TryEncodeDate(year, 1, 1);
    return newYear ? *newYear + day - 1.0 : 0.0;
}

bool IsElementLine(const std::string& line) {
    return Trim(line).size() == 69 && (BeginsWith(line, '1') || BeginsWith(line, '2'));
}

void RemoveOutOfOrderSets(std::vector<std::string>& lines) {
    if (lines.size() < 4 || !HasSetAt(lines, 4)) {
        return;
    }
    int reference = SetRevolution(lines, 4);
    size_t k = 4;
    while (k < lines.size()) {
        const int r = SetRevolution(lines, k);
        if (r >= reference || (reference > 99500 && r < 500)) {
            reference = r;
            k += 2;
        } else {
            const size_t count = std::min<size_t>(2, lines.size() - k);
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(k),
                        lines.begin() + static_cast<std::ptrdiff_t>(k + count));
        }
    }
}

/// ".." is resolved on the text of the path, as the system the folders come from does, so
/// that a folder named on the way need not exist.
bool FolderExists(const std::string& folder) {
    return DirectoryExists(ExpandFileName(folder));
}

std::string KeplerFolder(const std::string& tarnwickPath) {
    const std::string program = ProgramFolder();
    const std::string own = program + "Keps/";
    if (FolderExists(own)) {
        return own;
    }
    const std::string parent = program + "../Keps/";
    if (FolderExists(parent)) {
        return parent;
    }
    std::string sibling = ExtractFilePath(tarnwickPath);
    if (LowerCase(sibling).find("/source/") != std::string::npos) {
        sibling += "../";
    }
    sibling += "Keps/";
    if (FolderExists(sibling)) {
        return sibling;
    }
    return {};
}

TKeplerFiles ParseKeplerFiles(const std::string& satelliteName,
                              const std::optional<TKeplerText>& main,
                              const std::optional<TKeplerText>& updates) {
    TKeplerFiles result;
    std::vector<std::string>& lines = result.Lines;
    if (main) {
        lines = SplitLines(main->Bytes);
        result.MainFile = main->FileName;
    }
    while (!lines.empty() && !IsElementLine(lines.back())) {
        lines.pop_back();
    }
    if (updates) {
        result.UpdatesFile = updates->FileName;
        for (const std::string& line : SplitLines(updates->Bytes)) {
            std::string trimmed = Trim(line);
            if (IsElementLine(trimmed)) {
                lines.push_back(std::move(trimmed));
            }
        }
    }
    size_t leading = 0;
    while (leading < lines.size() && !IsElementLine(lines[leading])) {
        ++leading;
    }
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(leading));

    // Some NOAA-15 histories open with a set flagged "H" in column 17; it is not used.
    if (UpperCase(satelliteName) == "NOAA-15" && !lines.empty() && lines[0].size() > 16 &&
        lines[0][16] == 'H') {
        lines.erase(lines.begin(),
                    lines.begin() +
                        std::min<std::ptrdiff_t>(2, static_cast<std::ptrdiff_t>(lines.size())));
    }

    if (lines.size() < 2) {
        result.Message = "Kepler data file: " + result.MainFile +
                         " is invalid because it has less than two lines of text!";
        return result;
    }
    if (!BeginsWith(lines[0], '1') || !BeginsWith(lines[1], '2')) {
        result.Message =
            "Kepler data file: " + result.MainFile + " is invalid because " +
            "lines 1 and 2 do not start with the characters 1 and 2!  Perhaps " +
            "you left the satellite name in the file?   Here is what was found: " + CR + CR +
            lines[0] + CR + lines[1];
        return result;
    }
    RemoveOutOfOrderSets(lines);
    result.Success = true;
    return result;
}

TKeplerFiles FindKeplerFiles(const std::string& satelliteName, const std::string& tarnwickPath) {
    const std::string folder = KeplerFolder(tarnwickPath);
    if (folder.empty()) {
        TKeplerFiles result;
        result.Message =
            "Folder for Kepler data: " + ProgramFolder() + "Keps/" + " " + "was not found.";
        return result;
    }

    const std::string expectedMain = ExpandFileName(folder + satelliteName + ".txt");
    const std::string expectedUpdates =
        ExpandFileName(folder + "Updates/" + satelliteName + ".txt");
    const auto mainFile = ExistingFile(expectedMain);
    const auto updatesFile = ExistingFile(expectedUpdates);
    if (!mainFile && !updatesFile) {
        TKeplerFiles result;
        result.Message = std::string("****  WARNING  ****\r\rMissing Kepler data file(s) for: ") +
                         satelliteName + CR + CR + "I expected to find either: " + CR + CR +
                         expectedMain + CR + CR + "or:" + CR + CR + expectedUpdates;
        return result;
    }
    // A file that exists but cannot be read is passed over like a missing one.
    const auto mainBytes =
        mainFile ? ReadFileBytes(*mainFile, kMostElementFileBytes) : std::nullopt;
    const auto updatesBytes =
        updatesFile ? ReadFileBytes(*updatesFile, kMostElementFileBytes) : std::nullopt;
    const auto text = [](const std::optional<std::string>& path,
                         const std::optional<std::string>& bytes) {
        return bytes ? std::optional<TKeplerText>(TKeplerText{*path, *bytes}) : std::nullopt;
    };
    return ParseKeplerFiles(satelliteName, text(mainFile, mainBytes),
                            text(updatesFile, updatesBytes));
}

TElementSetChoice SelectElementSet(const std::string& satelliteName,
                                   const std::string& tarnwickPath, TDateTime time,
                                   INotifier& notifier) {
    return SelectElementSet(FindKeplerFiles(satelliteName, tarnwickPath), time, notifier);
}

TElementSetChoice SelectElementSet(const TKeplerFiles& files, TDateTime time, INotifier& notifier) {
    TElementSetChoice choice;
    choice.MainFile = files.MainFile;
    choice.UpdatesFile = files.UpdatesFile;
    if (!files.Success) {
        choice.Message = files.Message;
        return choice;
    }
    const std::string source = files.UpdatesFile.empty()
                                   ? "file: " + files.MainFile
                                   : "files: " + files.MainFile + " and " + files.UpdatesFile;
    const std::vector<std::string>& lines = files.Lines;
    // Line 1 indices run over 0 .. last, all even.
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(lines.size() & ~size_t{1});
    const std::ptrdiff_t last = n - 2;

    auto take = [&](std::ptrdiff_t k, double offset) {
        choice.Line1 = lines[static_cast<size_t>(k)];
        choice.Line2 = lines[static_cast<size_t>(k) + 1];
        choice.Offset = offset;
        choice.Success = true;
        return choice;
    };
    auto offsetAt = [&](std::ptrdiff_t k) {
        return EpochOfLine(lines[static_cast<size_t>(k)]) - time;
    };

    if (n <= 4) {
        return take(last, offsetAt(last));
    }

    const TDateTime first = EpochOfLine(lines[0]);
    const TDateTime lastEpoch = EpochOfLine(lines[static_cast<size_t>(last)]);
    if (lastEpoch > first) {
        double f = (time - first) / (lastEpoch - first);
        f = f > 0.0 ? std::min(f, 1.0) : 0.0; // a time that is not a number starts at the first
        std::ptrdiff_t k = static_cast<std::ptrdiff_t>(static_cast<double>(last) * f);
        k -= k % 2;
        double d = offsetAt(k);
        if (std::fabs(d) < 2.0) {
            // Too close to tell the direction well: start four sets further off.
            k = std::clamp<std::ptrdiff_t>(d >= 0.0 ? k + 8 : k - 8, 0, last);
            d = offsetAt(k);
        }
        const std::ptrdiff_t step = d < 0.0 ? 2 : -2;
        double offset = d;
        double best = std::fabs(d);
        for (;;) {
            const std::ptrdiff_t next = k + step;
            const bool inside = next >= 0 && next <= last;
            const double nextOffset = inside ? offsetAt(next) : 1000.0;
            if (!inside || std::fabs(nextOffset) > best || std::fabs(offset) < 0.5) {
                break;
            }
            k = next;
            offset = nextOffset;
            best = std::fabs(nextOffset);
        }
        return take(k, offset);
    }

    const std::string& line0 = lines[0];
    const std::string& line1 = lines[1];
    const std::string& lineLast1 = lines[static_cast<size_t>(last)];
    const std::string& lineLast2 = lines[static_cast<size_t>(last) + 1];
    std::string text;
    if (first == 0.0) {
        text = "Could not determine the date of the first Keplers  in " + source +
               ".  The first two lines were seen as: " + CR + CR + line0 + CR + line1;
    } else if (lastEpoch == 0.0) {
        text = "Could not determine the date of the last Keplers  in " + source +
               ".  The last two lines were seen as: " + CR + CR + lineLast1 + CR + lineLast2;
    } else {
        text = "The last Kepler sets in " + source +
               " are dated earlier or the same date as the first Kepler " +
               " sets so I cannot interpolate between them.  Please check " +
               " these file(s) carefully.  The first date found was: " +
               FormatDateTime("yyyy-mmmm-dd hh:nn", first) +
               " and the last date found was: " + FormatDateTime("yyyy-mmmm-dd hh:nn", lastEpoch) +
               ".  The start " + "and end of the file was seen as: " + CR + CR + line0 + CR +
               line1 + CR + CR + lineLast1 + CR + lineLast2;
    }
    notifier.ShowMessage(text);
    return choice;
}

TKeplerData::TKeplerData() : Satellites(std::make_unique<TSatelliteList>()) {}

TKeplerData::~TKeplerData() = default;

void TKeplerData::SetPath(const std::string& path) {
    Path = path;
    Satellites.reset();
    Satellites = std::make_unique<TSatelliteList>(path);
}

int TKeplerData::SatelliteCount() const {
    return Satellites->Count();
}

TElementSetChoice TKeplerData::GetElements(const std::string& satelliteName,
                                           const std::string& catalogueNumber, TDateTime time,
                                           INotifier& notifier) const {
    const TSatellite* listed =
        Satellites->SatelliteAt(Satellites->IndexOfCatalogueNumber(catalogueNumber));
    TElementSetChoice own = SelectElementSet(satelliteName, TarnwickPath, time, notifier);

    if (listed) {
        TElementSetChoice multi;
        multi.Success = true;
        multi.Line1 = listed->Line1;
        multi.Line2 = listed->Line2;
        multi.Offset = EpochOfLine(listed->Line1) - time;
        if (!own.Success) {
            multi.MainFile = Satellites->Folder + listed->SourceFile;
            return multi;
        }
        if (std::fabs(multi.Offset) < std::fabs(own.Offset)) {
            multi.MainFile = listed->SourceFile;
            return multi;
        }
        return own;
    }
    if (!own.Success && !own.Message.empty()) {
        notifier.ShowMessage(own.Message);
    }
    return own;
}

} // namespace vantorel
