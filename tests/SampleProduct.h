#pragma once

// The bundled sample pass as a decoder's product folder, for the tests that process one.

#include "SamplePass.h"
#include "TestData.h"
#include "imaging/zorPNGImage.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace vantorel::testing {

/// The sample pass as a SatDump product in `dir`/`folder`: its picture as MSU-MR-1.png, a
/// time per group of 8 lines from `times` (the groups from lostFirst to lostLast, when
/// given, without one), the sample's element set inside. Returns the product folder.
inline std::string SampleProductCopy(const TempDir& dir, const std::string& folder,
                                     const TLineTimes& times, int lostFirst = 0,
                                     int lostLast = -1) {
    TBitmap picture;
    picture.LoadFromFile(kSampleImage);
    TPngImage png;
    png.AssignBitmap(picture);
    const std::string product = dir / folder;
    std::filesystem::create_directories(product);
    png.SaveToFile(product + "/MSU-MR-1.png");
    nlohmann::json stamps = nlohmann::json::array();
    for (int group = 0; group < picture.Height() / 8; ++group) {
        const double unix = (times.At(8 * group) - 25569.0) * kSecondsPerDay;
        stamps.push_back(group >= lostFirst && group <= lostLast ? -1.0 : unix);
    }
    const auto lines = ReadTestDataLines("../../samples/keps/meteor.txt");
    const nlohmann::json cbor = {
        {"instrument", "msu_mr"},
        {"type", "image"},
        {"timestamps_type", 1},
        {"tle",
         {{"norad", 40069}, {"name", "METEOR-M 2"}, {"line1", lines[1]}, {"line2", lines[2]}}},
        {"images",
         {{{"file", "MSU-MR-1.png"}, {"name", "1"}, {"ifov_y", 8}, {"timestamps", stamps}}}}};
    const std::vector<std::uint8_t> bytes = nlohmann::json::to_cbor(cbor);
    dir.Write(folder + "/product.cbor", std::string(bytes.begin(), bytes.end()));
    return product;
}

} // namespace vantorel::testing
