#include "alignment/CoastLines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace vantorel {
namespace {

// Douglas-Peucker as plainly written, by recursion: every distance by hypot, the first
// farthest kept.
void PlainKeep(const std::vector<std::pair<double, double>>& q, std::size_t a, std::size_t b,
               std::vector<bool>& keep) {
    const double dx = q[b].first - q[a].first, dy = q[b].second - q[a].second;
    const double length = std::hypot(dx, dy);
    double farthest = 0.0;
    std::size_t at = a;
    for (std::size_t i = a + 1; i < b; ++i) {
        const double px = q[i].first - q[a].first, py = q[i].second - q[a].second;
        const double d = length > 0.0 ? std::fabs(px * dy - py * dx) / length : std::hypot(px, py);
        if (d > farthest) {
            farthest = d;
            at = i;
        }
    }
    if (farthest > 0.001) {
        keep[at] = true;
        PlainKeep(q, a, at, keep);
        PlainKeep(q, at, b, keep);
    }
}

std::vector<std::pair<float, float>> PlainThin(const std::vector<std::pair<float, float>>& p) {
    if (p.size() < 3) {
        return p;
    }
    double lat = 0.0;
    for (const auto& point : p) {
        lat += point.second;
    }
    // Longitudes shrunk to the run's mean latitude.
    const double shrink = std::cos(lat / static_cast<double>(p.size()) * M_PI / 180.0);
    std::vector<std::pair<double, double>> q;
    for (const auto& point : p) {
        q.emplace_back(point.first * shrink, point.second);
    }
    std::vector<bool> keep(p.size(), false);
    keep.front() = keep.back() = true;
    PlainKeep(q, 0, p.size() - 1, keep);
    std::vector<std::pair<float, float>> kept;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (keep[i]) {
            kept.push_back(p[i]);
        }
    }
    return kept;
}

// Runs that test the shortcuts: wiggles about the tolerance, equal offsets on both sides
// (ties), closed rings, repeated points, and a run with a non-finite point.
TEST(ThinShoreRun, KeepsWhatPlainDouglasPeuckerKeeps) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<std::vector<std::pair<float, float>>> runs;
    for (int r = 0; r < 400; ++r) {
        std::vector<std::pair<float, float>> run;
        const int n = 3 + r % 60;
        const float wiggle = 0.0005f + 0.001f * static_cast<float>(r % 4);
        for (int i = 0; i < n; ++i) {
            const float t = static_cast<float>(i) * 0.004f;
            float off = r % 3 == 0 ? (i % 2 == 0 ? wiggle : -wiggle) : wiggle * unit(random);
            run.emplace_back(10.0f + t, 55.0f + off);
        }
        if (r % 5 == 0) {
            run.push_back(run.front()); // a closed ring
        }
        if (r % 7 == 0) {
            run.insert(run.begin() + n / 2, run[static_cast<std::size_t>(n / 2)]);
        }
        runs.push_back(run);
    }
    // A point exactly 0.001 degrees off its chord, at the tolerance.
    runs.push_back({{0.0f, 0.0f}, {0.5f, 0.001f}, {1.0f, 0.0f}});
    runs.push_back({{0.0f, 0.0f}, {0.5f, NAN}, {1.0f, 0.0f}, {1.5f, 0.2f}});
    runs.push_back({{0.0f, 0.0f}, {0.5f, 0.3f}, {INFINITY, 0.0f}});
    for (const auto& run : runs) {
        auto ours = run;
        ThinShoreRun(ours);
        const auto plain = PlainThin(run);
        ASSERT_EQ(ours.size(), plain.size());
        for (std::size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(std::memcmp(&ours[i], &plain[i], sizeof ours[i]), 0) << i;
        }
    }
}

} // namespace
} // namespace vantorel
