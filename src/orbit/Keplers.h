#pragma once

// Choice of the element set for one satellite and one time, from the multi-Kepler
// satellite list and from the per-satellite history files in "Keps/" and
// "Keps/Updates/" beside the program. Settings are not read here: the caller hands in
// the one value the folder search needs.

#include "common/DateTime.h"
#include "orbit/Satellite.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

class INotifier;

/// Epoch of an element line 1 as a UTC date-time: the two-digit year of columns 19-20
/// (below 57 read as 20YY, else 19YY; not a number reads as 2000) and the day of columns
/// 21-32 ("." as decimal separator). 0 when the line does not begin with "1" or the day
/// is not a number below 367.
TDateTime EpochOfLine(const std::string& line);

/// True when the trimmed line is exactly 69 characters long and the line as given begins
/// with "1" or "2".
bool IsElementLine(const std::string& line);

/// Drops, from the third set on (line index 4, 6, ...), every set whose revolution
/// number (line 2 columns 64-68) is lower than that of the set kept before it, except
/// where the five-digit counter wrapped (previous above 99500, this one below 500). A
/// set that cannot be read counts as revolution 0. Lists of fewer than six lines, or
/// whose third set cannot be read, are left alone.
void RemoveOutOfOrderSets(std::vector<std::string>& lines);

/// The per-satellite Kepler folder beside the program: the first existing of
/// ProgramFolder() + "Keps/", ProgramFolder() + "../Keps/", and the "Keps/" folder
/// beside tarnwickPath (one level up when that folder is a "/source/" folder; the
/// relative "Keps/" when tarnwickPath is empty). Empty when none exists.
/// tarnwickPath: the executable path the vendor's App Paths key keeps under "Tarnwick"
/// (the caller reads it from the settings), "" when there is none.
std::string KeplerFolder(const std::string& tarnwickPath);

/// What FindKeplerFiles found.
struct TKeplerFiles {
    bool Success = false;
    std::string MainFile;           ///< full path of <name>.txt, "" when it does not exist
    std::string UpdatesFile;        ///< full path of Updates/<name>.txt, "" when absent
    std::vector<std::string> Lines; ///< element lines, set k at lines 2k and 2k + 1
    std::string Message;            ///< why it failed, for the user ("" on success)
};

/// One per-satellite Kepler file as text.
struct TKeplerText {
    std::string FileName; ///< full path: reported as the file the set came from and in messages
    std::string_view Bytes;
};

/// The per-satellite history of a satellite (canonical name, for example "METEOR-M2")
/// from the text of its files, either of which may be absent (nullopt): the main file's
/// lines as they stand, then the trimmed element lines of the updates file; non-element
/// lines at both ends are dropped and out-of-order sets removed. Fails, with the user's
/// message, when the list does not start with a line 1 and a line 2. Reads no file.
TKeplerFiles ParseKeplerFiles(const std::string& satelliteName,
                              const std::optional<TKeplerText>& main,
                              const std::optional<TKeplerText>& updates);

/// Finds the per-satellite files in KeplerFolder(tarnwickPath), reads them and parses
/// them with ParseKeplerFiles. Fails, with the user's message, when the folder or both
/// files are missing; a file that exists but cannot be read counts as absent.
TKeplerFiles FindKeplerFiles(const std::string& satelliteName, const std::string& tarnwickPath);

/// An element set chosen for a time.
struct TElementSetChoice {
    bool Success = false;
    std::string Line1;
    std::string Line2;
    double Offset = 0.0;     ///< epoch of the set minus the requested time, days
    std::string MainFile;    ///< file the set came from
    std::string UpdatesFile; ///< updates file that contributed, or ""
    std::string Message;     ///< why it failed when not shown already ("" otherwise)
};

/// The set of a per-satellite history whose epoch lies nearest the time (UTC): with one
/// or two sets the last of them, otherwise an interpolated start and a walk to the
/// nearest set, stopping at the first one within half a day. The three messages about
/// undatable or unordered histories are shown at once through the notifier; a history
/// that failed to read gives its message in Message.
TElementSetChoice SelectElementSet(const TKeplerFiles& files, TDateTime time, INotifier& notifier);

/// SelectElementSet on FindKeplerFiles(satelliteName, tarnwickPath).
TElementSetChoice SelectElementSet(const std::string& satelliteName,
                                   const std::string& tarnwickPath, TDateTime time,
                                   INotifier& notifier);

/// The element-set sources of one satellite: the multi-Kepler folder's list and the
/// per-satellite history files.
class TKeplerData {
public:
    TKeplerData();
    ~TKeplerData();
    TKeplerData(const TKeplerData&) = delete;
    TKeplerData& operator=(const TKeplerData&) = delete;

    /// Sets the multi-Kepler folder and rebuilds the satellite list from it.
    void SetPath(const std::string& path);
    /// Number of satellites in the multi-Kepler list.
    int SatelliteCount() const;

    /// The set nearest the time (UTC) from either source: the smaller absolute offset
    /// wins, the per-satellite set on a tie. A multi-Kepler set reports its file (name
    /// only when both sources had a set, full path when only it had one) and no updates
    /// file. When neither source has a set, the per-satellite message (if any) is shown.
    TElementSetChoice GetElements(const std::string& satelliteName,
                                  const std::string& catalogueNumber, TDateTime time,
                                  INotifier& notifier) const;

    std::string Path;                           ///< the multi-Kepler folder exactly as given
    std::unique_ptr<TSatelliteList> Satellites; ///< built from Path
    /// The "Tarnwick" App Paths value (see KeplerFolder), set by the application from its
    /// settings; "" leaves that folder out of the search.
    std::string TarnwickPath;
};

} // namespace vantorel
