// The calibration follows the usual iterated, reweighted Gauss-Newton scheme: measure at the
// current values, linearise the model there, solve robustly, measure again. It departs from
// a plain fit in two ways: the passes' own time shifts are random effects (each with a prior
// that grows with its element set's age), so that the clock offset is what the passes
// agree on; and a parameter the matches leave as uncertain as its prior is held there.
#include "calibration/Calibrate.h"

#include "alignment/CoastLines.h"
#include "common/Format.h"
#include "common/Statistics.h"
#include "orbit/Orbits.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vantorel {
namespace {

// The run's own alignment reaches this far beyond the picture for a shifted overlay.
constexpr int kShoreMargin = 68;

std::unique_ptr<TPassResult> RunPass(const TCalibrationInput& input, TPassSources& sources,
                                     const std::string& number) {
    TPassReport report;
    TPassOutcome outcome = input.Run(sources, report);
    if (!outcome.Result) {
        std::string why = "the run ended early";
        for (const TReportEntry& e : report.Entries()) {
            if (e.Kind == TReportEntry::TKind::Error) {
                why = e.Text;
            }
        }
        throw std::runtime_error(input.Label + ": " + why);
    }
    if (!number.empty() && outcome.Result->Satellite.CatalogueNumber != number) {
        throw std::runtime_error(input.Label + ": a pass of " +
                                 outcome.Result->Satellite.DisplayName + " (" +
                                 outcome.Result->Satellite.CatalogueNumber + "), not of " +
                                 number);
    }
    return std::move(outcome.Result);
}

// The run's alignment and the tiles' matches; the coast distances only when they are kept
// (before and after the fit), not on the rounds between.
TPassMeasure Measure(const TPassResult& pass, const TCoastLines& lines, const TTileGrid& tiles,
                     int search, double confidence, bool distances) {
    const TBitmap& picture = pass.Channel;
    const std::vector<TCoastSample> shore =
        lines.SamplesOnImage(pass.Mapping, picture.Width(), picture.Height(), kShoreMargin);
    const std::vector<char>& lost = pass.LostLines;
    TPassMeasure m;
    m.Whole = AlignToCoasts(picture, shore, 0, 0, {}, lost);
    const int line = m.Whole.Confident ? static_cast<int>(std::lround(m.Whole.LineOffset)) : 0;
    const int pixel = m.Whole.Confident ? static_cast<int>(std::lround(m.Whole.PixelOffset)) : 0;
    m.Tiles = MatchCoastsInTiles(picture, shore, lost, tiles, line, pixel, search, search, 40,
                                 confidence);
    if (distances) {
        m.AtModel = CoastDistance(picture, shore, lost, 0, 0, tiles);
        m.AsAligned = m.Whole.Confident ? CoastDistance(picture, shore, lost, line, pixel, tiles)
                                        : m.AtModel;
    }
    return m;
}

void Describe(TPassCalibration& p, const TCalibrationInput& input, const TPassResult& pass) {
    p.Label = input.Label;
    p.Start = pass.Times.At(0);
    p.Northbound = pass.Northbound;
    p.Lines = pass.Channel.Height();
    p.Width = pass.Channel.Width();
    p.ElementSetAge = -pass.ElementSet.DaysFromPass;
}

// The size of a tile's shift, pixels, from what it tells.
double ShiftSize(const TTileMatch& t) {
    const double p = t.PixelKnown ? t.PixelShift : 0.0;
    const double l = t.LineKnown ? t.LineShift : 0.0;
    return std::hypot(p, l);
}

struct TTileSummary {
    double Median = 0.0;
    int Matched = 0;
};

TTileSummary Summarise(const std::vector<TTileMatch>& tiles) {
    std::vector<double> sizes;
    for (const TTileMatch& t : tiles) {
        if (t.Matched()) {
            sizes.push_back(ShiftSize(t));
        }
    }
    TTileSummary s;
    s.Matched = static_cast<int>(sizes.size());
    if (!sizes.empty()) {
        s.Median = Percentile(sizes, 50);
    }
    return s;
}

std::string Disagreement(const TPassCalibration& p) {
    std::string why;
    auto add = [&](const std::string& part) { why += (why.empty() ? "" : "; ") + part; };
    for (int c = 0; c < 2; ++c) {
        std::vector<double> v;
        for (const TTileMatch& t : p.After.Tiles) {
            if (c == 0 ? t.PixelKnown : t.LineKnown) {
                v.push_back(c == 0 ? t.PixelShift : t.LineShift);
            }
        }
        if (v.size() < 3) {
            continue;
        }
        const auto [mean, spread] = MeanAndSpread(v);
        const double error = spread / std::sqrt(static_cast<double>(v.size()));
        if (std::fabs(mean) > std::max(3.0 * error, 0.5)) {
            add(Format("its coasts lie %+.1f %s from the picture's on average after the fit "
                       "(+- %.1f, %d tiles)",
                       mean, c == 0 ? "pixels" : "lines", error, static_cast<int>(v.size())));
        }
    }
    if (std::fabs(p.Shift) > 3.0 * p.ShiftSigma) {
        add(Format("its own time shift of %+.2f s is more than an element set %.1f days old "
                   "explains (+- %.2f s)",
                   p.Shift, p.ElementSetAge, p.ShiftSigma));
    }
    if (Summarise(p.After.Tiles).Matched == 0) {
        add("no tile matched after the fit");
    }
    return why;
}

std::string Figures(const TPassMeasure& m) {
    const TAlignment& a = m.Whole;
    return a.Confident ? Format("confident, line %+.1f pixel %+.1f (confidence %.1f)",
                                a.LineOffset, a.PixelOffset, a.Confidence)
                       : a.Doubt + Format(" (confidence %.1f)", a.Confidence);
}

std::string Distance(const TCoastDistance& d) {
    return Format("median %.1f px, 90%% within %.1f px, worst tile %.1f px (%d points)", d.Median,
                  d.P90, d.WorstTile, static_cast<int>(d.Points));
}

std::string PassHeader(const TPassCalibration& p) {
    return p.Label + ": " + FormatDateTime("yyyy-mm-dd hh:nn:ss \"UTC\"", p.Start) +
           (p.Northbound ? ", north-bound, " : ", south-bound, ") +
           Format("%d lines, element set %.1f days old", p.Lines, p.ElementSetAge);
}

std::string ShiftText(const TTileMatch& t, bool pixel) {
    if (!t.Matched()) {
        return "     -";
    }
    const bool known = pixel ? t.PixelKnown : t.LineKnown;
    return known ? Format("%+6.1f", pixel ? t.PixelShift : t.LineShift) : "     ?";
}

} // namespace

TPassCalibration MeasurePass(const TCalibrationInput& input, TPassSources& sources,
                             const TCartogList& boundaries, const TTileGrid& tiles) {
    TCoastLines lines(boundaries);
    const std::unique_ptr<TPassResult> pass = RunPass(input, sources, {});
    TPassCalibration p;
    Describe(p, input, *pass);
    const TCalibrationOptions defaults;
    p.Before = p.After =
        Measure(*pass, lines, tiles, defaults.FirstSearch, defaults.FirstConfidence, true);
    return p;
}

TCalibrationResult CalibrateScanner(const std::string& catalogueNumber,
                                    std::span<const TCalibrationInput> inputs,
                                    TPassSources& sources, const TCartogList& boundaries,
                                    const TCalibrationOptions& options,
                                    const std::function<void(const std::string&)>& progress) {
    if (inputs.empty()) {
        throw std::runtime_error("no pass to calibrate on");
    }
    TCoastLines lines(boundaries);
    const std::size_t n = inputs.size();
    TCalibrationResult result;
    result.CatalogueNumber = catalogueNumber;
    result.Options = options;
    result.Passes.resize(n);

    TFitPriors priors;
    TFitState state;
    for (int j = 0; j < kScannerParameters; ++j) {
        priors.Value[static_cast<std::size_t>(j)] = options.Prior.*kFittedFields[j];
    }
    priors.Sigma = options.PriorSigma;
    priors.PassShiftSigma.assign(n, options.ShiftSigmaFixed);
    state.Parameters = priors.Value;
    state.PassShifts.assign(n, 0.0);

    auto calibrationOf = [&](const TFitState& s, std::size_t pass) {
        TScannerCalibration c = options.Prior;
        for (int j = 0; j < kScannerParameters; ++j) {
            c.*kFittedFields[j] = s.Parameters[static_cast<std::size_t>(j)];
            c.*kFittedErrors[j] = 0.0;
        }
        c.TimeOffset += s.PassShifts[pass];
        c.Measured = true;
        return c;
    };
    auto run = [&](std::size_t i, const TScannerCalibration& c) {
        TScannerCalibrations one;
        one.BySatellite[catalogueNumber] = c;
        sources.SetCalibrations(one, true);
        return RunPass(inputs[i], sources, catalogueNumber);
    };

    TFitSolution last;
    std::vector<std::pair<std::size_t, std::size_t>> lastWhere; // (pass, tile) of each match
    std::vector<TParameterVector> history;
    for (int round = 0; round < options.Iterations; ++round) {
        std::vector<TFitObservation> observations;
        std::vector<std::pair<std::size_t, std::size_t>> where;
        for (std::size_t i = 0; i < n; ++i) {
            const TScannerCalibration c = calibrationOf(state, i);
            const std::unique_ptr<TPassResult> pass = run(i, c);
            TPassCalibration& p = result.Passes[i];
            if (round == 0) {
                Describe(p, inputs[i], *pass);
                if (result.SatelliteName.empty()) {
                    result.SatelliteName = pass->Satellite.Name;
                }
                p.ShiftSigma =
                    options.ShiftSigmaFixed + options.ShiftSigmaPerDay * std::fabs(p.ElementSetAge);
                priors.PassShiftSigma[i] = p.ShiftSigma;
            }
            const bool first = round == 0;
            const TPassMeasure m =
                Measure(*pass, lines, options.Tiles,
                        first ? options.FirstSearch : options.LaterSearch,
                        first ? options.FirstConfidence : options.LaterConfidence, first);
            for (std::size_t t = 0; t < m.Tiles.size(); ++t) {
                const TTileMatch& tile = m.Tiles[t];
                if (!tile.Matched()) {
                    continue;
                }
                TFitObservation o;
                o.Pass = static_cast<int>(i);
                o.Shift = {tile.PixelShift, tile.LineShift};
                o.Known = {tile.PixelKnown, tile.LineKnown};
                o.Design = ScannerDesign(sources.Orbit(), pass->Times, pass->Channel.Height(), c,
                                         tile.X, tile.Y);
                observations.push_back(o);
                where.emplace_back(i, t);
            }
            if (round == 0) {
                p.Before = m;
            }
        }
        if (observations.empty()) {
            throw std::runtime_error("no pass shows a coast clear enough to match");
        }
        const TFitSolution solved = SolveScannerFit(observations, state, priors);
        bool moved = false;
        for (std::size_t j = 0; j < kScannerParameters; ++j) {
            moved |= std::fabs(solved.State.Parameters[j] - state.Parameters[j]) >
                     std::max(solved.Error[j], 1e-4);
        }
        for (std::size_t i = 0; i < n; ++i) {
            moved |= std::fabs(solved.State.PassShifts[i] - state.PassShifts[i]) >
                     std::max(solved.PassShiftError[i], 1e-3);
        }
        for (std::size_t j = 0; j < kScannerParameters; ++j) {
            // Once the matches are found not to tell a parameter, later rounds hold it too:
            // freed again, it would wander with the noise of the one it trades off with.
            moved |= !solved.Determined[j] && !priors.Held[j];
            priors.Held[j] = !solved.Determined[j];
        }
        state = solved.State;
        last = solved;
        history.push_back(state.Parameters);
        lastWhere = where;
        result.Iterations = round + 1;
        result.Matches = static_cast<int>(observations.size());
        if (progress) {
            std::string line = Format("round %d: %d tile matches;", round + 1,
                                      static_cast<int>(observations.size()));
            for (int j = 0; j < kScannerParameters; ++j) {
                line += Format(" %s %.3f", kFittedNames[j], state.Parameters[static_cast<std::size_t>(j)]);
            }
            progress(line);
        }
        if (!moved && round > 0) {
            result.Settled = true;
            break;
        }
    }

    for (std::size_t i = 0; i < n; ++i) {
        const std::unique_ptr<TPassResult> pass = run(i, calibrationOf(state, i));
        TPassCalibration& p = result.Passes[i];
        p.After = Measure(*pass, lines, options.Tiles, options.LaterSearch,
                          options.LaterConfidence, true);
        p.Shift = state.PassShifts[i];
        p.ShiftError = last.PassShiftError[i];
        p.Weight.assign(p.After.Tiles.size(), {-1.0, -1.0});
    }
    for (std::size_t k = 0; k < lastWhere.size(); ++k) {
        auto& weights = result.Passes[lastWhere[k].first].Weight;
        if (lastWhere[k].second < weights.size()) {
            weights[lastWhere[k].second] = last.Weight[k];
        }
    }
    for (TPassCalibration& p : result.Passes) {
        p.Disagreement = Disagreement(p);
    }
    result.Calibration = options.Prior;
    for (int j = 0; j < kScannerParameters; ++j) {
        result.Calibration.*kFittedFields[j] = state.Parameters[static_cast<std::size_t>(j)];
        result.Calibration.*kFittedErrors[j] =
            last.Determined[static_cast<std::size_t>(j)] ? last.Error[static_cast<std::size_t>(j)] : 0.0;
    }
    // Matches come and go between rounds as the overlay moves; the values' spread over the
    // last rounds is part of their uncertainty.
    if (history.size() >= 3) {
        for (int j = 0; j < kScannerParameters; ++j) {
            std::vector<double> rounds;
            for (std::size_t r = history.size() - 3; r < history.size(); ++r) {
                rounds.push_back(history[r][static_cast<std::size_t>(j)]);
            }
            const double spread = MeanAndSpread(rounds).Spread;
            double& error = result.Calibration.*kFittedErrors[j];
            if (error > 0.0) {
                error = std::hypot(error, spread);
            }
        }
    }
    result.Calibration.Measured = true;
    result.Determined = last.Determined;
    result.Scale = last.Scale;
    return result;
}

std::string CalibrationReport(const TCalibrationResult& r) {
    std::string out = Format("Calibration of %s (%s) on %d passes: %d rounds (%s), %d tile "
                             "matches, robust spread %.2f px, %.2f lines\n",
                             r.SatelliteName, r.CatalogueNumber, static_cast<int>(r.Passes.size()),
                             r.Iterations, r.Settled ? "settled" : "NOT settled", r.Matches,
                             r.Scale[0], r.Scale[1]);
    for (int j = 0; j < kScannerParameters; ++j) {
        const auto k = static_cast<std::size_t>(j);
        const double value = r.Calibration.*kFittedFields[j];
        const double prior = r.Options.Prior.*kFittedFields[j];
        out += r.Determined[k]
                   ? Format("  %-11s %8.3f +- %.3f %s  (prior %.3f +- %.3f)\n", kFittedNames[j],
                            value, r.Calibration.*kFittedErrors[j], kFittedUnits[j], prior,
                            r.Options.PriorSigma[k])
                   : Format("  %-11s %8.3f %s  held at its prior: these passes do not "
                            "determine it\n",
                            kFittedNames[j], value, kFittedUnits[j]);
    }
    out += "Passes (tile shifts: picture's coast minus drawn coast, lines + down, pixels + right;"
           " weight: the last solve's, pixel and line; ? not told, - no match):\n";
    for (const TPassCalibration& p : r.Passes) {
        const TTileSummary before = Summarise(p.Before.Tiles), after = Summarise(p.After.Tiles);
        out += "  " + PassHeader(p) + "\n";
        out += Format("    own time shift %+.3f +- %.3f s (prior +- %.3f s)\n", p.Shift,
                      p.ShiftError, p.ShiftSigma);
        out += "    alignment before: " + Figures(p.Before) + "; after: " + Figures(p.After) + "\n";
        out += "    coasts before: " + Distance(p.Before.AtModel) + "\n";
        out += "    coasts after:  " + Distance(p.After.AtModel) + "\n";
        out += Format("    tile shift, median: %.2f px over %d tiles before, %.2f px over %d after\n",
                      before.Median, before.Matched, after.Median, after.Matched);
        out += p.Disagreement.empty() ? "    agrees with the others\n"
                                      : "    DISAGREES: " + p.Disagreement + "\n";
        out += "    tile  columns    lines        before line  pixel   after line  pixel   weight\n";
        for (std::size_t t = 0; t < p.After.Tiles.size() && t < p.Before.Tiles.size(); ++t) {
            const TTileMatch& b = p.Before.Tiles[t];
            const TTileMatch& a = p.After.Tiles[t];
            if (!b.Matched() && !a.Matched()) {
                continue;
            }
            const auto& w = p.Weight[t];
            out += Format("    %d,%-2d  %4d-%-4d  %5d-%-5d       %s %s       %s %s   %s\n",
                          a.Column, a.Row, a.X0, a.X1, a.Y0, a.Y1, ShiftText(b, false),
                          ShiftText(b, true), ShiftText(a, false), ShiftText(a, true),
                          w[0] < 0 && w[1] < 0
                              ? std::string("-")
                              : Format("%.2f %.2f", std::max(w[0], 0.0), std::max(w[1], 0.0)));
        }
    }
    return out;
}

std::string MeasureReport(const TPassCalibration& p) {
    std::string out = PassHeader(p) + "\n";
    out += "  alignment: " + Figures(p.After) + "\n";
    out += "  coasts as aligned: " + Distance(p.After.AsAligned) + "\n";
    out += "  coasts at the model: " + Distance(p.After.AtModel) + "\n";
    const TTileSummary s = Summarise(p.After.Tiles);
    out += Format("  tile shift, median: %.2f px over %d tiles\n", s.Median, s.Matched);
    out += "  tile  columns    lines        line  pixel\n";
    for (const TTileMatch& t : p.After.Tiles) {
        if (t.Matched()) {
            out += Format("  %d,%-2d  %4d-%-4d  %5d-%-5d  %s %s\n", t.Column, t.Row, t.X0, t.X1,
                          t.Y0, t.Y1, ShiftText(t, false), ShiftText(t, true));
        }
    }
    return out;
}

std::string CalibrationSection(const TCalibrationResult& r, const std::string& displayName,
                               const std::string& command, TDateTime made) {
    std::string out = "[" + r.CatalogueNumber + "]  # " + displayName +
                      Format(", measured on %d real passes\n", static_cast<int>(r.Passes.size()));
    out += "# Made by: " + command + "\n";
    out += FormatDateTime("\"# on \"yyyy-mm-dd\", \"", made) +
           Format("%d tile matches (tiles of %d columns across, %d lines along), robust "
                  "spread %.2f px and %.2f lines; per pass, the median tile shift before (at "
                  "the prior) and after:\n",
                  r.Matches, r.Options.Tiles.Columns, r.Options.Tiles.LinesPerRow, r.Scale[0],
                  r.Scale[1]);
    for (const TPassCalibration& p : r.Passes) {
        const TTileSummary before = Summarise(p.Before.Tiles), after = Summarise(p.After.Tiles);
        out += "#   " + PassHeader(p) +
               Format(": %.1f -> %.1f px (%d tiles), own time shift %+.2f s", before.Median,
                      after.Median, after.Matched, p.Shift) +
               (p.Disagreement.empty() ? "" : "; disagrees: " + p.Disagreement) + "\n";
    }
    for (int j = 0; j < kScannerParameters; ++j) {
        if (!r.Determined[static_cast<std::size_t>(j)]) {
            out += Format("# %s: not determined by these passes, held at its prior %.3f\n",
                          kFittedNames[j], r.Calibration.*kFittedFields[j]);
        }
    }
    return out + FormatScannerValues(r.Calibration);
}

TScannerCalibration CarriedOverCalibration(std::span<const TScannerCalibration> measured,
                                           std::vector<std::string>& account) {
    TScannerCalibration out;
    out.Measured = false;
    out.Roll = out.Pitch = out.Yaw = out.TimeOffset = 0.0;
    if (measured.empty()) {
        account.push_back("no measured satellite to carry values over from: the plain values");
        return out;
    }
    out.Pixels = measured.front().Pixels;
    // A weighted mean where every value has an uncertainty, else the plain mean.
    auto mean = [&](int j, double& error) {
        double sum = 0.0, weights = 0.0;
        bool all = true;
        for (const TScannerCalibration& c : measured) {
            all &= c.*kFittedErrors[j] > 0.0;
        }
        for (const TScannerCalibration& c : measured) {
            const double w = all ? 1.0 / (c.*kFittedErrors[j] * c.*kFittedErrors[j]) : 1.0;
            sum += w * (c.*kFittedFields[j]);
            weights += w;
        }
        error = all ? 1.0 / std::sqrt(weights) : 0.0;
        return sum / weights;
    };
    auto agree = [&](int j) {
        for (std::size_t a = 0; a < measured.size(); ++a) {
            for (std::size_t b = a + 1; b < measured.size(); ++b) {
                const double ea = measured[a].*kFittedErrors[j], eb = measured[b].*kFittedErrors[j];
                const double d = std::fabs(measured[a].*kFittedFields[j] - measured[b].*kFittedFields[j]);
                if (!(ea > 0.0 && eb > 0.0) || d > 3.0 * std::hypot(ea, eb)) {
                    return false;
                }
            }
        }
        return true;
    };
    std::string values;
    for (const TScannerCalibration& c : measured) {
        values += Format("%s%.3f", values.empty() ? "" : ", ", c.ScanAngle);
    }
    double error = 0.0;
    out.ScanAngle = mean(0, error);
    out.ScanAngleError = error;
    account.push_back(Format("scan-angle %.3f: the mean of the measured satellites' (", out.ScanAngle) +
                      values + ")");
    for (const int j : {3, 4}) {
        std::string seen;
        for (const TScannerCalibration& c : measured) {
            seen += Format("%s%.3f +- %.3f", seen.empty() ? "" : ", ", c.*kFittedFields[j],
                           c.*kFittedErrors[j]);
        }
        if (agree(j)) {
            out.*kFittedFields[j] = mean(j, error);
            out.*kFittedErrors[j] = error;
            account.push_back(Format("%s %.3f: the measured satellites agree (", kFittedNames[j],
                                     out.*kFittedFields[j]) +
                              seen + ")");
        } else {
            account.push_back(Format("%s 0: the measured satellites do not agree (", kFittedNames[j]) +
                              seen + "), so none carries over");
        }
    }
    account.push_back("roll and pitch 0: how the instrument sits on its platform does not carry "
                      "over");
    return out;
}

} // namespace vantorel
