#pragma once

// One two-line element set and its propagation with SGP4 (near-earth) or SDP4 (deep
// space), the models of Spacetrack Report No. 3.

#include "common/DateTime.h"
#include "orbit/SGP_Math.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantorel {

class TSatellite {
public:
    TSatellite() = default;

    /// Reads an element set from its two lines (fixed TLE columns; blanks read as "0",
    /// fields that do not convert read as 0), selects the model and leaves the model's
    /// initialisation to the next propagation. Raises EMathError when the elements make
    /// the model selection impossible (a mean motion of 0, an eccentricity of 1 or more);
    /// the set is then unusable until parsed again.
    void ParseElements(const std::string& line1, const std::string& line2);

    /// Position (earth radii) and velocity (earth radii per minute) at a Julian date (UT),
    /// in the model's inertial frame (true equator, mean equinox of date). The first call
    /// after ParseElements initialises the model. Raises EMathError for a numeric
    /// failure of the model or when no set has been parsed; failures include Kepler's
    /// equation unsolved after its iterations, a propagated eccentricity of 1 or more (or
    /// below -0.001), a radius below one earth radius (an orbit decayed by drag) and a
    /// perigee below one earth radius in the elements, each with its own message.
    /// Deep-space sets keep state between calls as the report's model does: the
    /// lunar-solar periodics are reused for calls less than 30 minutes apart, and the
    /// resonance integrator continues from the last time (times moving away from the
    /// epoch give exactly the result of a fresh set).
    void Propagate(double julianDate, TVector& position, TVector& velocity);

    /// As Propagate, at a time given in minutes since the epoch (any finite value).
    void PropagateMinutes(double minutesSinceEpoch, TVector& position, TVector& velocity);

    /// The epoch as a UTC date-time, every two-digit year read as 20YY; 0 before a parse.
    TDateTime EpochDateTime() const;

    // The element set, in the model's units.
    std::string CatalogueNumber;    ///< line 1 columns 3-7, upper-cased, not trimmed
    std::string ElementSetNumber;   ///< line 1 columns 66-68, three digits
    double Epoch = 0.0;             ///< YYDDD.dddddddd as written
    double EpochJD = 0.0;           ///< Julian date of the epoch
    double MeanMotionDot = 0.0;     ///< rad/min^2
    double MeanMotionDotDot = 0.0;  ///< rad/min^3
    double BStar = 0.0;             ///< drag term, 1/earth radii
    double Inclination = 0.0;       ///< rad
    double RightAscension = 0.0;    ///< of the ascending node, rad
    double Eccentricity = 0.0;      ///< dimensionless; an all-zero field gives 1e-10
    double ArgumentOfPerigee = 0.0; ///< rad
    double MeanAnomaly = 0.0;       ///< rad
    double MeanMotion = 0.0;        ///< rad/min, as on the line (Kozai)
    int RevolutionNumber = 0;       ///< revolutions at epoch
    bool DeepSpace = false;         ///< period of 225 minutes or more: SDP4
    bool InitPending = false;       ///< the next propagation initialises the model
    std::string Line1;              ///< the first line, upper-cased
    std::string Line2;              ///< the second line, upper-cased
    std::string SourceFile;         ///< name (no folder) of the file the set came from

    // Annotations from a notes file (TSatelliteList::ReadNotes); kept with the set only.
    std::optional<double> NoteNumber;       ///< the first number of the annotation
    std::optional<double> NoteSignedNumber; ///< the second number, written with + or -
    std::optional<TDateTime> NoteDateTime;  ///< the "LD=" date-time, UTC
    std::string Note;                       ///< the remaining text

private:
    void Initialise();
    void InitialiseDeepSpace();
    void PropagateNearEarth(double t, TVector& position, TVector& velocity) const;
    void PropagateDeepSpace(double t, TVector& position, TVector& velocity);
    void DeepSecular(double t, double& xll, double& omgasm, double& xnodes, double& em,
                     double& xinc, double& xn);
    void DeepPeriodic(double t, double& em, double& xinc, double& omgasm, double& xnodes,
                      double& xll);
    void Finish(double a, double e, double xl, double omega, double xnode, double xinc,
                TVector& position, TVector& velocity) const;

    bool usable_ = false; ///< a set was parsed and the model selection succeeded

    // Quantities recovered at the selection and common to both models.
    double xnodp_ = 0.0; ///< un-Kozai'd mean motion, rad/min
    double aodp_ = 0.0;  ///< semi-major axis, earth radii

    // Initialised coefficients (names of the report).
    struct Coefficients {
        bool isimp = false;
        double cosio = 0, sinio = 0, x3thm1 = 0, x1mth2 = 0, x7thm1 = 0;
        double eta = 0, c1 = 0, c4 = 0, c5 = 0, d2 = 0, d3 = 0, d4 = 0;
        double xmdot = 0, omgdot = 0, xnodot = 0, omgcof = 0, xmcof = 0, xnodcf = 0;
        double t2cof = 0, t3cof = 0, t4cof = 0, t5cof = 0, xlcof = 0, aycof = 0;
        double delmo = 0, sinmo = 0;
        // Kept for the deep-space initialisation.
        double eosq = 0, betao = 0, betao2 = 0, theta2 = 0;
    } k_;

    // Deep-space state: lunar-solar coefficients, resonance terms and the integrator.
    struct DeepSpaceState {
        double thgr = 0, xnq = 0, xqncl = 0, omegaq = 0, zmol = 0, zmos = 0, savtsn = 1e20;
        double sse = 0, ssi = 0, ssl = 0, ssh = 0, ssg = 0;
        double se2 = 0, si2 = 0, sl2 = 0, sgh2 = 0, sh2 = 0, se3 = 0, si3 = 0, sl3 = 0;
        double sgh3 = 0, sh3 = 0, sl4 = 0, sgh4 = 0;
        double ee2 = 0, e3 = 0, xi2 = 0, xi3 = 0, xl2 = 0, xl3 = 0, xl4 = 0;
        double xgh2 = 0, xgh3 = 0, xgh4 = 0, xh2 = 0, xh3 = 0;
        // Periodics kept between calls less than 30 minutes apart.
        double pe = 0, pinc = 0, pl = 0, sghs = 0, sghl = 0, shs = 0, shl = 0;
        bool resonant = false, synchronous = false;
        double d2201 = 0, d2211 = 0, d3210 = 0, d3222 = 0, d4410 = 0, d4422 = 0;
        double d5220 = 0, d5232 = 0, d5421 = 0, d5433 = 0;
        double del1 = 0, del2 = 0, del3 = 0, xlamo = 0, xfact = 0;
        double xli = 0, xni = 0, atime = 0;
    } ds_;
};

/// The satellites of the multi-Kepler folder: names kept sorted and unique (compared
/// without regard to case), each owning the newest element set found for it.
class TSatelliteList {
public:
    /// An empty list.
    TSatelliteList() = default;
    /// The list of a folder: every "*.2li", "*.tle" and "*.txt" file in it, in that order,
    /// is loaded; notes files ("TLEnotes*") are set aside and the ".txt" ones read as
    /// notes afterwards. A missing folder, or an empty folder name, gives an empty list.
    explicit TSatelliteList(const std::string& folder);

    TSatelliteList(const TSatelliteList&) = delete;
    TSatelliteList& operator=(const TSatelliteList&) = delete;

    /// The folder of the element files, ending in a path delimiter.
    std::string Folder;

    /// Reads one file of three-line element sets with LoadFromText; a missing or
    /// unreadable file is ignored.
    void LoadFromFile(const std::string& fileName);

    /// Reads three-line element sets (name, line 1, line 2) from the text of a file. A
    /// record that fails is skipped and reading goes on at the current line. fileName
    /// names the source: its name without folder becomes the sets' SourceFile.
    void LoadFromText(std::string_view text, const std::string& fileName);

    /// Adds or replaces the set of one satellite: refused unless line 1 starts with "1",
    /// line 2 with "2" and both carry the same non-blank catalogue number in columns 3-7.
    /// An existing entry with the catalogue number (else the name) is replaced only by a
    /// newer epoch. Returns the set kept for the satellite, or nullptr when the set was
    /// refused. Raises EMathError when the elements cannot be modelled.
    TSatellite* AddElementSet(const std::string& fileName, const std::string& name,
                              const std::string& line1, const std::string& line2);

    /// Index of the first satellite (in name order) whose catalogue number equals the
    /// upper-cased text, which must have exactly 5 characters; -1 when none.
    int IndexOfCatalogueNumber(const std::string& number) const;
    /// Index of a name (case ignored), -1 when absent.
    int IndexOf(const std::string& name) const;
    /// The set at an index, nullptr outside 0 .. Count() - 1.
    TSatellite* SatelliteAt(int index) const;
    /// The name at an index (0 .. Count() - 1).
    const std::string& Name(int index) const;
    int Count() const { return static_cast<int>(order_.size()); }

    /// Reads a notes file with ReadNotesFromText; a missing or unreadable file is ignored.
    void ReadNotes(const std::string& fileName);

    /// Reads the text of a notes file: annotations "catalogue number, number [+/-number]
    /// [LD=date-time] [note]" for satellites of the list; ";" starts a comment.
    void ReadNotesFromText(std::string_view text);

    /// Frees every set and empties the list.
    void Clear();

    /// A name line as the list keeps it: its first 24 characters, trimmed, upper-cased,
    /// with the pre-launch names "NOAA-L", "NOAA-M" and "NOAA-N" replaced by the flight
    /// names.
    static std::string LoadTimeName(const std::string& nameLine);

private:
    /// Names in order, case ignored.
    struct TNameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using TEntries = std::map<std::string, std::unique_ptr<TSatellite>, TNameLess>;

    /// AddElementSet without the index by position, which Reindex then makes once for
    /// a whole file (else loading would grow with the square of the sets).
    TSatellite* AddOne(const std::string& fileName, const std::string& name,
                       const std::string& line1, const std::string& line2);
    void Reindex();

    TEntries entries_;
    std::map<std::string, std::string> byCatalogue_; ///< catalogue number -> name
    std::vector<const TEntries::value_type*> order_; ///< entries_ by position
};

} // namespace vantorel
