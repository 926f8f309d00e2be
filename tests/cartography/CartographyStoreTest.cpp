#include "cartography/zorCartography.h"

#include "TempDir.h"
#include "cartography/BoundaryIndex.h"
#include "common/Program.h"
#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vantorel {
namespace {

using testing::TempDir;

const std::string kData = std::string(VANTOREL_SOURCE_DIR) + "/tests/data/cartography/";

// A native boundary file built record by record.
struct NativeFile {
    std::string bytes;

    void Le32(std::int32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
        }
    }
    void Le16(std::int16_t v) {
        bytes += static_cast<char>(static_cast<std::uint16_t>(v) & 0xFF);
        bytes += static_cast<char>(static_cast<std::uint16_t>(v) >> 8);
    }
    NativeFile& Record(std::uint8_t kind, const std::vector<std::pair<int, int>>& arcMinutes,
                       int declared = -1) {
        Le32(declared >= 0 ? declared : static_cast<int>(arcMinutes.size()));
        bytes += static_cast<char>(kind);
        for (const auto& [lon, lat] : arcMinutes) {
            Le16(static_cast<std::int16_t>(lon));
            Le16(static_cast<std::int16_t>(lat));
        }
        return *this;
    }
};

// Loads files into the store, as the program does: what the plan says before reading is
// what the store then holds.
void Load(TCartogList& store, const std::string& files,
          TPointReading reading = TPointReading::AsAsked, const TBoundaryIndex* index = nullptr) {
    const TCartogList::TBoundaryPlan plan = TCartogList::PlanBoundaryFiles(files, index);
    store.LoadPlanned(plan, reading);
    EXPECT_EQ(plan.Count(), store.Count()) << files;
    EXPECT_EQ(plan.FirstFileName(), store.FirstFileName());
}

TEST(CartographyStore, NativeRecordsInArcMinutesWithBounds) {
    TempDir dir;
    NativeFile f;
    f.Record(0, {{600, 3000}, {630, 3030}, {-60, 2970}}).Record(5, {}).Record(2, {{10800, -5400}});
    f.bytes += std::string(3, '\0'); // a head cut short: ignored
    const std::string path = dir.Write("Countries.dat", f.bytes);

    TCartogList store;
    Load(store, path);
    ASSERT_EQ(store.Count(), 3);
    const TLineSegment& s = store[0];
    EXPECT_EQ(s.Kind, 0);
    EXPECT_EQ(s.Count, 3);
    EXPECT_FLOAT_EQ(s.Points[0].lon, 10.0f);
    EXPECT_FLOAT_EQ(s.Points[0].lat, 50.0f);
    EXPECT_FLOAT_EQ(s.Points[1].lon, 10.5f);
    EXPECT_FLOAT_EQ(s.North, 50.5f);
    EXPECT_FLOAT_EQ(s.South, 49.5f);
    EXPECT_FLOAT_EQ(s.East, 10.5f);
    EXPECT_FLOAT_EQ(s.West, -1.0f);
    EXPECT_EQ(store[1].Count, 0); // N = 0 in the middle of the file: an empty segment
    EXPECT_EQ(store[1].Kind, 5);
    EXPECT_FLOAT_EQ(store[1].North, -2147483648.0f);
    EXPECT_FLOAT_EQ(store[2].Points[0].lon, 180.0f);
    EXPECT_EQ(store.MaxCount, 3);
    EXPECT_TRUE(store.ClosePolylines);
    EXPECT_EQ(store.FirstFileName(), path);
}

TEST(CartographyStore, ARecordHeadEndingAtTheEndOfTheFileIsDropped) {
    TempDir dir;
    NativeFile f;
    f.Record(0, {{1, 1}, {2, 2}}).Record(0, {});
    TCartogList store;
    Load(store, dir.Write("a.dat", f.bytes));
    EXPECT_EQ(store.Count(), 1);
}

TEST(CartographyStore, RecordsCutShortKeepOnlyTheirWholePoints) {
    TempDir dir;
    NativeFile f;
    f.Record(0, {{1, 1}, {2, 2}}).Record(0, {{3, 3}, {4, 4}}, /*declared=*/1000000);
    f.bytes += "\x05\x00"; // half a point
    TCartogList store;
    Load(store, dir.Write("a.dat", f.bytes));
    ASSERT_EQ(store.Count(), 2);
    EXPECT_EQ(store[1].Count, 2);
    EXPECT_EQ(store[1].Points.size(), 2u);
    EXPECT_EQ(store.MaxCount, 2); // the points really read, not the count claimed

    NativeFile negative;
    negative.Record(0, {{1, 1}}).Record(0, {}, /*declared=*/0);
    negative.bytes.replace(9, 4, "\xFF\xFF\xFF\xFF"); // the second count is negative
    negative.bytes += "more bytes after it";
    Load(store, dir.Write("b.dat", negative.bytes));
    EXPECT_EQ(store.Count(), 1);
}

TEST(CartographyStore, TinyMissingAndSkippedFilesAddNothing) {
    TempDir dir;
    TCartogList store;
    Load(store, dir.Write("short.dat", "abc") + "|" + (dir / "missing.dat") + "|" +
                    dir.Write("skip.dat", "# -b whatever follows\n1 2 3\n"));
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.FileNames().size(), 3u);
    Load(store, "");
    EXPECT_EQ(store.FirstFileName(), "");
}

TEST(CartographyStore, GshhsLevelsAreasAndBothByteOrders) {
    for (const char* name : {"shore_le.b", "shore_be.b"}) {
        TCartogList store;
        Load(store, kData + name);
        ASSERT_EQ(store.Count(), 5) << name; // levels 1, 2 (area 100), 3, 6 and 1
        EXPECT_FALSE(store.ClosePolylines);
        for (int i = 0; i < store.Count(); ++i) {
            EXPECT_EQ(store[i].Kind, 1);
        }
        EXPECT_FLOAT_EQ(store[0].Points[2].lon, 11.0f);
        EXPECT_FLOAT_EQ(store[0].Points[2].lat, 51.0f);
        EXPECT_FLOAT_EQ(store[1].Points[0].lon, 10.5f); // the lake of area 100
        EXPECT_FLOAT_EQ(store[3].South, -76.0f);        // level 6
        // East of 180: the bounds move to -170 .. -160, the points keep 190 .. 200.
        const TLineSegment& east = store[4];
        EXPECT_FLOAT_EQ(east.East, -160.0f);
        EXPECT_FLOAT_EQ(east.West, -170.0f);
        EXPECT_FLOAT_EQ(east.Points[1].lon, 200.0f);
        EXPECT_EQ(store.MaxCount, 4);
    }
}

// A GSHHS file with the older, shorter headers, built here.
std::string OldGshhs(int headerBytes, std::uint32_t field8) {
    std::string bytes;
    auto le32 = [&bytes](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    };
    for (int poly = 0; poly < 2; ++poly) {
        const std::uint32_t fields[11] = {0, 2, 1u | (3u << 8), 0, 0, 0, 0, 500, field8, 0, 0};
        for (int i = 0; i < headerBytes / 4; ++i) {
            le32(fields[i]);
        }
        le32(static_cast<std::uint32_t>(5000000 + poly));
        le32(45000000);
        le32(6000000);
        le32(46000000);
    }
    return bytes;
}

TEST(CartographyStore, GshhsHeaderSizeIsDecidedFromTheFirstHeader) {
    TempDir dir;
    TCartogList store;
    Load(store, dir.Write("a.b", OldGshhs(36, 0)));
    ASSERT_EQ(store.Count(), 2);
    EXPECT_FLOAT_EQ(store[1].Points[0].lon, 5.000001f);
    Load(store, dir.Write("b.b", OldGshhs(40, 3)));
    ASSERT_EQ(store.Count(), 2);
    EXPECT_FLOAT_EQ(store[1].Points[1].lat, 46.0f);
    // A header cut short at the end is no polygon; a negative count ends the file; a
    // polygon cut short keeps the points that are there.
    Load(store, dir.Write("c.b", OldGshhs(36, 0) + std::string(20, '\0')));
    EXPECT_EQ(store.Count(), 2);
    std::string negative = OldGshhs(36, 0);
    negative.replace(36 + 16 + 4, 4, "\xFF\xFF\xFF\xFF");
    Load(store, dir.Write("d.b", negative));
    EXPECT_EQ(store.Count(), 1);
    Load(store, dir.Write("e.b", OldGshhs(36, 0).substr(0, 36 + 16 + 36 + 8)));
    ASSERT_EQ(store.Count(), 2);
    EXPECT_EQ(store[1].Points.size(), 1u);
}

TEST(CartographyStore, ANativeFileReplacesWhatWasLoadedBeforeIt) {
    TempDir dir;
    NativeFile f;
    f.Record(0, {{1, 1}, {2, 2}}).Record(0, {{3, 3}});
    const std::string native = dir.Write("n.dat", f.bytes + std::string(5, '\x01'));
    TCartogList store;
    Load(store, kData + "shore_le.b|" + native);
    EXPECT_EQ(store.Count(), 2);
    EXPECT_TRUE(store.ClosePolylines);
    Load(store, native + "|" + kData + "shore_le.b");
    EXPECT_EQ(store.Count(), 7);
    EXPECT_FALSE(store.ClosePolylines); // the last file decides
}

TEST(CartographyStore, CapacityGrowsWhenExactlyFullAndIterationVisitsAll) {
    TCartogList store;
    EXPECT_EQ(store.Capacity(), 1500);
    for (int i = 0; i < 1500; ++i) {
        store.AddSegment(std::make_unique<TLineSegment>());
    }
    EXPECT_EQ(store.Capacity(), 6500);
    int cursor = 0;
    int visited = 0;
    for (const TLineSegment* s = store.FirstSegment(cursor); s != nullptr;
         s = store.NextSegment(cursor)) {
        ++visited;
    }
    EXPECT_EQ(visited, 1500);
    store.Clear();
    EXPECT_EQ(store.FirstSegment(cursor), nullptr);
    EXPECT_EQ(store.MaxCount, 0);
}

// A GSHHS file read whole, from a stream.
void ReadAtOnce(TCartogList& store, const std::string& file) {
    const std::string bytes = ReadFileBytes(file).value_or("");
    TByteStream stream({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    store.ReadGshhsPolygons(stream);
}

void ExpectSameSegments(const TCartogList& a, const TCartogList& b) {
    ASSERT_EQ(a.Count(), b.Count());
    EXPECT_EQ(a.MaxCount, b.MaxCount);
    for (int i = 0; i < a.Count(); ++i) {
        const TLineSegment& x = a[i];
        const TLineSegment& y = b[i];
        ASSERT_EQ(x.Points.size(), y.Points.size()) << i;
        ASSERT_TRUE(x.Points.empty() || std::memcmp(x.Points.data(), y.Points.data(),
                                                    x.Points.size() * sizeof x.Points[0]) == 0)
            << i;
        ASSERT_TRUE(x.North == y.North && x.South == y.South && x.East == y.East &&
                    x.West == y.West && x.Count == y.Count && x.Kind == y.Kind && x.Role == y.Role)
            << i;
        ASSERT_EQ(std::memcmp(&a.SegmentBox(i), &b.SegmentBox(i), sizeof(TGeoBox)), 0) << i;
    }
}

// The program's shores are read as a picture asks for them: the segments that touch a
// part of the world are found as from reading all at once, and what is read then is what
// reading all at once gives.
// So are they where the file is planned from its index (the build makes it beside the
// programs), which tells the cells round each segment's points without reading them.
TEST(CartographyStore, ShoresReadWhenAskedForAreTheShoresReadAtOnce) {
    const std::string file = std::string(VANTOREL_SOURCE_DIR) + "/data/Boundaries.b";
    const auto view = TFileView::Open(file);
    const auto written = TBoundaryIndex::Write(view->Bytes());
    ASSERT_TRUE(written.has_value());
    EXPECT_TRUE(ReadFileBytes(ProgramFolder() + kBoundaryIndexFile) == *written);
    const auto index = TBoundaryIndex::FromBytes(*written);
    ASSERT_TRUE(index && index->Fits(view->Bytes()));
    TCartogList atOnce;
    ReadAtOnce(atOnce, file);
    for (const TBoundaryIndex* planned : {static_cast<const TBoundaryIndex*>(nullptr), &*index}) {
        TCartogList later;
        Load(later, file, TPointReading::AsAsked, planned);
        for (const TGeoBox& part :
             {TGeoBox{35.0f, 72.0f, -12.0f, 60.0f}, TGeoBox{-80.0f, -60.0f, -180.0f, 360.0f},
              TGeoBox{50.0f, 75.0f, 170.0f, 25.0f}, TGeoBox{-5.0f, 5.0f, -1.0f, 2.0f}}) {
            const TGeoExtent extent = TGeoExtent::Covering(part);
            std::vector<int> touching;
            for (int i = 0; i < atOnce.Count(); ++i) {
                if (extent.Intersects(atOnce.SegmentBox(i))) {
                    touching.push_back(i);
                }
            }
            EXPECT_EQ(later.Touching(extent), touching);
            EXPECT_LT(touching.size(), static_cast<size_t>(later.Count() / 2));
        }
        ExpectSameSegments(later, atOnce);
    }
}

// An index fits only the file it was made of: another file, one header changed or a
// segment placed past the end is found out, and the file is walked as without one.
TEST(CartographyStore, AnIndexOfAnotherFileIsNotUsed) {
    TempDir dir;
    const std::string bytes = ReadFileBytes(kData + "shore_le.b").value_or("");
    const auto span = [](const std::string& b) {
        return std::span(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    };
    const std::string index = TBoundaryIndex::Write(span(bytes)).value_or("");
    const auto fitting = TBoundaryIndex::FromBytes(index);
    ASSERT_TRUE(fitting && fitting->Fits(span(bytes)));
    EXPECT_FALSE(fitting->Fits(span(ReadFileBytes(kData + "shore_be.b").value_or(""))));
    std::string changed = bytes;
    changed[5] = static_cast<char>(changed[5] ^ 1); // the first record's point count
    EXPECT_FALSE(fitting->Fits(span(changed)));
    std::string far = index;
    far[40 + 3] = '\x7F'; // the first segment's points 2 GB on
    EXPECT_FALSE(TBoundaryIndex::FromBytes(far)->Fits(span(bytes)));
    EXPECT_FALSE(TBoundaryIndex::FromBytes(index.substr(0, index.size() - 1)));
    EXPECT_FALSE(TBoundaryIndex::Write(span(
        ReadFileBytes(std::string(VANTOREL_SOURCE_DIR) + "/data/Countries.dat").value_or(""))));
    TCartogList planned, atOnce;
    Load(planned, dir.Write("other.b", changed), TPointReading::AsAsked, &*fitting);
    ReadAtOnce(atOnce, dir / "other.b");
    EXPECT_GT(planned.Count(), 0);
    ExpectSameSegments(planned, atOnce);
}

// A store kept for long reads every point at once: the file may then be cut, as copying
// a new one over it does, and nothing of the store reaches it.
TEST(CartographyStore, AStoreWithAllItsPointsNoLongerNeedsItsFile) {
    TempDir dir;
    const std::string file = dir.Write("shore.b", ReadFileBytes(kData + "shore_le.b").value_or(""));
    TCartogList store;
    Load(store, file, TPointReading::Whole);
    std::filesystem::resize_file(file, 0);
    TCartogList atOnce;
    ReadAtOnce(atOnce, kData + "shore_le.b");
    ExpectSameSegments(store, atOnce);
}

TEST(CartographyStore, TheProgramsBoundaryFileLoads) {
    TCartogList store;
    Load(store, std::string(VANTOREL_SOURCE_DIR) + "/data/Countries.dat");
    EXPECT_GT(store.Count(), 4000);
    EXPECT_GT(store.MaxCount, 10000);
    for (int i = 0; i < store.Count(); ++i) {
        const TLineSegment& s = store[i];
        ASSERT_EQ(s.Kind, 0);
        ASSERT_GE(s.Count, 2);
        ASSERT_GE(s.West, -180.0f);
        ASSERT_LE(s.East, 180.0f);
        ASSERT_GE(s.South, -90.0f);
        ASSERT_LE(s.North, 90.0f);
    }
}

} // namespace
} // namespace vantorel
