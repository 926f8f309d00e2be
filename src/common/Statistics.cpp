#include "common/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vantorel {

TMeanAndSpread MeanAndSpread(std::span<const double> values) {
    TMeanAndSpread out;
    if (values.empty()) {
        return out;
    }
    for (const double v : values) {
        out.Mean += v;
    }
    out.Mean /= static_cast<double>(values.size());
    if (values.size() < 2) {
        return out;
    }
    double squares = 0.0;
    for (const double v : values) {
        squares += (v - out.Mean) * (v - out.Mean);
    }
    out.Spread = std::sqrt(squares / static_cast<double>(values.size() - 1));
    return out;
}

double Percentile(std::vector<double>& values, int percent) {
    const std::size_t k = values.size() * static_cast<std::size_t>(percent) / 100;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

} // namespace vantorel
