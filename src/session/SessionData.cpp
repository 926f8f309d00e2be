#include "session/SessionData.h"

#include "common/Files.h"
#include "common/Program.h"
#include "common/TextFile.h"

namespace vantorel {

std::string DataFilePath(const std::string& name) {
    const std::string beside = ProgramFolder() + name;
    if (FileExists(beside)) {
        return beside;
    }
    const std::string installed = ExpandFileName(ProgramFolder() + "../share/vantorel/" + name);
    return FileExists(installed) ? installed : beside;
}

std::shared_ptr<const TSessionData> LoadSessionData() {
    auto data = std::make_shared<TSessionData>();
    data->CalibrationFile = DataFilePath("Scanner.cal");
    const auto calibrationText = ReadFileBytes(data->CalibrationFile);
    data->CalibrationRead = calibrationText.has_value();
    data->Calibrations = ParseScannerCalibrations(calibrationText.value_or(""));
    const std::string fineBoundaries = DataFilePath("Boundaries.b");
    data->Stations.LoadFromFile(DataFilePath("Stations.dat"));
    data->Boundaries.LoadBoundaryFiles(FileExists(fineBoundaries) ? fineBoundaries
                                                                  : DataFilePath("Countries.dat"));
    data->Coasts = std::make_unique<const TCoastLines>(data->Boundaries);
    return data;
}

} // namespace vantorel
