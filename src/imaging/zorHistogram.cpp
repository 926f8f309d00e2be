// TzorHistogram: the percentile walk over cumulative counts. Departure: Clear also
// resets Median, so that a histogram too sparse for the walk does not report the
// median of an earlier fill. Total is summed in 64 bits and saturates at the largest
// 32-bit count instead of wrapping.
#include "imaging/zorHistogram.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantorel {

TzorHistogram::TzorHistogram(int binCount)
    : BinCount(std::max(binCount, 0)), Bins(static_cast<std::size_t>(std::max(binCount, 0))) {
    Clear();
}

void TzorHistogram::Clear() {
    std::fill(Bins.begin(), Bins.end(), 0);
    High = 0;
    Low = 0;
    Median = 0;
    Valid = false;
}

void TzorHistogram::Compute() {
    std::int64_t total = 0;
    for (const std::int32_t count : Bins) {
        total += count;
    }
    Total = static_cast<std::int32_t>(
        std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
    Low = 0;
    High = BinCount - 1;
    if (BinCount < Total) {
        const double t = Total;
        const double lowLimit = std::nearbyint(t * static_cast<double>(LowPercent) / 100.0);
        const double highLimit = std::nearbyint(t * static_cast<double>(HighPercent) / 100.0);
        const double midLimit = std::nearbyint(t / 2.0);
        std::int64_t sum = 0;
        for (std::int32_t i = 0; i < BinCount; ++i) {
            const auto s = static_cast<double>(sum);
            if (s < lowLimit) {
                Low = i;
            }
            if (s < midLimit) {
                Median = i;
            }
            if (s < highLimit) {
                High = i;
            }
            sum += Bins[static_cast<std::size_t>(i)];
        }
    }
    Mode = 0;
    for (std::int32_t i = 1; i < BinCount; ++i) {
        if (Bins[static_cast<std::size_t>(i)] > Bins[static_cast<std::size_t>(Mode)]) {
            Mode = i;
        }
    }
    Valid = true;
}

std::int32_t TzorHistogram::GetHigh() {
    if (!Valid) {
        Compute();
    }
    return High;
}

std::int32_t TzorHistogram::GetLow() {
    if (!Valid) {
        Compute();
    }
    return Low;
}

std::int32_t TzorHistogram::GetTotal() {
    if (!Valid) {
        Compute();
    }
    return Total;
}

} // namespace vantorel
