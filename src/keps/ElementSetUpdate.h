#pragma once

// Fresh element sets for the multi-Kepler folder: fetched from one or more URLs, checked,
// and written beside the older files (which the set choice still uses for past passes)
// under a dated name. The window's button and `vantorel-cli keps update` both come here.

#include "common/DateTime.h"
#include "keps/Download.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// CelesTrak's "weather" group in the three-line TLE layout: every Meteor-M N2 satellite.
inline constexpr std::string_view kDefaultElementSetUrl =
    "https://celestrak.org/NORAD/elements/gp.php?GROUP=weather&FORMAT=tle";

/// The catalogue numbers of the Meteor-M N2 series: the sets an update must bring.
std::vector<std::string> MeteorCatalogueNumbers();

/// What to fetch, what it must hold and where it goes.
struct TElementSetUpdateRequest {
    /// Fetched in order; every one must succeed, and their texts go into one file.
    std::vector<std::string> Urls{std::string(kDefaultElementSetUrl)};
    /// The multi-Kepler folder; it must exist. Nothing is written anywhere else.
    std::string KeplerFolder;
    /// Five-digit catalogue numbers whose sets must be among those fetched.
    std::vector<std::string> RequiredCatalogueNumbers = MeteorCatalogueNumbers();
    /// For each URL.
    TDownloadLimits Limits;
    /// The file is <stem>-YYYY-MM-DD.txt (the UTC date of the clock in use), or
    /// <stem>-YYYY-MM-DD-N.txt (N = 2, 3, ...) when a different file has that name.
    std::string FileStem = "weather";
};

/// One fetched set of a required satellite.
struct TFetchedSet {
    std::string Name;            ///< as the file spells it ("METEOR-M2 3")
    std::string CatalogueNumber; ///< five digits
    TDateTime Epoch = 0.0;       ///< UTC
};

/// What an update did.
struct TElementSetUpdate {
    enum class TOutcome {
        Written,        ///< a new file is in the folder
        AlreadyPresent, ///< a file of the day holds the same bytes: nothing written
        Failed          ///< nothing in the folder changed; Report says why
    };
    TOutcome Outcome = TOutcome::Failed;
    std::string FileName;          ///< full path of the file written or found; "" on failure
    int SetCount = 0;              ///< sets in everything fetched
    std::vector<TFetchedSet> Sets; ///< the required satellites' sets, in the request's order
    /// Lines for the user: what was fetched, where it went and each required set's epoch;
    /// or, on failure, one line with the URL and the status or network error.
    std::vector<std::string> Report;
};

/// Fetches every URL of the request, checks that each reply holds at least one
/// three-line element set and that together they hold every required satellite, and
/// writes their texts, joined, to a dated file in the Kepler folder (a temporary file
/// in that folder renamed into place, never over an existing file). On any failure
/// nothing in the folder changes. Blocks like Download. Never throws for a failure of
/// the network, the content or the folder.
TElementSetUpdate UpdateElementSets(const TElementSetUpdateRequest& request);

/// The URLs of a setting's text: separated by spaces, tabs, line breaks or "|".
std::vector<std::string> SplitElementSetUrls(std::string_view text);

/// The URLs kept in the "KepsUrls" value under the program's registry key, or
/// kDefaultElementSetUrl when it is absent or holds none. Unreadable settings count as
/// absent.
std::vector<std::string> ConfiguredElementSetUrls();

/// An element file of a folder and when it last changed.
struct TElementFile {
    std::string FileName; ///< full path
    TDateTime Modified;   ///< UTC
};

/// The most recently modified "*.txt", "*.tle" or "*.2li" file of a folder (notes files,
/// "TLEnotes*", left out); nullopt when there is none.
std::optional<TElementFile> NewestElementFile(const std::string& folder);

} // namespace vantorel
