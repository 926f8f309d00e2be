#pragma once

// What every pass of a session reads and none changes: the boundaries, their shores, the
// place marks and the scanner calibrations. Loaded once, then shared by every pass, on
// any thread: each pass draws on a store of its own that shares these segments.

#include "alignment/CoastLines.h"
#include "cartography/zorCartography.h"
#include "common/StringList.h"
#include "orbit/ScannerCalibration.h"

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vantorel {

class TSessionData {
public:
    /// The boundaries: read on a thread of their own from LoadSessionData on, while the
    /// first pass is read and fitted; waited for here. Rethrows what ended the reading.
    const TCartogList& Boundaries() const;
    /// The shores of Boundaries, worked out as passes need them; waits as Boundaries does.
    const TCoastLines& Coasts() const;
    /// What the boundaries will be, known at once.
    std::string BoundaryFile;
    int BoundaryCount = 0;
    /// The place-mark lines of Stations.dat.
    TStringList Stations;
    std::string CalibrationFile;
    /// The file was read (else there are no calibrations).
    bool CalibrationRead = false;
    TScannerCalibrations Calibrations;

    TSessionData() = default;
    TSessionData(const TSessionData&) = delete;
    TSessionData& operator=(const TSessionData&) = delete;
    ~TSessionData();

private:
    friend std::shared_ptr<const TSessionData> LoadSessionData(TPointReading);
    friend void KeepUntilExit(std::shared_ptr<const TSessionData>);
    void Wait() const;
    /// Waits for the reading and for the fonts, as the destructor does.
    void Settle() const;

    TCartogList boundaries_;
    std::unique_ptr<const TCoastLines> coasts_;
    std::thread reader_;
    std::thread fonts_; ///< prepares text drawing meanwhile
    mutable std::once_flag read_;
    std::exception_ptr failure_;
};

/// Where a data file of the program is: the program folder, else ../share/vantorel beside
/// it (the installed layout); the first path when neither holds it.
std::string DataFilePath(const std::string& name);

/// The program's data files: the fine shorelines, lakes and borders of Boundaries.b when
/// installed (Countries.dat otherwise), Stations.dat and Scanner.cal. A file that is
/// missing leaves its part empty. A program that runs for long reads the boundaries'
/// points whole; a run that ends soon, as its passes ask for them.
std::shared_ptr<const TSessionData> LoadSessionData(TPointReading points = TPointReading::Whole);

/// Keeps the data, once their threads are done, until the process ends, never freed: a
/// program that ends after one run leaves their memory to the end of the process, which
/// takes it back at once; freeing their tens of thousands of blocks one by one took 3 ms.
void KeepUntilExit(std::shared_ptr<const TSessionData> data);

} // namespace vantorel
