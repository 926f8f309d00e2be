// The plausibility checks of a pass.
//
// The line times are judged against the one line period every MSU-MR keeps: a rate more
// than 1 % off it, or a time more than a second from its neighbours' steady rise, places
// the lines kilometres from where they were scanned, and no offset makes up for it.
#include "pass/Plausibility.h"

#include "common/Format.h"
#include "common/Statistics.h"
#include "orbit/ElementSetCheck.h"
#include "orbit/MeteorSeries.h"
#include "pass/PassPipeline.h"

#include <cmath>

namespace vantorel {
namespace {

std::string Where(int line, int perGroup) {
    return perGroup > 1 ? Format("group %d (line %d)", line / perGroup, line)
                        : Format("line %d", line);
}

std::string Clock(TDateTime t) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t);
}

TDateTime DateOf(int yyyymmdd) {
    return EncodeDate(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100);
}

std::string Duration(double seconds) {
    return seconds >= 5400.0 ? Format("%.1f hours", seconds / 3600.0)
                             : Format("%.1f minutes", seconds / 60.0);
}

} // namespace

bool CheckPictureSize(int width, int lines, const std::string& picture, TPassReport& report) {
    if (width < 1) {
        report.Error(TPassIssue::NoColumns,
                     Format("%s has no columns (%d x %d pixels): there is no picture to place",
                            picture.c_str(), width, lines));
        return false;
    }
    if (lines < 3) {
        report.Error(TPassIssue::TooFewLines,
                     Format("The image has %d line(s): at least three are needed to fit the map "
                            "to it.",
                            lines));
        return false;
    }
    return true;
}

bool CheckLineTimes(const TLineTimes& times, int lines, const std::string& picture,
                    TPassReport& report) {
    const double nominal = kDefaultLinePeriodSeconds;
    const int perGroup = std::max(times.LinesPerGroup, 1);
    const std::string from = times.PeriodFrom.empty() ? std::string() : " (" + times.PeriodFrom + ")";
    auto fail = [&](const std::string& why) {
        report.Error(TPassIssue::LineTimes, "The line times of " + picture + " " + why);
        return false;
    };

    // The lines with a time of their own, in order; every line when they are start + line x
    // period.
    std::vector<char> untimed(static_cast<std::size_t>(lines), 0);
    for (const auto& [first, last] : times.Untimed()) {
        for (int i = std::max(first, 0); i <= last && i < lines; ++i) {
            untimed[static_cast<std::size_t>(i)] = 1;
        }
    }
    std::vector<double> steps;
    int previous = -1;
    int firstTimed = -1;
    for (int i = 0; i < lines; ++i) {
        if (untimed[static_cast<std::size_t>(i)] != 0) {
            continue;
        }
        if (firstTimed < 0) {
            firstTimed = i;
        }
        if (previous >= 0) {
            const double seconds = (times.At(i) - times.At(previous)) * kSecondsPerDay;
            if (!(seconds > 0.0)) {
                return fail("run backwards at " + Where(i, perGroup) + ": " + Clock(times.At(i)) +
                            ", not after " + Clock(times.At(previous)) + " of line " +
                            Format("%d", previous));
            }
            steps.push_back(seconds / (i - previous));
        }
        previous = i;
    }
    if (steps.empty()) {
        return true; // one timed line: nothing to judge
    }
    std::vector<double> sorted = steps;
    const double rate = Percentile(sorted, 50);
    if (!(std::fabs(rate / nominal - 1.0) <= kLinePeriodTolerance)) {
        return fail(Format("rise %.4f s a line%s; the MSU-MR scanner takes %.4f s a line",
                           rate, from.c_str(), nominal));
    }
    // A time behind its neighbours' steady rise: the lines would overlap in time, so the
    // clock of that group is wrong. Ahead of it is a gap: a decoder may leave lost groups
    // out of a picture (SatDump's composites do).
    double largest = 0.0;
    int gaps = 0;
    previous = -1;
    for (int i = 0; i < lines; ++i) {
        if (untimed[static_cast<std::size_t>(i)] != 0) {
            continue;
        }
        if (previous >= 0) {
            const double seconds = (times.At(i) - times.At(previous)) * kSecondsPerDay;
            const double off = seconds - rate * (i - previous);
            if (off < -kLargestTimeJumpSeconds) {
                return fail(Format("jump back %.1f s at ", -off) + Where(i, perGroup) + ": " +
                            Clock(times.At(i)) + " after " + Clock(times.At(previous)) +
                            Format(" of line %d", previous));
            }
            if (off > kLargestTimeJumpSeconds) {
                ++gaps;
            } else {
                largest = std::max(largest, std::fabs(off));
            }
        }
        previous = i;
    }
    const double span = (times.At(previous) - times.At(firstTimed)) * kSecondsPerDay;
    if (span > kLongestPassMinutes * 60.0) {
        report.Error(TPassIssue::PassTooLong,
                     picture + Format(": %d lines at %.4f s a line make a pass of ", lines, rate) +
                         Duration(span) +
                         Format(", and no station sees a Meteor-M for more than %.0f minutes: the "
                                "picture is not one pass",
                                kLongestPassMinutes));
        return false;
    }
    report.Account(Format("  Line times: %.5f s a line, at most %.3f s from a steady rise, over ",
                          rate, largest) +
                   Duration(span) +
                   (gaps > 0 ? Format(", %d gap(s) where lines were left out", gaps) : ""));
    return true;
}

void CheckTransmitting(const TPassSatellite& satellite, TDateTime start, TPassReport& report) {
    const auto series = FindMeteorSatellite(satellite.CatalogueNumber);
    if (!series || series->LaunchedOn == 0) {
        return;
    }
    const TDateTime day = std::floor(start);
    std::string when;
    if (day < DateOf(series->LaunchedOn)) {
        when = FormatDateTime("\"it was launched on \"yyyy-mm-dd", DateOf(series->LaunchedOn));
    } else if (series->LrptUntil != 0 && day > DateOf(series->LrptUntil)) {
        when = FormatDateTime("\"it has sent none since \"yyyy-mm-dd", DateOf(series->LrptUntil));
    } else {
        return;
    }
    report.Warning(TPassIssue::SatelliteSilent,
                   satellite.DisplayName + " (" + satellite.CatalogueNumber + "), " +
                       FormatDateTime("yyyy-mm-dd", start) + " (" + when +
                       "): this satellite sent no LRPT then: the pass is probably N2-3 or N2-4; "
                       "choose it with --satellite",
                   "Vantorel - satellite not transmitting");
}

bool CheckElementSetText(const std::string& line1, const std::string& line2,
                         const std::string& source, TPassReport& report) {
    const TElementSetCheck check = CheckElementSet(line1, line2);
    for (const std::string& failure : check.ChecksumFailures) {
        report.Warning(TPassIssue::ElementSetChecksum,
                       "The element set from " + source + " fails its checksum on " + failure +
                           ": an edited or damaged set?\r\n" +
                           (failure.starts_with("line 1") ? line1 : line2),
                       "Vantorel - element set checksum");
    }
    if (check.Unchecked > 0) {
        report.Account(Format("  Element set: %d of its lines carry no checksum to check",
                              check.Unchecked));
    }
    if (check.NotMeteorOrbit) {
        report.Error(TPassIssue::NotMeteorOrbit, "The element set from " + source +
                                                     " is not a Meteor-M's orbit: it has " +
                                                     *check.NotMeteorOrbit);
        return false;
    }
    return true;
}

bool CheckElementSetNearPass(double daysFromPass, TDateTime epoch, TDateTime start,
                             TPassReport& report) {
    if (std::fabs(daysFromPass) <= kFarthestElementSetDays) {
        return true;
    }
    report.Error(TPassIssue::NoElementSetNearPass,
                 Format("The nearest element set is %.0f days from the pass (", std::fabs(daysFromPass)) +
                     FormatDateTime("\"epoch \"yyyy-mm-dd", epoch) +
                     FormatDateTime("\", pass \"yyyy-mm-dd", start) +
                     Format("): an orbit carried more than %.0f days cannot place it. The "
                            "Kepler folder needs a set of the pass's time (or the pass time is "
                            "wrong).",
                            kFarthestElementSetDays));
    return false;
}

void CheckFit(bool fitted, double residualRmsPixels, const std::string& picture,
              TPassReport& report) {
    if (!fitted) {
        if (!report.Has(TPassIssue::FitFailed)) {
            report.Warning(TPassIssue::FitFailed,
                           "The map could not be fitted to " + picture +
                               ": the overlay is drawn through what the fit got to, and is "
                               "not to be trusted");
        }
        return;
    }
    if (residualRmsPixels > kLargestResidualRmsPixels) {
        report.Warning(TPassIssue::FitResidual,
                       picture + Format(": the fitted map leaves %.0f pixels (rms) at the ground "
                                        "points, where a pass leaves about 10: the line times or "
                                        "the element set are not this picture's",
                                        residualRmsPixels),
                       "Vantorel - map fit doubtful");
    }
}

} // namespace vantorel
