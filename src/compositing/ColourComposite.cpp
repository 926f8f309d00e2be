// Colour composites laid together by time. The decoder's own compositing (SatDump's)
// keeps only the groups of lines whose time stamp every channel has and squeezes the
// rest out; here the composite keeps a row for every line period of the span, so that
// its lines stay evenly spaced in time and the map fits it as it fits a channel image.
#include "compositing/ColourComposite.h"

#include "common/StringUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace vantorel {
namespace {

// A channel's timed lines, in the order of their times.
std::vector<std::pair<TDateTime, int>> TimedLines(const TTimedChannel& channel) {
    std::vector<std::pair<TDateTime, int>> lines;
    for (std::size_t i = 0; i < channel.Times.size(); ++i) {
        if (std::isfinite(channel.Times[i])) {
            lines.emplace_back(channel.Times[i], static_cast<int>(i));
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

std::vector<std::uint8_t> LostPixels(const TBitmap& decoded) {
    const int width = decoded.Width();
    std::vector<std::uint8_t> lost(static_cast<std::size_t>(width) * decoded.Height(), 0);
    if (decoded.PixelFormat() != TPixelFormat::pf8bit) {
        return lost;
    }
    for (int y = 0; y < decoded.Height(); ++y) {
        const std::uint8_t* row = decoded.ScanLine(y);
        std::uint8_t* mark = lost.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width;) {
            int end = x;
            while (end < width && row[end] == 0) {
                ++end;
            }
            if (end - x >= kLostRun) {
                std::fill(mark + x, mark + end, std::uint8_t{1});
            }
            x = std::max(end, x + 1);
        }
    }
    return lost;
}

std::optional<TCompositeChannels> ParseCompositeChannels(std::string_view text) {
    const std::vector<std::string> fields = SplitDelimited(text, ',', '\0');
    if (fields.size() != 3) {
        return std::nullopt;
    }
    TCompositeChannels channels;
    for (std::size_t i = 0; i < 3; ++i) {
        channels[i] = Trim(fields[i]);
        if (channels[i].empty()) {
            return std::nullopt;
        }
    }
    return channels;
}

std::string FormatCompositeChannels(const TCompositeChannels& channels) {
    return channels[0] + "," + channels[1] + "," + channels[2];
}

std::string CompositeFileName(const TCompositeChannels& channels) {
    return "composite-" + channels[0] + "-" + channels[1] + "-" + channels[2] + ".png";
}

TTimedComposite ComposeByTime(const std::array<TTimedChannel, 3>& channels, double period) {
    if (!(period > 0.0)) {
        throw std::invalid_argument("A composite needs a line period above 0");
    }
    std::array<std::vector<std::pair<TDateTime, int>>, 3> timed;
    for (std::size_t c = 0; c < 3; ++c) {
        const TTimedChannel& channel = channels[c];
        if (channel.Picture == nullptr || channel.Picture->PixelFormat() != TPixelFormat::pf8bit) {
            throw std::invalid_argument("A composite is made of 8-bit channel images");
        }
        if (channel.Picture->Width() != channels[0].Picture->Width()) {
            throw std::invalid_argument("The channels of a composite differ in width");
        }
        if (channel.Times.size() != static_cast<std::size_t>(channel.Picture->Height())) {
            throw std::invalid_argument("A channel of a composite has a time for each line");
        }
        if (!channel.Lost.empty() &&
            channel.Lost.size() != static_cast<std::size_t>(channel.Picture->Width()) *
                                       static_cast<std::size_t>(channel.Picture->Height())) {
            throw std::invalid_argument("A channel of a composite has a lost mark for each pixel");
        }
        timed[c] = TimedLines(channel);
        if (timed[c].empty()) {
            throw std::invalid_argument("A channel of the composite has no line with a time");
        }
    }
    const double same = period / 4.0; // lines of several channels this close are one line
    const double near = period / 2.0; // a line is placed on the composite line this close
    TDateTime first = timed[0].front().first;
    TDateTime last = timed[0].back().first;
    for (const auto& lines : timed) {
        first = std::max(first, lines.front().first);
        last = std::min(last, lines.back().first);
    }
    if (first > last + same) {
        throw std::invalid_argument("The channels of the composite have no time in common");
    }

    // The composite's lines: the channels' times in the span, one for those that agree, and
    // lines without a time across a gap.
    std::vector<TDateTime> all;
    for (const auto& lines : timed) {
        for (const auto& [t, line] : lines) {
            if (t >= first - same && t <= last + same) {
                all.push_back(t);
            }
        }
    }
    std::sort(all.begin(), all.end());
    TTimedComposite out;
    std::vector<std::pair<TDateTime, int>> rowOf; // timed composite lines, by time
    TDateTime clusterStart = 0.0;
    for (const TDateTime t : all) {
        if (!rowOf.empty() && t - clusterStart <= same) {
            continue;
        }
        if (!rowOf.empty()) {
            const double gap = (t - rowOf.back().first) / period;
            const auto missing = static_cast<long long>(std::nearbyint(gap)) - 1;
            if (missing > TBitmap::kMaxDimension) {
                throw std::invalid_argument("The channels of the composite leave too long a gap");
            }
            out.Times.insert(out.Times.end(), static_cast<std::size_t>(std::max(missing, 0LL)),
                             std::numeric_limits<double>::quiet_NaN());
        }
        clusterStart = t;
        rowOf.emplace_back(t, static_cast<int>(out.Times.size()));
        out.Times.push_back(t);
        if (out.Times.size() > static_cast<std::size_t>(TBitmap::kMaxDimension)) {
            throw std::invalid_argument("The composite would have too many lines");
        }
    }

    const int width = channels[0].Picture->Width();
    out.Picture.SetPixelFormat(TPixelFormat::pf24bit);
    out.Picture.SetSize(width, static_cast<int>(out.Times.size()));
    // Each colour's source line on each composite row, -1 where it has none.
    std::array<std::vector<int>, 3> source;
    for (std::size_t c = 0; c < 3; ++c) {
        source[c].assign(out.Times.size(), -1);
        const int colour = 2 - static_cast<int>(c); // red is the third byte of B, G, R
        for (const auto& [t, line] : timed[c]) {
            auto at = std::lower_bound(rowOf.begin(), rowOf.end(), std::make_pair(t, -1));
            if (at != rowOf.begin() &&
                (at == rowOf.end() || t - std::prev(at)->first < at->first - t)) {
                --at;
            }
            if (at == rowOf.end() || std::fabs(at->first - t) > near) {
                continue;
            }
            const std::uint8_t* from = channels[c].Picture->ScanLine(line);
            std::uint8_t* to = out.Picture.ScanLine(at->second) + colour;
            for (int x = 0; x < width; ++x) {
                to[3 * x] = from[x];
            }
            source[c][static_cast<std::size_t>(at->second)] = line;
            ++out.LinesUsed[c];
        }
    }
    // A pixel in only some of the colours would show a false colour and false edges to the
    // alignment: a line or a segment one colour lacks goes black, as a dropout does in a
    // channel image.
    for (std::size_t row = 0; row < out.Times.size(); ++row) {
        std::uint8_t* to = out.Picture.ScanLine(static_cast<int>(row));
        if (source[0][row] < 0 || source[1][row] < 0 || source[2][row] < 0) {
            std::fill(to, to + 3 * static_cast<std::ptrdiff_t>(width), std::uint8_t{0});
            continue;
        }
        ++out.LinesComplete;
        for (std::size_t c = 0; c < 3; ++c) {
            const std::span<const std::uint8_t> lost = channels[c].Lost;
            if (lost.empty()) {
                continue;
            }
            const std::uint8_t* gone =
                lost.data() + static_cast<std::size_t>(source[c][row]) * width;
            for (int x = 0; x < width; ++x) {
                if (gone[x] != 0) {
                    to[3 * x] = to[3 * x + 1] = to[3 * x + 2] = 0;
                }
            }
        }
    }
    return out;
}

} // namespace vantorel
