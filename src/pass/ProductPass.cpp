// The run of a SatDump product: the satellite it names, the element set it brings, and
// a time for each line from its groups of lines.
#include "pass/PassPipeline.h"

#include "common/Files.h"
#include "common/Format.h"
#include "orbit/MeteorSeries.h"
#include "orbit/Satellite.h"
#include "pass/inputs/ChannelImage.h"
#include "pass/inputs/SatDumpProduct.h"

#include <cmath>
#include <limits>

namespace vantorel {
namespace {


// The satellite the product names (dataset.json, else its element set), when it is one of
// the series; else the one chosen.
TPassSatellite ProductSatellite(const TSatDumpSource& source, const TPassSatellite& chosen,
                                TPassReport& report) {
    std::optional<TMeteorSatellite> named = FindMeteorSatellite(source.Satellite);
    if (!named && source.Product.Tle) {
        named = FindMeteorSatellite(source.Product.Tle->CatalogueNumber);
    }
    if (!named) {
        report.Account("  The product names no satellite of the Meteor-M N2 series (\"" +
                       source.Satellite + "\"): the chosen one is taken");
        return chosen;
    }
    return TPassSatellite::Of(*named);
}

// MSU-MR channel 5 is the 10.5-11.5 um infrared: cold cloud tops are dark in it, as on the
// decoders' channel-68 pictures, so it is turned like them.
bool IsThermalChannel(const std::string& channel) {
    return channel == "5";
}

} // namespace

TPassOutcome ProcessSatDumpProduct(const std::string& path, const std::string& channel,
                                   TDateTime now, TPassSources& sources, TPassReport& report) {
    TPassOutcome outcome;
    report.Account("Processing: " + ExpandFileName(path));
    try {
        const TSatDumpSource source = OpenSatDumpProduct(path, channel);
        const TSatDumpImage& image = source.Product.Images[source.ImageIndex];
        report.Account("SatDump product: " + source.ProductFile + ", channel " + image.Channel +
                       " (" + image.File + ")");
        if (!source.DatasetProblem.empty()) {
            report.Account("  dataset.json not used: " + source.DatasetProblem);
        }
        sources.Choose(ProductSatellite(source, sources.Satellite(), report));
        const TPassSatellite& satellite = sources.Satellite();
        report.Account("Satellite: " + satellite.DisplayName + " (catalogue number " +
                       satellite.CatalogueNumber + ")");

        TChannelImage picture = LoadChannelImage(source.ImagePath);
        outcome.ImageFile = source.ImagePath;
        outcome.Unprocessed = std::make_unique<TExtBitmap>(std::move(picture.Bitmap));
        const int lines = outcome.Unprocessed->Height();

        const TSatDumpLineTimes own = SatDumpLineTimes(source.Product, image, lines);
        std::vector<TDateTime> times(own.Times.size(), std::numeric_limits<double>::quiet_NaN());
        for (std::size_t i = 0; i < own.Times.size(); ++i) {
            if (own.Times[i]) {
                times[i] = *own.Times[i];
            }
        }
        const auto lineTimes =
            TLineTimes::FromOwnTimes(std::move(times), own.LinePeriodSeconds / kSecondsPerDay);
        if (!lineTimes) {
            report.Error(TPassIssue::NoDateInName,
                         "The product gives no time for any line of " + image.File);
            return outcome;
        }
        report.Account(
            FormatDateTime("\"Pass start from the product: \"yyyy-mm-dd hh:nn:ss.zzz \"UTC\"",
                           lineTimes->Start) +
            Format(", line period %.7f seconds%s", own.LinePeriodSeconds,
                   own.PeriodFromTimes ? "" : " (the default: too few timed groups)"));
        if (const TSatellite* set = sources.ElementSet()) {
            // The Kepler folder's newest set against today says nothing of an archived
            // product; against the pass it still does.
            const double behind = set->EpochDateTime() - lineTimes->Start;
            if (behind > 31.0 && !source.Product.Tle) {
                report.Warning(TPassIssue::ElementSetNotContemporary,
                               Format("The Kepler folder's element sets are %.0f days newer than "
                                      "the pass",
                                      behind),
                               "Vantorel - Keplers not contemporary");
            }
        }
        (void)now;
        std::optional<TGivenElementSet> given;
        if (source.Product.Tle && !source.Product.Tle->Line1.empty()) {
            given = TGivenElementSet{source.Product.Tle->Line1, source.Product.Tle->Line2,
                                     source.ProductFile};
        }
        RunPass(outcome, IsThermalChannel(image.Channel), *lineTimes, sources, report,
                given ? &*given : nullptr);
    } catch (const std::exception& e) {
        outcome.Result.reset();
        report.Error(TPassIssue::StageFailed, e.what());
    }
    return outcome;
}

} // namespace vantorel
