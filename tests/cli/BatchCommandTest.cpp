#include "Headless.h"

#include "SamplePass.h"
#include "SampleProduct.h"
#include "common/Files.h"
#include "common/TextFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

namespace vantorel::cli {
namespace {

const std::string kPass = "2020_09_27_08_00_58_64";

// The sample pass in dir/folder, with its .STAT files unless told otherwise.
std::string SampleCopy(const testing::TempDir& dir, const std::string& folder, bool stat = true) {
    std::filesystem::create_directories(dir / folder);
    const std::string image = dir / (folder + "/" + kPass + ".bmp");
    std::filesystem::copy_file(testing::kSampleImage, image);
    for (const char* channel : {"64", "65", "68"}) {
        const std::string name = "2020_09_27_08_00_58_" + std::string(channel) + ".stat";
        if (stat) {
            std::filesystem::copy_file(testing::kSource + "/samples/" + name,
                                       dir / (folder + "/" + name));
        }
    }
    return image;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

struct Batch : Headless {
    const std::string keps = "--keplers=" + kSource + "/samples/keps";
};

// Two copies of the sample, one moved 37 pixels right and 23 lines down, one without its
// .STAT files, a file that is no picture and one that is not there: each is run on its own
// on two threads, the worst exit code is the batch's, and the report says what became of each.
TEST_F(Batch, GoodAndBadInputsRunInParallelEachOnItsOwn) {
    testing::TempDir dir;
    testing::TempDir moved;
    const std::vector<std::string> inputs = {
        SampleCopy(dir, "a"),
        SampleCopy(dir, "b"),
        testing::ShiftedSampleCopy(moved, 37, 23),
        SampleCopy(dir, "c", false),
        dir.Write("d/" + kPass + ".bmp", "not an image at all"),
        dir / ("e/" + kPass + ".bmp")};
    std::vector<std::string> args = {"process", keps, "--file-clock-offset=0", "--jobs=2",
                                     "--report=" + (dir / "report.json")};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const Result r = Call(args);
    EXPECT_EQ(r.code, kExitFailure) << r.err;
    EXPECT_NE(r.out.find("6 inputs: 3 done, 1 with warnings, 2 failed\n"), std::string::npos)
        << r.out;
    for (const std::string& input : inputs) {
        EXPECT_EQ(Count(r.out, " " + input), 1u) << input << "\n" << r.out;
    }
    EXPECT_NE(r.err.find("Vantorel - missing .STAT file"), std::string::npos);
    // The same pass gives the same picture on whichever thread it ran.
    const auto a = ReadFileBytes(dir / ("a/" + kPass + ".geo.bmp"));
    ASSERT_TRUE(a);
    EXPECT_TRUE(a == ReadFileBytes(dir / ("b/" + kPass + ".geo.bmp")));

    const auto json = ReadFileBytes(dir / "report.json");
    ASSERT_TRUE(json);
    const nlohmann::json report = nlohmann::json::parse(*json);
    EXPECT_EQ(report["version"], 1);
    EXPECT_EQ(
        report["summary"],
        nlohmann::json({{"done", 3}, {"exit", 1}, {"failed", 2}, {"inputs", 6}, {"warnings", 1}}));
    const nlohmann::json& p = report["passes"];
    ASSERT_EQ(p.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(p[i]["input"], inputs[i]);
    }
    EXPECT_EQ(p[0]["status"], "done");
    EXPECT_EQ(p[0]["output"], ExpandFileName(dir / ("a/" + kPass + ".geo.bmp")));
    EXPECT_EQ(p[0]["satellite"]["catalogue_number"], "40069");
    EXPECT_EQ(p[0]["pass"]["start_from"], "stat");
    EXPECT_EQ(p[0]["pass"]["start"].get<std::string>().substr(0, 19), "2020-09-27T08:01:00");
    EXPECT_EQ(p[0]["pass"]["lines"], 4000);
    EXPECT_EQ(p[0]["pass"]["direction"], "southbound");
    EXPECT_NE(p[0]["element_set"]["file"].get<std::string>().find("samples/keps"),
              std::string::npos);
    EXPECT_LT(std::fabs(p[0]["element_set"]["age_days"].get<double>()), 7.0);
    EXPECT_TRUE(p[0]["fit"]["fitted"].get<bool>());

    const nlohmann::json& offsets = p[2]["offsets"];
    EXPECT_EQ(offsets["from"], "aligned");
    EXPECT_EQ(offsets["line"], -13);
    EXPECT_EQ(offsets["pixel"], 17);
    EXPECT_EQ(offsets["default_line"], 10);
    EXPECT_TRUE(offsets["alignment"]["confident"].get<bool>());

    EXPECT_EQ(p[3]["status"], "warnings");
    EXPECT_EQ(p[3]["exit"], 3);
    EXPECT_EQ(p[3]["pass"]["start_from"], "file name");
    const nlohmann::json& warnings = p[3]["warnings"];
    EXPECT_TRUE(std::any_of(warnings.begin(), warnings.end(),
                            [](const nlohmann::json& w) { return w["type"] == "MissingStat"; }));

    EXPECT_EQ(p[4]["status"], "failed");
    EXPECT_TRUE(p[4]["output"].is_null());
    EXPECT_EQ(p[4]["errors"][0]["type"], "StageFailed");
    EXPECT_TRUE(p[5]["kind"].is_null());
    EXPECT_NE(p[5]["failure"].get<std::string>().find("no such file"), std::string::npos);
}

// A folder is searched (product folders taken whole; hidden folders and the program's own
// pictures left out); two inputs that would give one picture, or a picture that exists,
// fail without a run unless --overwrite.
TEST_F(Batch, FoldersAreSearchedAndNoPictureIsReplacedUnasked) {
    testing::TempDir root;
    testing::TempDir out;
    const std::string first = SampleCopy(root, "a");
    const std::string second = SampleCopy(root, "b");
    SampleCopy(root, ".hidden");
    root.Write("a/" + kPass + ".geo.bmp", "an earlier picture");
    TLineTimes times;
    times.Start = EncodeDateTime(2020, 9, 27, 8, 1, 0);
    testing::WriteSampleProduct(root, times);
    // Named like passes, but no pictures: each has its line in the summary.
    std::filesystem::create_directory(root / "c");
    std::filesystem::create_symlink(root / "gone.bmp", root / ("c/" + kPass + ".bmp"));
    ASSERT_EQ(::mkfifo((root / "c/2020_09_27_09_00_00_64.bmp").c_str(), 0600), 0);

    const std::vector<std::string> base = {"process",     keps,       "--file-clock-offset=0",
                                           "--no-align",  "--jobs=2", "--out-dir=" + out.Path(),
                                           "--format=png"};
    auto call = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return Call(args);
    };
    const Result r = call({root.Path()});
    EXPECT_EQ(r.code, kExitFailure) << r.err;
    EXPECT_NE(r.out.find("5 inputs: 2 done, 0 with warnings, 3 failed\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(kPass + ".bmp: a link to nothing (" + (root / "gone.bmp")),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("09_00_00_64.bmp: it is no regular file (a FIFO"), std::string::npos);
    const std::string picture = out / (kPass + ".geo.png");
    EXPECT_NE(
        r.out.find("failed    " + second + ": " + picture + " is the picture of " + first + " too"),
        std::string::npos)
        << r.out;
    const auto png = ReadFileBytes(picture);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->substr(1, 3), "PNG");
    EXPECT_TRUE(FileExists(out / "pass_MSU-MR-1.geo.png"));

    // Again: the picture stays as it is, the report alone on standard output says why.
    const Result again = call({"--report=-", first});
    EXPECT_EQ(again.code, kExitFailure);
    const nlohmann::json report = nlohmann::json::parse(again.out);
    EXPECT_EQ(report["passes"][0]["failure"],
              picture + " exists already (--overwrite replaces it)");
    EXPECT_TRUE(png == ReadFileBytes(picture));
    EXPECT_EQ(call({"--overwrite", first}).code, kExitOk);

    EXPECT_EQ(Call({"process", "--out=x.bmp", first, second}).code, kExitUsage);
    EXPECT_EQ(call({"--jobs=0", first}).code, kExitUsage);
    EXPECT_EQ(call({"--format=gif", first}).code, kExitUsage);

    // A batch writes what one input does: GeoTIFFs, and the picture without the overlay.
    testing::TempDir plain;
    testing::TempDir drawn;
    for (const std::string& dir : {plain.Path(), drawn.Path()}) {
        std::vector<std::string> args = {"process",      keps,       "--file-clock-offset=0",
                                         "--no-align",   "--jobs=2", "--out-dir=" + dir,
                                         "--format=tif", first,      root / "pass"};
        if (dir == plain.Path()) {
            args.push_back("--no-overlay");
        }
        const Result geo = Call(args);
        EXPECT_EQ(geo.code, kExitOk) << geo.out << geo.err;
    }
    for (const std::string& name : {kPass + ".geo.tif", std::string("pass_MSU-MR-1.geo.tif")}) {
        const auto without = ReadFileBytes(plain / name);
        const auto with = ReadFileBytes(drawn / name);
        ASSERT_TRUE(without && with) << name;
        EXPECT_EQ(without->substr(0, 4), std::string("II*\0", 4));
        EXPECT_NE(*without, *with);
    }
}

} // namespace
} // namespace vantorel::cli
