#pragma once

// The sample pass as a decoder's (SatDump's) product folder, with channels of its own
// choosing, for the tests of products and composites.

#include "SamplePass.h"
#include "TempDir.h"
#include "TestData.h"
#include "common/DateTime.h"
#include "imaging/zorPNGImage.h"
#include "pass/PassPipeline.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace vantorel::testing {

/// One channel of a product made of the sample pass: a stretch of the picture's lines
/// (first line and count, multiples of 8) and the groups of 8 of its own lines it lost.
struct SampleChannel {
    std::string name;
    int first = 0;
    int lines = 0;
    int lostFrom = -1; ///< first lost group, -1 for none
    int lostTo = -1;
};

/// The sample pass as a decoder's product folder, dir/pass/MSU-MR: each channel a grey PNG
/// MSU-MR-<name>.png with one time per group of 8 lines (lost groups black, without a
/// time), the sample's element set inside. Returns the folder.
inline std::string WriteSampleProduct(const TempDir& dir, const TBitmap& picture,
                                      const TLineTimes& times,
                                      const std::vector<SampleChannel>& channels,
                                      std::vector<std::string> tle = {}) {
    const std::string folder = dir / "pass/MSU-MR/";
    std::filesystem::create_directories(folder);
    nlohmann::json images = nlohmann::json::array();
    for (const SampleChannel& c : channels) {
        TBitmap part;
        part.SetPixelFormat(TPixelFormat::pf8bit);
        part.SetSize(picture.Width(), c.lines);
        nlohmann::json stamps = nlohmann::json::array();
        for (int group = 0; group < c.lines / 8; ++group) {
            const bool lost = group >= c.lostFrom && group <= c.lostTo;
            const int line = c.first + 8 * group;
            stamps.push_back(lost ? -1.0 : (times.At(line) - 25569.0) * kSecondsPerDay);
            for (int y = 8 * group; y < 8 * group + 8; ++y) {
                std::copy_n(picture.ScanLine(c.first + y), picture.Width(), part.ScanLine(y));
                if (lost) {
                    std::fill_n(part.ScanLine(y), picture.Width(), 0);
                }
            }
        }
        TPngImage png;
        png.AssignBitmap(part);
        png.SaveToFile(folder + "MSU-MR-" + c.name + ".png");
        images.push_back({{"file", "MSU-MR-" + c.name + ".png"},
                          {"name", c.name},
                          {"ifov_y", 8},
                          {"timestamps", stamps}});
    }
    const auto lines = tle.empty() ? testing::ReadTestDataLines("../../samples/keps/meteor.txt")
                                   : tle;
    const nlohmann::json product = {
        {"instrument", "msu_mr"},
        {"type", "image"},
        {"timestamps_type", 1},
        {"tle",
         {{"norad", 40069}, {"name", "METEOR-M 2"}, {"line1", lines[1]}, {"line2", lines[2]}}},
        {"projection_cfg", {{"image_width", picture.Width()}}},
        {"images", images}};
    const std::vector<std::uint8_t> cbor = nlohmann::json::to_cbor(product);
    dir.Write("pass/MSU-MR/product.cbor", std::string(cbor.begin(), cbor.end()));
    return folder;
}

/// The whole sample pass as a one-channel product ("1") at the given times.
inline std::string WriteSampleProduct(const TempDir& dir, const TLineTimes& times) {
    TBitmap picture;
    picture.LoadFromFile(kSampleImage);
    return WriteSampleProduct(dir, picture, times, {{"1", 0, picture.Height()}});
}

} // namespace vantorel::testing
