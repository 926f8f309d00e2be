// SatDump product folders: product.cbor as SatDump 1.x and 2.x write it for image products
// (2.x moves the element set and the times into the projection settings), and dataset.json.
//
// Departures from how SatDump itself reads them:
// - the CBOR is walked once for its nesting depth and declared sizes before it is built,
//   so that a hostile file cannot exhaust the stack or the memory;
// - an image's file name must be a plain name: it is joined to the product folder;
// - a group's timestamp is its first line's time, and the lines of the group follow at the
//   line period the times themselves show; SatDump's projection instead spreads a group's
//   lines around its timestamp 0.2 s apart and then shifts them by `timestamp_offset`;
// - any timestamp that is not a finite time between 1970 and 9999 counts as missing, not
//   only -1.
#include "pass/inputs/SatDumpProduct.h"

#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "pass/inputs/StatTiming.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numeric>

namespace vantorel {
namespace {

using Json = nlohmann::json;

constexpr const char* kNotProduct = "Not a SatDump MSU-MR product";
constexpr const char* kNotDataset = "Not a SatDump dataset file";
constexpr const char* kProductFileName = "product.cbor";
constexpr const char* kDatasetFileName = "dataset.json";
constexpr std::size_t kDatasetMaxBytes = 1u << 20;

// Limits far beyond any real product (6 channels; ~350 groups of a pass, ~10 000 lines of
// a full-rate one).
constexpr std::size_t kMaxDepth = 32;
constexpr std::size_t kMaxElements = 1u << 20;
constexpr std::size_t kMaxImages = 64;
constexpr int kMaxLinesPerTimestamp = 4096;

constexpr TDateTime kUnixEpoch = 25569.0;             // 1970-01-01 as a date-time
constexpr double kLatestUnixSeconds = 253402300800.0; // 10000-01-01
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// nlohmann prefixes its messages with an id in brackets, which says nothing to a user.
std::string WithoutId(const std::string& what) {
    if (what.starts_with('[')) {
        const size_t close = what.find("] ");
        if (close != std::string::npos) {
            return what.substr(close + 2);
        }
    }
    return what;
}

// Walks the CBOR without building it: nlohmann's reader recurses once per nesting level,
// and a declared count is checked before anything is made for it.
class TShapeCheck final : public nlohmann::json_sax<Json> {
public:
    std::string Problem;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool key(string_t&) override { return true; }
    bool start_object(std::size_t elements) override { return Open(elements, "a map"); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t elements) override { return Open(elements, "an array"); }
    bool end_array() override { return Close(); }
    bool parse_error(std::size_t, const std::string&, const Json::exception& e) override {
        Problem = WithoutId(e.what());
        return false;
    }

private:
    bool Open(std::size_t elements, const char* what) {
        if (++depth_ > kMaxDepth) {
            Problem = Format("values nested more than %d deep", static_cast<int>(kMaxDepth));
            return false;
        }
        // An indefinite length arrives as the largest size_t.
        if (elements != std::numeric_limits<std::size_t>::max() && elements > kMaxElements) {
            Problem = Format("%s of %u elements", what, static_cast<unsigned long long>(elements));
            return false;
        }
        return true;
    }
    bool Close() {
        --depth_;
        return true;
    }
    std::size_t depth_ = 0;
};

// Reads the fields of one product, naming the field in every complaint.
class TProductReader {
public:
    explicit TProductReader(const std::string& sourceName) : source_(sourceName) {}

    [[noreturn]] void Fail(const std::string& cause) const {
        throw ESatDumpProduct(kNotProduct, cause, source_);
    }

    // The member, or nullptr when it is absent or null.
    static const Json* Member(const Json& object, const char* key) {
        if (!object.is_object()) {
            return nullptr;
        }
        const auto it = object.find(key);
        return it == object.end() || it->is_null() ? nullptr : &*it;
    }

    const Json& Object(const Json& v, const std::string& what) const {
        if (!v.is_object()) {
            Fail(what + " is " + TypeName(v) + ", not a map");
        }
        return v;
    }
    const Json& Array(const Json& v, const std::string& what) const {
        if (!v.is_array()) {
            Fail(what + " is " + TypeName(v) + ", not a list");
        }
        return v;
    }
    std::string Text(const Json& v, const std::string& what) const {
        if (!v.is_string()) {
            Fail(what + " is " + TypeName(v) + ", not text");
        }
        return v.get<std::string>();
    }
    double Number(const Json& v, const std::string& what) const {
        if (!v.is_number()) {
            Fail(what + " is " + TypeName(v) + ", not a number");
        }
        return v.get<double>();
    }
    long long Integer(const Json& v, const std::string& what, long long lo, long long hi) const {
        const double d = Number(v, what);
        if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi)) || d != std::floor(d)) {
            Fail(what + Format(" is %g, not a whole number from %d to %d", d, lo, hi));
        }
        return static_cast<long long>(d);
    }
    std::optional<double> OptionalNumber(const Json& object, const char* key,
                                         const std::string& where) const {
        const Json* v = Member(object, key);
        return v ? std::optional<double>(Number(*v, where + "." + key)) : std::nullopt;
    }

    // UNIX seconds, NaN for a missing group (null, -1 or anything that is no time).
    std::vector<double> Timestamps(const Json& list, const std::string& what) const {
        std::vector<double> out;
        out.reserve(Array(list, what).size());
        for (const Json& v : list) {
            const double t = v.is_null() ? kMissing : Number(v, what + Format("[%u]", out.size()));
            out.push_back(std::isfinite(t) && t >= 0.0 && t < kLatestUnixSeconds ? t : kMissing);
        }
        return out;
    }

    TSatDumpTle Tle(const Json& tle, const std::string& what) const {
        Object(tle, what);
        TSatDumpTle out;
        if (const Json* norad = Member(tle, "norad")) {
            // SatDump writes -1 for a satellite it did not recognise.
            const long long n = Integer(*norad, what + ".norad", -1, 99999);
            if (n >= 0) {
                out.CatalogueNumber = Format("%05d", n);
            }
        }
        if (const Json* v = Member(tle, "name")) {
            out.Name = Text(*v, what + ".name");
        }
        if (const Json* v = Member(tle, "line1")) {
            out.Line1 = Text(*v, what + ".line1");
        }
        if (const Json* v = Member(tle, "line2")) {
            out.Line2 = Text(*v, what + ".line2");
        }
        return out;
    }

private:
    static std::string TypeName(const Json& v) {
        switch (v.type()) {
        case Json::value_t::null:
            return "missing";
        case Json::value_t::object:
            return "a map";
        case Json::value_t::array:
            return "a list";
        case Json::value_t::string:
            return "text";
        case Json::value_t::boolean:
            return "true or false";
        case Json::value_t::binary:
            return "binary data";
        default:
            return "a number";
        }
    }

    const std::string& source_;
};

// A picture's name from the product is joined to the product folder: it may not leave it.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

std::optional<std::string> ReadCapped(const std::string& path, std::size_t maxBytes,
                                      const char* kind) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        return std::nullopt;
    }
    if (size > maxBytes) {
        throw ESatDumpProduct(
            kind, Format("%u bytes, more than the %u a product file may have", size, maxBytes),
            path);
    }
    return ReadFileBytes(path);
}

ESatDumpProduct NoSuchPicture(const TSatDumpSource& s, const std::string& cause) {
    std::string names;
    for (const TSatDumpImage& im : s.Product.Images) {
        names += (names.empty() ? "" : ", ") + im.Channel + " (" + im.File + ")";
    }
    return ESatDumpProduct("The SatDump product has no such picture",
                           cause + "; it has channels " + names, s.ProductFile);
}

// The groups of `first` whose time every other image has too (a missing one matching a
// missing one), as SatDump lays channels together.
std::vector<double> CommonGroups(const TSatDumpImage& first,
                                 const std::vector<const TSatDumpImage*>& others) {
    // Each other channel's times sorted once, a lost group (NaN) noted apart: a lookup is
    // then a binary search, not a walk through every group.
    struct TTimes {
        std::vector<double> Sorted;
        bool Lost = false;
    };
    std::vector<TTimes> sets;
    sets.reserve(others.size());
    for (const TSatDumpImage* other : others) {
        TTimes& set = sets.emplace_back();
        for (const double u : other->Timestamps) {
            if (std::isnan(u)) {
                set.Lost = true;
            } else {
                set.Sorted.push_back(u);
            }
        }
        std::sort(set.Sorted.begin(), set.Sorted.end());
    }
    std::vector<double> kept;
    for (const double t : first.Timestamps) {
        const bool everywhere = std::all_of(sets.begin(), sets.end(), [t](const TTimes& set) {
            return std::isnan(t) ? set.Lost
                                 : std::binary_search(set.Sorted.begin(), set.Sorted.end(), t);
        });
        if (everywhere) {
            kept.push_back(t);
        }
    }
    return kept;
}

double Median(std::vector<double> values) {
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

} // namespace

ESatDumpProduct::ESatDumpProduct(const std::string& headline, const std::string& cause,
                                 const std::string& path)
    : EFileProblem(headline + "\n" + cause + "\nFile: " + path, headline, cause, path) {}

TSatDumpProduct ParseSatDumpProduct(std::span<const std::uint8_t> cbor,
                                    const std::string& sourceName) {
    const TProductReader r(sourceName);
    if (cbor.size() > kSatDumpProductMaxBytes) {
        r.Fail(Format("%u bytes, more than the %u a product file may have", cbor.size(),
                      kSatDumpProductMaxBytes));
    }
    Json root;
    try {
        TShapeCheck shape;
        if (!Json::sax_parse(cbor.begin(), cbor.end(), &shape, Json::input_format_t::cbor)) {
            r.Fail("not CBOR: " + shape.Problem);
        }
        root = Json::from_cbor(cbor.begin(), cbor.end());
    } catch (const Json::exception& e) {
        r.Fail("not CBOR: " + WithoutId(e.what()));
    }
    r.Object(root, "the product");

    TSatDumpProduct p;
    const Json* instrument = TProductReader::Member(root, "instrument");
    if (!instrument) {
        r.Fail("it names no instrument");
    }
    p.Instrument = r.Text(*instrument, "instrument");
    if (p.Instrument != "msu_mr") {
        r.Fail("its instrument is \"" + p.Instrument + "\", not \"msu_mr\"");
    }
    if (const Json* type = TProductReader::Member(root, "type")) {
        if (r.Text(*type, "type") != "image") {
            r.Fail("its type is \"" + type->get<std::string>() + "\", not \"image\"");
        }
    }

    const Json* cfg = TProductReader::Member(root, "projection_cfg");
    if (cfg) {
        r.Object(*cfg, "projection_cfg");
        TSatDumpProjection proj;
        proj.ScanAngle = r.OptionalNumber(*cfg, "scan_angle", "projection_cfg");
        proj.RollOffset = r.OptionalNumber(*cfg, "roll_offset", "projection_cfg");
        proj.PitchOffset = r.OptionalNumber(*cfg, "pitch_offset", "projection_cfg");
        proj.YawOffset = r.OptionalNumber(*cfg, "yaw_offset", "projection_cfg");
        proj.TimestampOffset = r.OptionalNumber(*cfg, "timestamp_offset", "projection_cfg");
        proj.ImageWidth = r.OptionalNumber(*cfg, "image_width", "projection_cfg");
        p.Projection = proj;
    }
    const Json empty = Json::object();
    const Json& cfgOrEmpty = cfg ? *cfg : empty;

    // 2.x keeps one list of times, and the element set, inside the projection settings.
    const Json* sharedTimes = TProductReader::Member(cfgOrEmpty, "timestamps");
    const Json* tle = TProductReader::Member(cfgOrEmpty, "tle");
    const bool v2 = sharedTimes || tle || TProductReader::Member(root, "product_timestamp");
    p.Layout = v2 ? TSatDumpLayout::V2 : TSatDumpLayout::V1;
    if (!sharedTimes) {
        sharedTimes = TProductReader::Member(root, "timestamps");
    }
    if (tle) {
        p.Tle = r.Tle(*tle, "projection_cfg.tle");
    } else if ((tle = TProductReader::Member(root, "tle"))) {
        p.Tle = r.Tle(*tle, "tle");
    }
    p.ProductTimestamp = r.OptionalNumber(root, "product_timestamp", "the product");

    // 2.x states the lines per timestamp only as the projection's interpolation count.
    int groupLines = 0;
    if (const Json* n = TProductReader::Member(cfgOrEmpty, "interpolate_timestamps")) {
        groupLines = static_cast<int>(
            r.Integer(*n, "projection_cfg.interpolate_timestamps", 1, kMaxLinesPerTimestamp));
    }
    if (const Json* type = TProductReader::Member(root, "timestamps_type")) {
        const long long t = r.Integer(*type, "timestamps_type", 0, 2);
        if (t == 2) {
            r.Fail("its timestamps_type is 2 (one per scan position), which MSU-MR never has");
        }
        p.TimestampsType = static_cast<TSatDumpTimestamps>(t);
    } else {
        p.TimestampsType =
            groupLines > 1 ? TSatDumpTimestamps::PerLineGroup : TSatDumpTimestamps::PerLine;
    }

    const Json* images = TProductReader::Member(root, "images");
    if (!images || (images->is_array() && images->empty())) {
        r.Fail("it lists no images");
    }
    r.Array(*images, "images");
    if (images->size() > kMaxImages) {
        r.Fail(Format("it lists %u images, more than %u", images->size(), kMaxImages));
    }
    const std::vector<double> shared =
        sharedTimes ? r.Timestamps(*sharedTimes, "timestamps") : std::vector<double>();
    for (std::size_t i = 0; i < images->size(); ++i) {
        const std::string where = Format("images[%u]", i);
        const Json& image = r.Object((*images)[i], where);
        TSatDumpImage out;
        const Json* file = TProductReader::Member(image, "file");
        const Json* name = TProductReader::Member(image, "name");
        if (!file || !name) {
            r.Fail(where + " has no " + (file ? "name" : "file"));
        }
        out.File = r.Text(*file, where + ".file");
        out.Channel = r.Text(*name, where + ".name");
        if (!IsPlainFileName(out.File)) {
            r.Fail(where + ".file \"" + out.File + "\" is not a file name inside the folder");
        }
        const Json* own = TProductReader::Member(image, "timestamps");
        out.Timestamps = own ? r.Timestamps(*own, where + ".timestamps") : shared;
        if (p.TimestampsType == TSatDumpTimestamps::PerLineGroup) {
            // SatDump writes -1 for "not set".
            const Json* ifov = TProductReader::Member(image, "ifov_y");
            const long long lines =
                ifov ? r.Integer(*ifov, where + ".ifov_y", -1, kMaxLinesPerTimestamp) : -1;
            out.LinesPerTimestamp = lines >= 1 ? static_cast<int>(lines) : groupLines;
            if (out.LinesPerTimestamp < 1) {
                r.Fail(where + " does not say how many lines share a timestamp");
            }
        }
        p.Images.push_back(std::move(out));
    }
    return p;
}

TSatDumpDataset ParseSatDumpDataset(std::string_view json, const std::string& sourceName) {
    Json root;
    try {
        // nlohmann reads JSON text without recursion, so depth needs no guard here.
        root = Json::parse(json);
    } catch (const Json::exception& e) {
        throw ESatDumpProduct(kNotDataset, "not JSON: " + WithoutId(e.what()), sourceName);
    }
    TSatDumpDataset d;
    const Json* satellite = TProductReader::Member(root, "satellite");
    if (satellite && !satellite->is_string()) {
        throw ESatDumpProduct(kNotDataset, "satellite is not text", sourceName);
    }
    if (satellite && !satellite->get<std::string>().empty()) {
        d.Satellite = satellite->get<std::string>();
    }
    if (const Json* timestamp = TProductReader::Member(root, "timestamp")) {
        // 2014-01-01 .. 2100-01-01: no Meteor-M pass lies outside.
        constexpr double kEarliest = 1388534400.0;
        constexpr double kLatest = 4102444800.0;
        if (!timestamp->is_number() || !(timestamp->get<double>() >= kEarliest) ||
            !(timestamp->get<double>() <= kLatest)) {
            throw ESatDumpProduct(kNotDataset, "timestamp is not a time of a pass", sourceName);
        }
        d.Time = kUnixEpoch + timestamp->get<double>() / kSecondsPerDay;
    }
    return d;
}

std::optional<std::string> ParseSatDumpDatasetSatellite(std::string_view json,
                                                        const std::string& sourceName) {
    return ParseSatDumpDataset(json, sourceName).Satellite;
}

std::optional<std::string> FindSatDumpProductFile(const std::string& path) {
    if (SameText(ExtractFileName(path), kProductFileName) && FileExists(path)) {
        return path;
    }
    const std::string folder =
        DirectoryExists(path) ? IncludeTrailingPathDelimiter(path) : ExtractFilePath(path);
    return FindFileIgnoringCase((folder.empty() ? std::string("./") : folder) + kProductFileName);
}

TSatDumpSource OpenSatDumpProduct(const std::string& path, const std::string& channel) {
    TSatDumpSource s;
    const auto productFile = FindSatDumpProductFile(path);
    if (!productFile) {
        throw ESatDumpProduct(kNotProduct, "no product.cbor in the folder", path);
    }
    s.ProductFile = *productFile;
    const auto bytes = ReadCapped(s.ProductFile, kSatDumpProductMaxBytes, kNotProduct);
    if (!bytes) {
        throw ESatDumpProduct(kNotProduct, "product.cbor cannot be read", s.ProductFile);
    }
    s.Product = ParseSatDumpProduct(
        {reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()}, s.ProductFile);
    const std::vector<TSatDumpImage>& images = s.Product.Images;

    const bool namesPicture =
        !DirectoryExists(path) && !SameText(ExtractFileName(path), kProductFileName);
    if (namesPicture) {
        const std::string name = ExtractFileName(path);
        const auto listed =
            std::find_if(images.begin(), images.end(),
                         [&](const TSatDumpImage& im) { return SameText(im.File, name); });
        if (listed != images.end()) {
            s.ImageIndex = static_cast<std::size_t>(listed - images.begin());
            if (!channel.empty() && listed->Channel != channel) {
                throw NoSuchPicture(s,
                                    name + " is channel " + listed->Channel + ", not " + channel);
            }
        } else if (!FileExists(path)) {
            throw NoSuchPicture(s, "it does not list " + name);
        } else if (!channel.empty()) {
            throw NoSuchPicture(s, name + " is not a channel of it, not " + channel);
        }
        s.ImagePath =
            ExtractFilePath(s.ProductFile) + (s.ImageIndex ? images[*s.ImageIndex].File : name);
    } else {
        s.ImageIndex = channel.empty() ? 0 : FindSatDumpChannel(s, channel);
        s.ImagePath = ExtractFilePath(s.ProductFile) + images[*s.ImageIndex].File;
    }

    // dataset.json sits in the folder that holds the product folders of one pass.
    const std::filesystem::path folder =
        std::filesystem::path(ExpandFileName(s.ProductFile)).parent_path();
    if (const auto dataset =
            FindFileIgnoringCase((folder.parent_path() / kDatasetFileName).string())) {
        s.DatasetFile = *dataset;
        try {
            const auto text = ReadCapped(*dataset, kDatasetMaxBytes, kNotDataset);
            if (!text) {
                throw ESatDumpProduct(kNotDataset, "it cannot be read", *dataset);
            }
            s.Satellite = ParseSatDumpDatasetSatellite(*text, *dataset).value_or("");
        } catch (const ESatDumpProduct& e) {
            s.DatasetProblem = e.what();
        }
    }
    if (s.Satellite.empty() && s.Product.Tle) {
        s.Satellite = s.Product.Tle->Name;
    }
    return s;
}

namespace {

// The MSU-MR pictures of a folder by channel ("MSU-MR-2.png" is channel "2"), sorted.
std::vector<std::pair<std::string, std::string>> MsuMrPictures(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string upper = UpperCase(name);
        if (upper.starts_with("MSU-MR-") && upper.ends_with(".PNG") && name.size() > 11 &&
            entry.is_regular_file(ec)) {
            found.push_back({name.substr(7, name.size() - 11), name});
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string FolderOf(const std::string& path) {
    return DirectoryExists(path) ? IncludeTrailingPathDelimiter(path) : ExtractFilePath(path);
}

} // namespace

std::optional<std::string> FindSatDumpDatasetFile(const std::string& path) {
    if (FindSatDumpProductFile(path)) {
        return std::nullopt;
    }
    const std::string folder = FolderOf(path);
    if (folder.empty() || MsuMrPictures(folder).empty()) {
        return std::nullopt;
    }
    if (auto here = FindFileIgnoringCase(folder + kDatasetFileName)) {
        return here;
    }
    const std::filesystem::path above =
        std::filesystem::path(ExpandFileName(folder)).parent_path().parent_path();
    return FindFileIgnoringCase((above / kDatasetFileName).string());
}

TSatDumpPictureFolder OpenSatDumpPictureFolder(const std::string& path, const std::string& channel) {
    const auto dataset = FindSatDumpDatasetFile(path);
    if (!dataset) {
        throw ESatDumpProduct(kNotDataset, "no MSU-MR pictures with a dataset.json", path);
    }
    TSatDumpPictureFolder f;
    f.DatasetFile = *dataset;
    const auto text = ReadCapped(*dataset, kDatasetMaxBytes, kNotDataset);
    if (!text) {
        throw ESatDumpProduct(kNotDataset, "it cannot be read", *dataset);
    }
    f.Dataset = ParseSatDumpDataset(*text, *dataset);
    const std::string folder = FolderOf(path);
    const auto pictures = MsuMrPictures(folder);
    if (!DirectoryExists(path)) {
        const std::string name = ExtractFileName(path);
        const auto named = std::find_if(pictures.begin(), pictures.end(),
                                        [&](const auto& p) { return SameText(p.second, name); });
        if (named == pictures.end() || (!channel.empty() && named->first != channel)) {
            throw ESatDumpProduct("No such picture in the folder",
                                  named == pictures.end()
                                      ? name + " is no MSU-MR channel picture"
                                      : name + " is channel " + named->first + ", not " + channel,
                                  path);
        }
        f.Channel = named->first;
        f.ImagePath = folder + named->second;
        return f;
    }
    const auto chosen = channel.empty()
                            ? pictures.begin()
                            : std::find_if(pictures.begin(), pictures.end(),
                                           [&](const auto& p) { return p.first == channel; });
    if (chosen == pictures.end()) {
        throw ESatDumpProduct("No such picture in the folder", "no channel " + channel, path);
    }
    f.Channel = chosen->first;
    f.ImagePath = folder + chosen->second;
    return f;
}

std::size_t FindSatDumpChannel(const TSatDumpSource& source, const std::string& channel) {
    const std::vector<TSatDumpImage>& images = source.Product.Images;
    const auto found = std::find_if(images.begin(), images.end(),
                                    [&](const TSatDumpImage& im) { return im.Channel == channel; });
    if (found == images.end()) {
        throw NoSuchPicture(source, "no channel " + channel);
    }
    return static_cast<std::size_t>(found - images.begin());
}

std::optional<TSatDumpPictureTimes> SatDumpPictureTimes(const TSatDumpProduct& product,
                                                        const std::string& fileName, int lines) {
    const std::vector<TSatDumpImage>& images = product.Images;
    auto linesPerGroup = [&](const TSatDumpImage& image) {
        return product.TimestampsType == TSatDumpTimestamps::PerLine
                   ? 1
                   : std::max(image.LinesPerTimestamp, 1);
    };
    // The channels laid together, the first one's order kept; nullopt unless they give
    // the picture's lines.
    auto tryChannels =
        [&](const std::vector<std::size_t>& which) -> std::optional<TSatDumpPictureTimes> {
        TSatDumpImage laid = images[which.front()];
        std::vector<const TSatDumpImage*> others;
        TSatDumpPictureTimes out;
        for (const std::size_t i : which) {
            out.Channels.push_back(images[i].Channel);
            if (i != which.front()) {
                others.push_back(&images[i]);
            }
        }
        laid.Timestamps = CommonGroups(images[which.front()], others);
        if (static_cast<long long>(laid.Timestamps.size()) * linesPerGroup(laid) != lines) {
            return std::nullopt;
        }
        out.Times = SatDumpLineTimes(product, laid, lines);
        return out;
    };

    // SatDump names a composite after its channels: "msu_mr_rgb_221".
    std::string stem = ChangeFileExt(ExtractFileName(fileName), "");
    std::size_t digits = stem.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1]))) {
        --digits;
    }
    std::vector<std::size_t> named;
    for (std::size_t k = digits; k < stem.size(); ++k) {
        const auto found = std::find_if(images.begin(), images.end(), [&](const TSatDumpImage& im) {
            return im.Channel == std::string(1, stem[k]);
        });
        if (found == images.end()) {
            named.clear();
            break;
        }
        const auto index = static_cast<std::size_t>(found - images.begin());
        if (std::find(named.begin(), named.end(), index) == named.end()) {
            named.push_back(index);
        }
    }
    if (!named.empty()) {
        if (auto t = tryChannels(named)) {
            return t;
        }
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (auto t = tryChannels({i})) {
            return t;
        }
    }
    std::vector<std::size_t> all(images.size());
    std::iota(all.begin(), all.end(), std::size_t{0});
    return tryChannels(all);
}

TSatDumpLineTimes SatDumpLineTimes(const TSatDumpProduct& product, const TSatDumpImage& image,
                                   int lines) {
    const int perGroup = product.TimestampsType == TSatDumpTimestamps::PerLine
                             ? 1
                             : std::max(image.LinesPerTimestamp, 1);
    const std::vector<double>& t = image.Timestamps;

    std::vector<double> spacings;
    for (std::size_t g = 1; g < t.size(); ++g) {
        const double d = t[g] - t[g - 1]; // NaN when either group is missing
        if (d > 0.0) {
            spacings.push_back(d);
        }
    }
    TSatDumpLineTimes out;
    out.LinesPerGroup = perGroup;
    out.LinePeriodSeconds = kDefaultLinePeriodSeconds;
    if (!spacings.empty()) {
        const double period = Median(spacings) / perGroup;
        // A period no scanner has means the times are not to be believed for it.
        if (period > 0.0 && period <= kLongestLinePeriodSeconds) {
            out.LinePeriodSeconds = period;
            out.PeriodFromTimes = true;
        }
    }

    out.Times.assign(static_cast<std::size_t>(std::max(lines, 0)), std::nullopt);
    for (std::size_t line = 0; line < out.Times.size(); ++line) {
        const std::size_t group = line / static_cast<std::size_t>(perGroup);
        if (group >= t.size()) {
            break;
        }
        if (std::isnan(t[group])) {
            continue;
        }
        const double seconds =
            t[group] +
            static_cast<double>(line % static_cast<std::size_t>(perGroup)) * out.LinePeriodSeconds;
        out.Times[line] = kUnixEpoch + seconds / kSecondsPerDay;
        ++out.Timed;
    }
    return out;
}

} // namespace vantorel
