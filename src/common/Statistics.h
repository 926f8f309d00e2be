#pragma once

// The few statistics several folders take of lists of numbers.

#include <span>
#include <vector>

namespace vantorel {

struct TMeanAndSpread {
    double Mean = 0.0;
    /// The sample standard deviation (divided by n - 1); 0 for fewer than two values.
    double Spread = 0.0;
};

/// The mean and spread of values (0, 0 for none).
TMeanAndSpread MeanAndSpread(std::span<const double> values);

/// The value at rank n x percent / 100 (whole ranks, from 0) of values, which it reorders;
/// values must not be empty.
double Percentile(std::vector<double>& values, int percent);

} // namespace vantorel
