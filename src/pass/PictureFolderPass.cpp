// The run of a SatDump MSU-MR folder that has its pictures and dataset.json but no
// product.cbor: nothing times its lines but the scanner's own rate, and nothing tells when
// the first was scanned but the picture's coasts.
#include "pass/PassPipeline.h"

#include "common/Files.h"
#include "common/Format.h"
#include "orbit/MeteorSeries.h"
#include "orbit/Satellite.h"
#include "pass/inputs/ChannelImage.h"
#include "pass/inputs/SatDumpProduct.h"

namespace vantorel {

TPassOutcome ProcessSatDumpPictureFolder(const std::string& path, const TProductOptions& options,
                                         TPassSources& sources, TPassReport& report,
                                         const TStartFinder& findStart) {
    TPassOutcome outcome;
    report.Account("Processing: " + ExpandFileName(path));
    try {
        const TSatDumpPictureFolder folder = OpenSatDumpPictureFolder(path, options.Channel);
        const std::string picture = ExtractFileName(folder.ImagePath);
        report.Account("SatDump pictures without a product.cbor: channel " + folder.Channel +
                       " (" + picture + "), " + folder.DatasetFile +
                       (folder.Dataset.Time
                            ? FormatDateTime("\" says \"yyyy-mm-dd hh:nn:ss \"UTC\"",
                                             *folder.Dataset.Time)
                            : std::string(" gives no time")));

        const auto named = folder.Dataset.Satellite
                               ? FindMeteorSatellite(*folder.Dataset.Satellite)
                               : std::nullopt;
        if (options.Satellite) {
            sources.Choose(*options.Satellite);
            if (named && named->CatalogueNumber != options.Satellite->CatalogueNumber) {
                report.Account("  dataset.json names " + std::string(named->DisplayName) +
                               "; --satellite chose " + options.Satellite->DisplayName);
            }
        } else if (named) {
            sources.Choose(TPassSatellite::Of(*named));
        } else {
            report.Account("  dataset.json names no satellite of the Meteor-M N2 series: the "
                           "chosen one is taken");
        }
        if (SatelliteAndItsSet(sources, report) == nullptr) {
            return outcome;
        }

        TChannelImage image = LoadChannelImage(folder.ImagePath);
        if (image.Colour) {
            image.Bitmap.ToGreyLevels();
        }
        outcome.ImageFile = folder.ImagePath;
        outcome.Unprocessed = std::make_unique<TExtBitmap>(std::move(image.Bitmap));
        // MSU-MR channel 5 is infrared, dark where cold, as the decoders' channel 68.
        const TEnhancement enhancement =
            folder.Channel == "5" ? TEnhancement::InvertAndStretch : TEnhancement::Equalise;

        TLineTimes times;
        times.Period = kDefaultLinePeriodDays;
        times.PeriodFrom = "the MSU-MR line period";
        if (options.Start) {
            times.Start = *options.Start;
            times.StartFrom = TStartSource::Given;
            report.Account(FormatDateTime(
                "\"Pass start as given: \"yyyy-mm-dd hh:nn:ss.zzz \"UTC\"", times.Start));
        } else {
            if (!folder.Dataset.Time) {
                report.Error(TPassIssue::NoPassTime,
                             picture + ": nothing gives the pass a time (" + folder.DatasetFile +
                                 " has no timestamp): give it with --start TIME (UTC)");
                return outcome;
            }
            TExtBitmap enhanced = *outcome.Unprocessed;
            Enhance(enhanced, enhancement);
            const auto found =
                findStart(enhanced, *folder.Dataset.Time, times.Period, sources, report);
            if (!found) {
                report.Error(TPassIssue::PassTimeNotFound,
                             "The pass time of " + picture +
                                 " could not be found from its coasts near the time " +
                                 folder.DatasetFile +
                                 " gives: no overlay is drawn from a guess (give the first "
                                 "line's time with --start TIME)");
                return outcome;
            }
            times.Start = *found;
            times.StartFrom = TStartSource::Coasts;
        }
        RunPass(outcome, enhancement, times, sources, report);
    } catch (const std::exception& e) {
        outcome.Result.reset();
        report.Error(TPassIssue::StageFailed, e.what());
    }
    return outcome;
}

} // namespace vantorel
