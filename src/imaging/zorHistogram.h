#pragma once

// The small histogram behind the contrast operations of TExtBitmap.

#include <cstdint>
#include <vector>

namespace vantorel {

/// A histogram of BinCount counters with its percentile statistics. Callers count into
/// Bins directly and then ask for the statistics, which are computed on first demand.
class TzorHistogram {
public:
    /// Bins 0 .. binCount - 1, all 0; percentiles 0.5 and 99.5. A negative count is 0.
    explicit TzorHistogram(int binCount);

    /// All bins 0; High, Low and Median 0; statistics out of date.
    void Clear();
    /// Total, Low, Median, High (each the first bin at which the running sum of the bins
    /// before it reaches its share of Total: LowPercent, 50 and HighPercent per cent,
    /// rounded ties to even) and Mode. With Total <= BinCount the percentile walk is
    /// skipped: Low stays 0 and High BinCount - 1.
    void Compute();

    /// Bin index of the upper percentile (computes first when out of date).
    std::int32_t GetHigh();
    /// Bin index of the lower percentile (computes first when out of date).
    std::int32_t GetLow();
    /// Sum of all bins (computes first when out of date).
    std::int32_t GetTotal();

    std::int32_t Median = 0;        ///< bin index of the median
    std::int32_t BinCount = 0;      ///< number of bins
    std::int32_t High = 0;          ///< bin index of the upper percentile
    float HighPercent = 99.5f;      ///< upper percentile, per cent
    std::int32_t Mode = 0;          ///< index of the fullest bin (the first on a tie)
    std::int32_t Low = 0;           ///< bin index of the lower percentile
    float LowPercent = 0.5f;        ///< lower percentile, per cent
    std::int32_t Total = 0;         ///< sum of all bins
    bool Valid = false;             ///< statistics are up to date
    std::vector<std::int32_t> Bins; ///< BinCount counters
};

} // namespace vantorel
