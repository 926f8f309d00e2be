#include "batch/HeadlessRun.h"

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Version.h"
#include "orbit/Orbits.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"

#include <chrono>
#include <cmath>

namespace vantorel {
const char* IssueName(TPassIssue issue) {
    switch (issue) {
    case TPassIssue::None:
        return "None";
    case TPassIssue::FileNotFound:
        return "FileNotFound";
    case TPassIssue::NoElementSet:
        return "NoElementSet";
    case TPassIssue::ElementSetFiles:
        return "ElementSetFiles";
    case TPassIssue::StaleElementSet:
        return "StaleElementSet";
    case TPassIssue::UnsuitableChannel:
        return "UnsuitableChannel";
    case TPassIssue::NoDateInName:
        return "NoDateInName";
    case TPassIssue::ElementSetNotContemporary:
        return "ElementSetNotContemporary";
    case TPassIssue::MissingStat:
        return "MissingStat";
    case TPassIssue::ImageCutShort:
        return "ImageCutShort";
    case TPassIssue::TooFewLines:
        return "TooFewLines";
    case TPassIssue::InvalidOrbit:
        return "InvalidOrbit";
    case TPassIssue::FitFailed:
        return "FitFailed";
    case TPassIssue::StageFailed:
        return "StageFailed";
    case TPassIssue::NoColumns:
        return "NoColumns";
    case TPassIssue::LineTimes:
        return "LineTimes";
    case TPassIssue::PassTooLong:
        return "PassTooLong";
    case TPassIssue::NoPassTime:
        return "NoPassTime";
    case TPassIssue::StatNotUsed:
        return "StatNotUsed";
    case TPassIssue::StatLineCount:
        return "StatLineCount";
    case TPassIssue::ElementSetChecksum:
        return "ElementSetChecksum";
    case TPassIssue::NotMeteorOrbit:
        return "NotMeteorOrbit";
    case TPassIssue::NoElementSetNearPass:
        return "NoElementSetNearPass";
    case TPassIssue::SatelliteSilent:
        return "SatelliteSilent";
    case TPassIssue::FitResidual:
        return "FitResidual";
    case TPassIssue::CoastsMismatch:
        return "CoastsMismatch";
    case TPassIssue::PassTimeNotFound:
        return "PassTimeNotFound";
    }
    return "Unknown";
}

THeadlessRun::THeadlessRun(const TRunSetup& setup, const std::string& input, std::ostream& out,
                           std::ostream& err, std::shared_ptr<const TSessionData> data)
    : notifier_(err), input_(input) {
    run_.Setup = setup;
    run_.Setup.RequirePassTime = true; // unattended: no picture placed for a time nobody gave
    run_.Diags().OnAdd = [this, &out](const std::string& line) {
        account_.push_back(line);
        out << line << "\n";
    };
    const auto started = std::chrono::steady_clock::now();
    if (!data) {
        // A run of its own: the text module loads while its data are read; the session
        // makes the labels' application once there is a pass to draw.
        data = LoadSessionData(TPointReading::AsAsked);
    }
    run_.Start(std::move(data), "Vantorel - V" + std::string(kVersion),
               TPassSatellite::Of(setup.Satellite));
    startMs_ = MillisecondsSince(started);
    const bool product = IsDecoderOutput(InputKindOf(input_));
    if (run_.Sources().ElementSet() == nullptr && !product) {
        err << "vantorel-cli: no element set for " << setup.Satellite.DisplayName << " ("
            << setup.Satellite.CatalogueNumber << ") in the Kepler folder \""
            << run_.Sources().KeplerFolder() << "\" (choose it with --keplers DIR)\n";
    }
    if (!FileExists(input_) && !DirectoryExists(input_)) {
        err << "vantorel-cli: no such file: " << input_ << "\n";
        errors_.push_back({IssueName(TPassIssue::FileNotFound), "no such file", ""});
        return;
    }
    if (setup.Composite && !product) {
        const std::string why = "--composite needs a SatDump product: its folder, its "
                                "product.cbor or a picture in it";
        errors_.push_back({IssueName(TPassIssue::StageFailed), why, ""});
        return;
    }
    const auto processing = std::chrono::steady_clock::now();
    processed_ = run_.ProcessFile(input_,
                                  [&](const TReportEntry& e) {
                                      Note(e);
                                      // An error inside a stage ends the command as any other
                                      // failure of the work does.
                                      if (e.Kind == TReportEntry::TKind::Error &&
                                          e.Issue == TPassIssue::StageFailed) {
                                          stageError_ = e.Text;
                                          return;
                                      }
                                      Deliver(e, run_.Diags(), notifier_);
                                  })
                     .Finished;
    processingMs_ = MillisecondsSince(processing);
    if (stageError_) {
        processed_ = false;
        return;
    }
    const TPassResult* pass = run_.Pass();
    if (processed_ && pass != nullptr &&
        std::fabs(pass->ElementSet.DaysFromPass) > kFarElementSetDays) {
        const double days = std::fabs(pass->ElementSet.DaysFromPass);
        err << Format("vantorel-cli: the element set is %.1f days from the pass\n", days);
        warnings_.push_back({"ElementSetFarFromPass",
                             Format("the element set is %.1f days from the pass", days), ""});
        warned_ = true;
    }
    if (processed_ && setup.Offset) {
        run_.SetOffsets(setup.Offset->first, setup.Offset->second);
        run_.Redraw();
        offsetGiven_ = true;
    }
    out.flush();
}

void THeadlessRun::Note(const TReportEntry& e) {
    if (e.Kind == TReportEntry::TKind::Account) {
        if (e.Alignment) {
            alignment_ = e.Alignment;
        }
        return;
    }
    TRunIssue issue{IssueName(e.Issue), PlainLineBreaks(e.Text), e.Caption};
    if (e.Kind == TReportEntry::TKind::Error) {
        errors_.push_back(std::move(issue));
        return;
    }
    warnings_.push_back(std::move(issue));
    if (e.Issue != TPassIssue::StaleElementSet) {
        warned_ = true;
    }
}

} // namespace vantorel
