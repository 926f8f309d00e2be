#include "pass/inputs/SatDumpProduct.h"

#include "TempDir.h"
#include "common/Files.h"
#include "pass/inputs/StatTiming.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace vantorel {
namespace {

using Json = nlohmann::json;
using testing::TempDir;

constexpr double kStart = 1489565554.0; // 2017-03-15 08:12:34 UTC
constexpr double kGroupSpacing = 1.2311400;
constexpr double kLate = 0.37; // the clock after the gap is not where the spacing puts it
constexpr double kOneMs = 1.0 / 86400000.0;

// Four groups, five missing, three more whose clock has drifted from the first four's.
Json GroupTimes() {
    Json t = Json::array();
    for (int g = 0; g < 12; ++g) {
        t.push_back(g >= 4 && g < 9 ? -1.0 : kStart + g * kGroupSpacing + (g >= 9 ? kLate : 0.0));
    }
    return t;
}

Json Tle(int norad) {
    return {{"norad", norad},
            {"name", "METEOR-M2 4"},
            {"line1", "1 59051U 24039A   26039.17551079"},
            {"line2", "2 59051  98.6852   0.2091"}};
}

Json ProjectionCfg() {
    return {{"type", "normal_single_line"},
            {"scan_angle", 110.1},
            {"roll_offset", -0.4},
            {"pitch_offset", 0},
            {"yaw_offset", 0},
            {"timestamp_offset", 1},
            {"image_width", 1568},
            {"interpolate_timestamps", 8}};
}

// As SatDump 1.x writes it: times and ifov_y per image, the element set at the top.
Json V1Product() {
    Json ch2 = GroupTimes();
    ch2.erase(0);
    return {{"instrument", "msu_mr"},
            {"type", "image"},
            {"has_timestamps", true},
            {"timestamps_type", 1},
            {"bit_depth", 8},
            {"tle", Tle(59051)},
            {"projection_cfg", ProjectionCfg()},
            {"images",
             {{{"file", "MSU-MR-1.png"},
               {"name", "1"},
               {"ifov_x", -1},
               {"ifov_y", 8},
               {"timestamps", GroupTimes()}},
              {{"file", "MSU-MR-2.png"},
               {"name", "2"},
               {"ifov_x", -1},
               {"ifov_y", 8},
               {"timestamps", ch2}}}}};
}

// As SatDump 2.x writes it: one list of times and the element set in projection_cfg.
Json V2Product() {
    Json cfg = ProjectionCfg();
    cfg["tle"] = Tle(7530);
    cfg["timestamps"] = GroupTimes();
    return {{"instrument", "msu_mr"},
            {"type", "image"},
            {"product_timestamp", kStart + 7.0},
            {"projection_cfg", cfg},
            {"images",
             {{{"file", "MSU-MR-1.png"}, {"name", "1"}, {"abs_index", 0}, {"bit_depth", 10}},
              {{"file", "MSU-MR-4.png"}, {"name", "4"}, {"abs_index", 3}, {"bit_depth", 10}}}}};
}

std::vector<std::uint8_t> Bytes(const Json& j) {
    return Json::to_cbor(j);
}

TSatDumpProduct Parse(const std::vector<std::uint8_t>& bytes) {
    return ParseSatDumpProduct(bytes, "pass/MSU-MR/product.cbor");
}

TEST(SatDumpProductParse, ReadsTheV1Layout) {
    const TSatDumpProduct p = Parse(Bytes(V1Product()));
    EXPECT_EQ(p.Layout, TSatDumpLayout::V1);
    EXPECT_EQ(p.Instrument, "msu_mr");
    ASSERT_TRUE(p.Tle);
    EXPECT_EQ(p.Tle->CatalogueNumber, "59051");
    EXPECT_EQ(p.Tle->Name, "METEOR-M2 4");
    EXPECT_EQ(p.Tle->Line2, "2 59051  98.6852   0.2091");
    EXPECT_EQ(p.TimestampsType, TSatDumpTimestamps::PerLineGroup);
    EXPECT_FALSE(p.ProductTimestamp);
    ASSERT_EQ(p.Images.size(), 2u);
    EXPECT_EQ(p.Images[1].File, "MSU-MR-2.png");
    EXPECT_EQ(p.Images[1].Channel, "2");
    EXPECT_EQ(p.Images[0].LinesPerTimestamp, 8);
    ASSERT_EQ(p.Images[0].Timestamps.size(), 12u);
    EXPECT_EQ(p.Images[1].Timestamps.size(), 11u);
    EXPECT_DOUBLE_EQ(p.Images[0].Timestamps[3], kStart + 3 * kGroupSpacing);
    EXPECT_TRUE(std::isnan(p.Images[0].Timestamps[4]));
    ASSERT_TRUE(p.Projection);
    EXPECT_EQ(p.Projection->ScanAngle, 110.1);
    EXPECT_EQ(p.Projection->RollOffset, -0.4);
    EXPECT_EQ(p.Projection->PitchOffset, 0.0); // written as an integer
    EXPECT_EQ(p.Projection->TimestampOffset, 1.0);
    EXPECT_EQ(p.Projection->ImageWidth, 1568.0);
}

TEST(SatDumpProductParse, ReadsTheV2LayoutWithItsSharedTimes) {
    const TSatDumpProduct p = Parse(Bytes(V2Product()));
    EXPECT_EQ(p.Layout, TSatDumpLayout::V2);
    ASSERT_TRUE(p.Tle);
    EXPECT_EQ(p.Tle->CatalogueNumber, "07530");
    ASSERT_TRUE(p.ProductTimestamp);
    EXPECT_EQ(*p.ProductTimestamp, kStart + 7.0);
    // Only the interpolation count says how many lines share a time.
    EXPECT_EQ(p.TimestampsType, TSatDumpTimestamps::PerLineGroup);
    ASSERT_EQ(p.Images.size(), 2u);
    for (const TSatDumpImage& image : p.Images) {
        EXPECT_EQ(image.LinesPerTimestamp, 8);
        ASSERT_EQ(image.Timestamps.size(), 12u);
        EXPECT_DOUBLE_EQ(image.Timestamps[11], kStart + 11 * kGroupSpacing + kLate);
    }

    Json unknown = V2Product();
    unknown["projection_cfg"]["tle"] = nullptr; // no element set found by the decoder
    unknown["projection_cfg"].erase("interpolate_timestamps");
    const TSatDumpProduct q = Parse(Bytes(unknown));
    EXPECT_FALSE(q.Tle);
    EXPECT_EQ(q.TimestampsType, TSatDumpTimestamps::PerLine);
    EXPECT_EQ(q.Images[0].LinesPerTimestamp, 1);
}

TEST(SatDumpProductParse, RefusesWhatIsNoMsuMrProductWithTheCauseAndTheFile) {
    const auto with = [](const char* key, Json value) {
        Json j = V1Product();
        j[key] = std::move(value);
        return Bytes(j);
    };
    const auto withImage = [](const char* key, Json value) {
        Json j = V1Product();
        j["images"][0][key] = std::move(value);
        return Bytes(j);
    };
    std::vector<std::uint8_t> truncated = Bytes(V1Product());
    truncated.resize(truncated.size() / 2);
    // An array inside an array a hundred thousand times over, and a list that claims 2^32
    // elements: neither may take the stack or the memory.
    std::vector<std::uint8_t> nested(100000, 0x81);
    nested.push_back(0x01);
    const std::vector<std::uint8_t> hugeCount = {0x9B, 0, 0, 0, 1, 0, 0, 0, 0, 0x01};

    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* cause;
    } rows[] = {
        {"a PNG", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, "not CBOR"},
        {"nothing", {}, "not CBOR"},
        {"cut short", truncated, "not CBOR"},
        {"nested too deep", nested, "nested more than"},
        {"a huge count", hugeCount, "elements"},
        {"a list at the top", Bytes(Json::array({1, 2})), "not a map"},
        {"no images", with("images", Json::array()), "no images"},
        {"images not a list", with("images", "MSU-MR-1.png"), "images is text, not a list"},
        {"another instrument", with("instrument", "avhrr_3"), "\"avhrr_3\", not \"msu_mr\""},
        {"times per scan position", with("timestamps_type", 2), "timestamps_type is 2"},
        {"a time as text", withImage("timestamps", {kStart, "09:15"}),
         "images[0].timestamps[1] is text, not a number"},
        {"a file outside the folder", withImage("file", "../MSU-MR-1.png"), "not a file name"},
        {"a fractional ifov_y", withImage("ifov_y", 7.5), "images[0].ifov_y is 7.5"},
        {"a catalogue number too big", with("tle", Tle(123456)), "tle.norad"},
    };
    for (const auto& row : rows) {
        try {
            Parse(row.bytes);
            ADD_FAILURE() << row.name << ": accepted";
        } catch (const ESatDumpProduct& e) {
            EXPECT_EQ(e.Headline(), "Not a SatDump MSU-MR product") << row.name;
            EXPECT_NE(e.Cause().find(row.cause), std::string::npos) << row.name << ": " << e.what();
            EXPECT_EQ(e.what(),
                      e.Headline() + "\n" + e.Cause() + "\nFile: pass/MSU-MR/product.cbor");
        }
    }
}

// A pass folder as SatDump leaves it: dataset.json beside the MSU-MR product folder.
struct SatDumpFolder : ::testing::Test {
    TempDir dir;
    std::string product;
    void SetUp() override {
        const std::vector<std::uint8_t> cbor = Bytes(V1Product());
        product =
            dir.Write("pass/MSU-MR/product.cbor",
                      std::string_view(reinterpret_cast<const char*>(cbor.data()), cbor.size()));
        dir.Write("pass/MSU-MR/MSU-MR-1.png", "");
        dir.Write("pass/MSU-MR/MSU-MR-2.png", "");
        dir.Write(
            "pass/dataset.json",
            R"({"satellite": "METEOR-M2-4", "timestamp": 1770542400.0, "products": ["MSU-MR"]})");
    }
};

TEST_F(SatDumpFolder, FindsTheProductAndTheImageFromAFolderItsCborOrAPicture) {
    const struct {
        std::string path;
        std::string channel;
        std::size_t image;
    } rows[] = {
        {dir / "pass/MSU-MR", "", 0},
        {dir / "pass/MSU-MR/", "2", 1},
        {product, "", 0},
        {dir / "pass/MSU-MR/MSU-MR-2.png", "", 1},
        {dir / "pass/MSU-MR/msu-mr-2.PNG", "2", 1}, // names compared ignoring case
    };
    for (const auto& row : rows) {
        const TSatDumpSource s = OpenSatDumpProduct(row.path, row.channel);
        EXPECT_EQ(s.ImageIndex, row.image) << row.path;
        EXPECT_TRUE(SameFolder(ExtractFilePath(s.ProductFile), dir / "pass/MSU-MR")) << row.path;
        EXPECT_EQ(s.ImagePath, ExtractFilePath(s.ProductFile) + s.Product.Images[row.image].File);
        EXPECT_EQ(s.Satellite, "METEOR-M2-4") << row.path;
        EXPECT_EQ(s.DatasetProblem, "");
    }

    std::filesystem::remove(dir / "pass/dataset.json");
    EXPECT_EQ(OpenSatDumpProduct(product).Satellite, "METEOR-M2 4"); // the element set's name
    dir.Write("pass/dataset.json", "{\"satellite\": ");
    const TSatDumpSource broken = OpenSatDumpProduct(product);
    EXPECT_EQ(broken.Satellite, "METEOR-M2 4");
    EXPECT_TRUE(broken.DatasetProblem.starts_with("Not a SatDump dataset file\n"))
        << broken.DatasetProblem;
}

TEST_F(SatDumpFolder, SaysWhatItCannotFind) {
    const struct {
        std::string path;
        std::string channel;
        const char* firstLine;
    } rows[] = {
        {dir / "pass", "", "Not a SatDump MSU-MR product"}, // no product.cbor there
        {dir / "pass/MSU-MR", "3", "The SatDump product has no such picture"},
        {dir / "pass/MSU-MR/MSU-MR-5.png", "", "The SatDump product has no such picture"},
        {dir / "pass/MSU-MR/MSU-MR-1.png", "2", "The SatDump product has no such picture"},
    };
    for (const auto& row : rows) {
        try {
            OpenSatDumpProduct(row.path, row.channel);
            ADD_FAILURE() << row.path << " " << row.channel << ": accepted";
        } catch (const ESatDumpProduct& e) {
            EXPECT_EQ(e.Headline(), row.firstLine) << e.what();
        }
    }
    EXPECT_EQ(FindSatDumpProductFile(dir / "pass"), std::nullopt);
}

TEST(SatDumpLineTimes, EachGroupTimesItsOwnLinesAndMissingGroupsGetNone) {
    const TSatDumpProduct p = Parse(Bytes(V1Product()));
    const int lines = 12 * 8 + 3; // three lines more than the groups cover
    const TSatDumpLineTimes t = SatDumpLineTimes(p, p.Images[0], lines);

    ASSERT_EQ(t.Times.size(), static_cast<std::size_t>(lines));
    EXPECT_TRUE(t.PeriodFromTimes);
    EXPECT_NEAR(t.LinePeriodSeconds, kGroupSpacing / 8, 1e-6);
    EXPECT_EQ(t.Timed, 7 * 8);
    const TDateTime start = EncodeDateTime(2017, 3, 15, 8, 12, 34);
    ASSERT_TRUE(t.Times[0]);
    EXPECT_NEAR(*t.Times[0], start, kOneMs);
    ASSERT_TRUE(t.Times[31]);
    EXPECT_NEAR(*t.Times[31], start + 31 * kGroupSpacing / 8 / kSecondsPerDay, kOneMs);
    for (const int blank : {32, 60, 71, 96, 98}) {
        EXPECT_FALSE(t.Times[static_cast<std::size_t>(blank)]) << blank;
    }
    // After the gap the times come from the groups there, not from the start.
    ASSERT_TRUE(t.Times[72] && t.Times[95]);
    EXPECT_NEAR(*t.Times[72], start + (9 * kGroupSpacing + kLate) / kSecondsPerDay, kOneMs);
    EXPECT_NEAR(*t.Times[95],
                start + (11 * kGroupSpacing + kLate + 7 * kGroupSpacing / 8) / kSecondsPerDay,
                kOneMs);
}

TEST(SatDumpLineTimes, WithoutAdjacentGroupsTheDefaultPeriodIsUsed) {
    Json j = V1Product();
    j["images"][0]["timestamps"] = {kStart, -1, kStart + 2 * kGroupSpacing, nullptr};
    const TSatDumpProduct p = Parse(Bytes(j));
    const TSatDumpLineTimes t = SatDumpLineTimes(p, p.Images[0], 16);
    EXPECT_FALSE(t.PeriodFromTimes);
    EXPECT_EQ(t.LinePeriodSeconds, kDefaultLinePeriodSeconds);
    EXPECT_EQ(t.Timed, 8);

    j["timestamps_type"] = 0; // one time a line
    const TSatDumpProduct perLine = Parse(Bytes(j));
    const TSatDumpLineTimes u = SatDumpLineTimes(perLine, perLine.Images[0], 4);
    EXPECT_EQ(u.Timed, 2);
    EXPECT_FALSE(u.Times[1]);
    ASSERT_TRUE(u.Times[2]);
    EXPECT_NEAR(*u.Times[2],
                EncodeDateTime(2017, 3, 15, 8, 12, 34) + 2 * kGroupSpacing / kSecondsPerDay,
                kOneMs);
}

// The real pass of the development folder, when VANTOREL_REALPASSES names it.
TEST(SatDumpRealPass, ReadsTheMeteorM24Product) {
    const char* folder = std::getenv("VANTOREL_REALPASSES");
    if (!folder || !*folder) {
        GTEST_SKIP() << "VANTOREL_REALPASSES is not set: the real SatDump product is not read";
    }
    const TSatDumpSource s =
        OpenSatDumpProduct(std::string(folder) + "/m2-4-2026-02-08/MSU-MR/MSU-MR-1.png");
    const TSatDumpProduct& p = s.Product;
    EXPECT_EQ(p.Layout, TSatDumpLayout::V1);
    ASSERT_TRUE(p.Tle);
    EXPECT_EQ(p.Tle->CatalogueNumber, "59051");
    EXPECT_EQ(s.Satellite, "METEOR-M2 4");
    ASSERT_EQ(p.Images.size(), 3u);
    EXPECT_EQ(p.Images[0].Timestamps.size(), 345u);
    EXPECT_EQ(p.Images[1].Timestamps.size(), 304u);
    EXPECT_EQ(p.Images[2].Timestamps.size(), 317u);

    const TSatDumpLineTimes t = SatDumpLineTimes(p, p.Images[s.ImageIndex.value()], 2760);
    EXPECT_EQ(t.Timed, 219 * 8);
    EXPECT_NEAR(t.LinePeriodSeconds, kDefaultLinePeriodSeconds, 1e-5);
    ASSERT_TRUE(t.Times[0]);
    EXPECT_NEAR(*t.Times[0], EncodeDateTime(2026, 2, 8, 9, 15, 41, 726), kOneMs);
}

} // namespace
} // namespace vantorel
