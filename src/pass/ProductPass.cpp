// The run of a SatDump product: the satellite it names, the element set it brings, and
// a time for each line from its groups of lines; for a colour composite, each channel's
// lines laid together by those times.
#include "pass/PassPipeline.h"

#include "common/Files.h"
#include "common/Format.h"
#include "orbit/MeteorSeries.h"
#include "orbit/Satellite.h"
#include "pass/inputs/ChannelImage.h"
#include "pass/inputs/SatDumpProduct.h"

#include <cmath>
#include <limits>
#include <map>

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
TEnhancement ChannelEnhancement(const std::string& channel) {
    return channel == "5" ? TEnhancement::InvertAndStretch : TEnhancement::Equalise;
}

// A time for each line (NaN where there is none) and the line period they show.
struct TProductTimes {
    std::vector<TDateTime> Own;
    double PeriodSeconds = kDefaultLinePeriodSeconds;
    bool PeriodFromTimes = false;
    int LinesPerGroup = 1;

    explicit TProductTimes(const TSatDumpLineTimes& times)
        : Own(times.Times.size(), std::numeric_limits<double>::quiet_NaN()),
          PeriodSeconds(times.LinePeriodSeconds), PeriodFromTimes(times.PeriodFromTimes),
          LinesPerGroup(times.LinesPerGroup) {
        for (std::size_t i = 0; i < Own.size(); ++i) {
            if (times.Times[i]) {
                Own[i] = *times.Times[i];
            }
        }
    }
};

// The picture the path names or the options choose, into the outcome, with its times.
TProductTimes LoadPicture(const TSatDumpSource& source, bool stretchColour, TPassOutcome& outcome,
                          TEnhancement& enhancement, TPassReport& report) {
    const TSatDumpProduct& product = source.Product;
    TChannelImage picture = LoadChannelImage(source.ImagePath);
    outcome.ImageFile = source.ImagePath;
    const int lines = picture.Bitmap.Height();
    const int width = picture.Bitmap.Width();
    if (source.ImageIndex) {
        const TSatDumpImage& image = product.Images[*source.ImageIndex];
        enhancement = picture.Colour ? ColourEnhancement(stretchColour, report)
                                     : ChannelEnhancement(image.Channel);
        outcome.Unprocessed = std::make_unique<TExtBitmap>(std::move(picture.Bitmap));
        return TProductTimes(SatDumpLineTimes(product, image, lines));
    }
    enhancement =
        picture.Colour ? ColourEnhancement(stretchColour, report) : TEnhancement::Equalise;
    outcome.Unprocessed = std::make_unique<TExtBitmap>(std::move(picture.Bitmap));
    const std::string name = ExtractFileName(source.ImagePath);
    // A picture resampled across the swath has lost the scanner's geometry.
    if (product.Projection && product.Projection->ImageWidth &&
        *product.Projection->ImageWidth != width) {
        throw ESatDumpProduct(
            "The picture is not laid out as the product's channels",
            Format("%s is %d pixels wide, the channels %.0f (a picture corrected for the "
                   "Earth's curvature?)",
                   name.c_str(), width, *product.Projection->ImageWidth),
            source.ImagePath);
    }
    const auto times = SatDumpPictureTimes(product, name, lines);
    if (!times) {
        throw ESatDumpProduct("The product gives no times for the picture",
                              Format("none of its channels, alone or laid together as the "
                                     "decoder lays them, has its %d lines",
                                     lines),
                              source.ImagePath);
    }
    std::string channels;
    for (const std::string& c : times->Channels) {
        channels += (channels.empty() ? "" : ", ") + c;
    }
    report.Account("  The product does not list " + name + Format(" (%d lines): ", lines) +
                   (times->Channels.size() == 1 ? "it has the lines of channel "
                                                : "it has the lines channels ") +
                   channels + (times->Channels.size() == 1 ? "" : " have in common"));
    return TProductTimes(times->Times);
}

// The composite of three channels, each enhanced as a channel image, laid together by time.
TProductTimes LoadComposite(const TSatDumpSource& source, const TCompositeChannels& channels,
                            TPassOutcome& outcome, TPassReport& report) {
    struct TLoaded {
        TExtBitmap Picture;
        std::vector<std::uint8_t> Lost;
        TProductTimes Times;
        std::string File;
    };
    std::map<std::string, TLoaded> loaded;
    for (const std::string& channel : channels) {
        if (loaded.contains(channel)) {
            continue;
        }
        const TSatDumpImage& image = source.Product.Images[FindSatDumpChannel(source, channel)];
        TChannelImage picture = LoadChannelImage(ExtractFilePath(source.ProductFile) + image.File);
        if (picture.Colour) {
            picture.Bitmap.ToGreyLevels();
        }
        TProductTimes times(SatDumpLineTimes(source.Product, image, picture.Bitmap.Height()));
        std::vector<std::uint8_t> lost = LostPixels(picture.Bitmap);
        Enhance(picture.Bitmap, ChannelEnhancement(channel));
        loaded.emplace(channel, TLoaded{std::move(picture.Bitmap), std::move(lost),
                                        std::move(times), image.File});
    }
    std::array<TTimedChannel, 3> timed;
    for (std::size_t c = 0; c < 3; ++c) {
        const TLoaded& l = loaded.at(channels[c]);
        timed[c] = {&l.Picture, l.Times.Own, l.Lost};
    }
    const TLoaded& red = loaded.at(channels[0]);
    TTimedComposite composite = ComposeByTime(timed, red.Times.PeriodSeconds / kSecondsPerDay);

    static const char* const kColours[] = {"red", "green", "blue"};
    std::string used;
    for (std::size_t c = 0; c < 3; ++c) {
        const TLoaded& l = loaded.at(channels[c]);
        used += Format("%s%s %s (%s, %d lines)", c == 0 ? "" : "; ", kColours[c],
                       channels[c].c_str(), l.File.c_str(), composite.LinesUsed[c]);
    }
    report.Account(Format("  Colour composite: %d lines over the time all three channels "
                          "cover, each channel's lines placed by their own times, %d in all "
                          "three colours (the others black); ",
                          composite.Picture.Height(), composite.LinesComplete) +
                   used);

    outcome.ImageFile = ExtractFilePath(source.ProductFile) + CompositeFileName(channels);
    outcome.Unprocessed = std::make_unique<TExtBitmap>();
    static_cast<TBitmap&>(*outcome.Unprocessed) = std::move(composite.Picture);
    TProductTimes times = red.Times;
    times.Own = std::move(composite.Times);
    return times;
}

} // namespace

TPassOutcome ProcessSatDumpProduct(const std::string& path, const TProductOptions& options,
                                   TPassSources& sources, TPassReport& report) {
    TPassOutcome outcome;
    report.Account("Processing: " + ExpandFileName(path));
    try {
        const TSatDumpSource source =
            OpenSatDumpProduct(path, options.Composite ? std::string() : options.Channel);
        if (options.Composite) {
            const TCompositeChannels& c = *options.Composite;
            report.Account("SatDump product: " + source.ProductFile + ", channels " + c[0] + ", " +
                           c[1] + ", " + c[2] + " as red, green and blue");
        } else if (source.ImageIndex) {
            const TSatDumpImage& image = source.Product.Images[*source.ImageIndex];
            report.Account("SatDump product: " + source.ProductFile + ", channel " + image.Channel +
                           " (" + image.File + ")");
        } else {
            report.Account("SatDump product: " + source.ProductFile + ", the picture " +
                           ExtractFileName(source.ImagePath));
        }
        if (!source.DatasetProblem.empty()) {
            report.Account("  dataset.json not used: " + source.DatasetProblem);
        }
        const TPassSatellite named = ProductSatellite(source, sources.Satellite(), report);
        // The user's choice over the product's: its element set is then the other
        // satellite's, and the Kepler folder's serves instead.
        const bool overridden =
            options.Satellite && options.Satellite->CatalogueNumber != named.CatalogueNumber;
        sources.Choose(overridden ? *options.Satellite : named);
        if (overridden) {
            report.Account("  The product names " + named.DisplayName + " (catalogue number " +
                           named.CatalogueNumber + "); --satellite chose " +
                           options.Satellite->DisplayName +
                           ": its element set comes from the Kepler folder, the product's is "
                           "not used");
        }
        const TPassSatellite& satellite = sources.Satellite();
        report.Account("Satellite: " + satellite.DisplayName + " (catalogue number " +
                       satellite.CatalogueNumber + ")");

        TEnhancement enhancement = TEnhancement::None;
        const TProductTimes own =
            options.Composite
                ? LoadComposite(source, *options.Composite, outcome, report)
                : LoadPicture(source, options.StretchColour, outcome, enhancement, report);
        auto lineTimes = TLineTimes::FromOwnTimes(own.Own, own.PeriodSeconds / kSecondsPerDay);
        if (!lineTimes) {
            report.Error(TPassIssue::NoDateInName, "The product gives no time for any line of " +
                                                       ExtractFileName(outcome.ImageFile));
            return outcome;
        }
        lineTimes->LinesPerGroup = own.LinesPerGroup;
        lineTimes->PeriodFrom = "from its product's time stamps";
        report.Account(
            FormatDateTime("\"Pass start from the product: \"yyyy-mm-dd hh:nn:ss.zzz \"UTC\"",
                           lineTimes->Start) +
            Format(", line period %.7f seconds%s", own.PeriodSeconds,
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
        std::optional<TGivenElementSet> given;
        if (!overridden && source.Product.Tle && !source.Product.Tle->Line1.empty()) {
            given = TGivenElementSet{source.Product.Tle->Line1, source.Product.Tle->Line2,
                                     source.ProductFile};
        }
        RunPass(outcome, enhancement, *lineTimes, sources, report, given ? &*given : nullptr);
    } catch (const std::exception& e) {
        outcome.Result.reset();
        report.Error(TPassIssue::StageFailed, e.what());
    }
    return outcome;
}

} // namespace vantorel
