#include "session/SessionData.h"

#include "alignment/ThinnedShores.h"
#include "cartography/BoundaryIndex.h"
#include "common/Files.h"
#include "common/Parallel.h"
#include "common/Program.h"
#include "common/TextFile.h"
#include "imaging/Canvas.h"

#include <exception>
#include <future>
#include <optional>
#include <thread>
#include <vector>

namespace vantorel {

std::string DataFilePath(const std::string& name) {
    const std::string beside = ProgramFolder() + name;
    if (FileExists(beside)) {
        return beside;
    }
    const std::string installed = ExpandFileName(ProgramFolder() + "../share/vantorel/" + name);
    return FileExists(installed) ? installed : beside;
}

TSessionData::~TSessionData() {
    Settle();
}

void TSessionData::Settle() const {
    Wait();
    if (fonts_.joinable()) {
        const_cast<std::thread&>(fonts_).join();
    }
}

void KeepUntilExit(std::shared_ptr<const TSessionData> data) {
    if (!data) {
        return;
    }
    // No thread of theirs may be left running into the process's end.
    data->Settle();
    static std::mutex lock;
    static auto* kept = new std::vector<std::shared_ptr<const TSessionData>>();
    const std::lock_guard guard(lock);
    kept->push_back(std::move(data));
}

void TSessionData::Wait() const {
    std::call_once(read_, [this] {
        if (reader_.joinable()) {
            const_cast<std::thread&>(reader_).join();
        }
    });
}

const TCartogList& TSessionData::Boundaries() const {
    Wait();
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    return boundaries_;
}

const TCoastLines& TSessionData::Coasts() const {
    Boundaries();
    return *coasts_;
}

std::shared_ptr<const TSessionData> LoadSessionData(TPointReading points) {
    auto data = std::make_shared<TSessionData>();
    // Every thread starts before the text module loads: none could start while it does,
    // which takes tens of milliseconds (the reader waited 13 ms for it).
    StartParts();
    std::promise<TCartogList::TBoundaryPlan> planned; // broken where the planning throws
    TSessionData& reading = *data;
    data->reader_ = std::thread([&reading, points, plan = planned.get_future()]() mutable {
        try {
            const TCartogList::TBoundaryPlan files = plan.get();
            reading.boundaries_.LoadPlanned(files, points);
            std::shared_ptr<const TThinnedShores> thinned;
            if (auto opened = TThinnedShores::Open(DataFilePath(kThinnedShoresFile))) {
                thinned = std::make_shared<const TThinnedShores>(std::move(*opened));
            }
            reading.coasts_ =
                std::make_unique<const TCoastLines>(reading.boundaries_, std::move(thinned));
        } catch (...) {
            reading.failure_ = std::current_exception();
        }
    });
    data->fonts_ = std::thread([] {
        YieldCoresToOthers(); // wanted once the pass is drawn
        try {
            PrepareFonts();
        } catch (const std::exception&) {
            // A text module that cannot be loaded is told by the first text drawn.
        }
    });
    data->CalibrationFile = DataFilePath("Scanner.cal");
    const auto calibrationText = ReadFileBytes(data->CalibrationFile);
    data->CalibrationRead = calibrationText.has_value();
    data->Calibrations = ParseScannerCalibrations(calibrationText.value_or(""));
    const std::string fineBoundaries = DataFilePath("Boundaries.b");
    data->Stations.LoadFromFile(DataFilePath("Stations.dat"));
    // The files' segments are found here; their points are read meanwhile, or as they are
    // asked for. Those of a run are found from the index made with the program, where it
    // fits the boundary file: the run reads only the pages of the segments it draws. Read
    // whole, the file is walked through anyway.
    const std::optional<TBoundaryIndex> index =
        points == TPointReading::AsAsked ? TBoundaryIndex::Open(DataFilePath(kBoundaryIndexFile))
                                         : std::nullopt;
    TCartogList::TBoundaryPlan plan = TCartogList::PlanBoundaryFiles(
        FileExists(fineBoundaries) ? fineBoundaries : DataFilePath("Countries.dat"),
        index ? &*index : nullptr);
    data->BoundaryFile = plan.FirstFileName();
    data->BoundaryCount = plan.Count();
    planned.set_value(std::move(plan));
    return data;
}

} // namespace vantorel
