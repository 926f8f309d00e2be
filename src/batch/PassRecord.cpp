#include "batch/PassRecord.h"

#include "batch/HeadlessRun.h"
#include "common/DateTime.h"
#include "common/Version.h"

#include <algorithm>
#include <cmath>

namespace vantorel {
namespace {

const char* StartSourceName(TStartSource source) {
    switch (source) {
    case TStartSource::None:
        return "none";
    case TStartSource::FileName:
        return "file name";
    case TStartSource::Stat:
        return "stat";
    case TStartSource::Product:
        return "product";
    case TStartSource::Given:
        return "given";
    case TStartSource::Coasts:
        return "coasts";
    }
    return "none";
}

TJson Issues(const std::vector<TRunIssue>& issues) {
    TJson list = TJson::array();
    for (const TRunIssue& i : issues) {
        list.push_back({{"type", i.Type}, {"text", i.Text}, {"caption", i.Caption}});
    }
    return list;
}

TJson Fit(const TPassResult& pass) {
    const TResidualFigures& r = pass.ResidualFit;
    return {{"fitted", pass.Fitted},
            {"rotation_deg", pass.Mapping.RotationDegrees()},
            {"mid_altitude_km", pass.MidAltitude},
            {"residual_rms_px", r.Points > 0 ? TJson(r.Rms) : TJson()},
            {"residual_max_px", r.Points > 0 ? TJson(r.Largest) : TJson()}};
}

TJson Offsets(const THeadlessRun& h, const TPassResult& pass) {
    const TPassSession& run = h.Run();
    const std::optional<TAlignmentFigures>& a = h.Alignment();
    TJson j = {{"line", run.LineOffset()},
               {"pixel", run.PixelOffset()},
               {"default_line", pass.LineOffset},
               {"default_pixel", pass.PixelOffset},
               {"from", h.OffsetGiven()     ? "given"
                        : a && a->Confident ? "aligned"
                                            : "default"}};
    j["alignment"] = a ? TJson{{"confident", a->Confident},
                               {"confidence", a->Confidence},
                               {"line", a->LineOffset},
                               {"pixel", a->PixelOffset},
                               {"doubt", a->Doubt}}
                       : TJson();
    return j;
}

} // namespace

int ExitCode(TRunStatus status) {
    switch (status) {
    case TRunStatus::Done:
        return 0;
    case TRunStatus::Warnings:
        return 3;
    case TRunStatus::Failed:
        return 1;
    }
    return 1;
}

TRunStatus Worst(TRunStatus a, TRunStatus b) {
    return std::max(a, b); // declared from best to worst
}

const char* StatusName(TRunStatus status) {
    switch (status) {
    case TRunStatus::Done:
        return "done";
    case TRunStatus::Warnings:
        return "warnings";
    case TRunStatus::Failed:
        return "failed";
    }
    return "failed";
}

std::string JsonText(const TJson& json) {
    return json.dump(2, ' ', false, TJson::error_handler_t::replace) + "\n";
}

std::string IsoUtc(double dateTime) {
    return FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss.zzz\"Z\"", dateTime);
}

TJson RunFacts(const THeadlessRun& h) {
    const TPassSession& run = h.Run();
    const TPassResult* pass = run.Pass();
    const TPassSatellite& satellite = pass != nullptr ? pass->Satellite : run.ChosenSatellite();
    TJson j;
    j["satellite"] = {{"name", satellite.DisplayName},
                      {"catalogue_number", satellite.CatalogueNumber}};
    if (pass != nullptr) {
        j["element_set"] = {{"epoch", IsoUtc(pass->ElementSet.Epoch)},
                            {"file", pass->ElementSet.Source},
                            {"age_days", -pass->ElementSet.DaysFromPass}};
        j["pass"] = {{"start", IsoUtc(pass->Times.Start)},
                     {"start_from", StartSourceName(pass->Times.StartFrom)},
                     {"line_period_s", pass->Times.Period * kSecondsPerDay},
                     {"direction", pass->Northbound ? "northbound" : "southbound"},
                     {"lines", pass->Channel.Height()},
                     {"width", pass->Channel.Width()}};
        j["fit"] = Fit(*pass);
        j["scanner"] = {{"calibrated", pass->Scanner.Calibrated},
                        {"measured", pass->Scanner.Measured},
                        {"calibration", pass->Scanner.Calibration}};
        j["offsets"] = Offsets(h, *pass);
    } else {
        for (const char* field : {"element_set", "pass", "fit", "scanner", "offsets"}) {
            j[field] = nullptr;
        }
    }
    j["warnings"] = Issues(h.Warnings());
    j["errors"] = Issues(h.Errors());
    j["account"] = h.Account();
    j["timings_ms"] = {{"start", h.StartMilliseconds()},
                       {"processing", h.ProcessingMilliseconds()},
                       {"alignment", pass != nullptr && h.Alignment()
                                         ? TJson(h.Alignment()->Milliseconds)
                                         : TJson()}};
    return j;
}

TJson RecordJson(const TPassRecord& r) {
    TJson j = {{"input", r.Input},
               {"kind", r.Kind.empty() ? TJson() : TJson(r.Kind)},
               {"status", StatusName(r.Status)},
               {"exit", ExitCode(r.Status)},
               {"output", r.Output.empty() ? TJson() : TJson(r.Output)},
               {"failure", r.Failure.empty() ? TJson() : TJson(r.Failure)}};
    // An input refused before its run has none of the run's fields filled.
    for (const char* field : {"satellite", "element_set", "pass", "fit", "scanner", "offsets"}) {
        j[field] = nullptr;
    }
    for (const char* field : {"warnings", "errors", "account"}) {
        j[field] = TJson::array();
    }
    j["timings_ms"] = TJson::object();
    j.update(r.Facts);
    j["timings_ms"]["writing"] = r.WritingMilliseconds;
    j["timings_ms"]["total"] = r.TotalMilliseconds;
    return j;
}

TStatusCounts CountStatuses(const std::vector<TPassRecord>& records) {
    TStatusCounts n;
    for (const TPassRecord& r : records) {
        ++(r.Status == TRunStatus::Done       ? n.Done
           : r.Status == TRunStatus::Warnings ? n.Warnings
                                              : n.Failed);
    }
    return n;
}

TRunStatus BatchStatus(const std::vector<TPassRecord>& records) {
    TRunStatus worst = records.empty() ? TRunStatus::Failed : TRunStatus::Done;
    for (const TPassRecord& r : records) {
        worst = Worst(worst, r.Status);
    }
    return worst;
}

int BatchExitCode(const std::vector<TPassRecord>& records, const std::string& command) {
    return records.empty() && command == "watch" ? 0 : ExitCode(BatchStatus(records));
}

TJson ReportJson(const std::vector<TPassRecord>& records, const TReportContext& context) {
    const TStatusCounts n = CountStatuses(records);
    TJson passes = TJson::array();
    for (const TPassRecord& r : records) {
        passes.push_back(RecordJson(r));
    }
    return {{"version", kReportVersion},
            {"program", std::string("vantorel-cli ") + kVersion},
            {"command", context.Command},
            {"started", context.Started},
            {"finished", context.Finished},
            {"jobs", context.Jobs},
            {"summary",
             {{"inputs", records.size()},
              {"done", n.Done},
              {"warnings", n.Warnings},
              {"failed", n.Failed},
              {"exit", BatchExitCode(records, context.Command)}}},
            {"passes", passes}};
}

} // namespace vantorel
