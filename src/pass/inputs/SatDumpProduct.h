#pragma once

// A SatDump MSU-MR product folder: product.cbor names the channel pictures beside it and
// gives the time of each group of their lines; dataset.json, one folder up, names the
// satellite. Both SatDump 1.x and 2.x layouts are read.

#include "common/DateTime.h"
#include "common/Errors.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// A product folder's file that cannot be used. what() is the headline ("Not a SatDump
/// MSU-MR product"), then the cause and "File: " with the path, each on a line of its own.
class ESatDumpProduct : public EFileProblem {
public:
    ESatDumpProduct(const std::string& headline, const std::string& cause, const std::string& path);
};

/// Larger product.cbor files are refused before they are read: 4 MiB (a pass's is ~10 kB).
inline constexpr std::size_t kSatDumpProductMaxBytes = 4u << 20;

/// Which SatDump wrote the product.
enum class TSatDumpLayout {
    V1, ///< 1.x: `tle` and `timestamps_type` at the top, `timestamps` and `ifov_y` per image
    V2, ///< 2.x: `tle` and one `timestamps` list inside `projection_cfg`, `product_timestamp`
};

/// How an image's timestamps belong to its lines (SatDump's `timestamps_type`).
enum class TSatDumpTimestamps {
    PerLine = 0,      ///< one timestamp per line
    PerLineGroup = 1, ///< one timestamp per group of LinesPerTimestamp lines (MSU-MR)
};

/// The element set the decoder put in the product.
struct TSatDumpTle {
    std::string CatalogueNumber; ///< 5 digits, zero padded ("59051"); "" when not given
    std::string Name;            ///< as the decoder names it ("METEOR-M2 4")
    std::string Line1;
    std::string Line2;
};

/// One channel picture of the product.
struct TSatDumpImage {
    std::string File;    ///< file name inside the product folder ("MSU-MR-1.png")
    std::string Channel; ///< channel name ("1")
    /// Lines that share one timestamp (SatDump's `ifov_y`; 1 to 4096). 1 for PerLine.
    int LinesPerTimestamp = 1;
    /// UNIX UTC seconds, one per group of lines from the top; NaN where the group is
    /// missing (the decoder writes -1 there and leaves those lines black).
    std::vector<double> Timestamps;
};

/// The decoder's own scanner settings (`projection_cfg`), in its conventions: kept to compare
/// with ours, never used as they stand. Each is absent when the product does not give it.
struct TSatDumpProjection {
    std::optional<double> ScanAngle;       ///< full swath, degrees
    std::optional<double> RollOffset;      ///< degrees
    std::optional<double> PitchOffset;     ///< degrees
    std::optional<double> YawOffset;       ///< degrees
    std::optional<double> TimestampOffset; ///< seconds added to the times
    std::optional<double> ImageWidth;      ///< pixels
};

/// What product.cbor says.
struct TSatDumpProduct {
    TSatDumpLayout Layout = TSatDumpLayout::V1;
    std::string Instrument; ///< always "msu_mr"
    std::optional<TSatDumpTle> Tle;
    TSatDumpTimestamps TimestampsType = TSatDumpTimestamps::PerLineGroup;
    std::vector<TSatDumpImage> Images;            ///< at least one
    std::optional<TSatDumpProjection> Projection; ///< when `projection_cfg` is present
    std::optional<double> ProductTimestamp;       ///< UNIX UTC seconds (2.x)
};

/// Reads a product.cbor. 1.x and 2.x layouts are told apart by where the timestamps are;
/// an image without timestamps of its own takes the product's shared list.
/// @param cbor the file's bytes (at most kSatDumpProductMaxBytes)
/// @param sourceName the file's path, for messages
/// @throws ESatDumpProduct "Not a SatDump MSU-MR product" when the bytes are not CBOR, hold
///         no images, come from another instrument, or a field has the wrong type or range.
TSatDumpProduct ParseSatDumpProduct(std::span<const std::uint8_t> cbor,
                                    const std::string& sourceName);

/// What a SatDump dataset.json says of its pass: the satellite (`satellite`) and a time
/// (`timestamp`, UNIX seconds: SatDump writes when it began, which need not be the first
/// line's time); each nullopt when it is not there.
struct TSatDumpDataset {
    std::optional<std::string> Satellite;
    std::optional<TDateTime> Time;
};
/// @throws ESatDumpProduct "Not a SatDump dataset file" when the text is not JSON or a
///         field has the wrong type, or the time is not one of a Meteor-M's passes (before
///         2014 or after 2100).
TSatDumpDataset ParseSatDumpDataset(std::string_view json, const std::string& sourceName);
/// The satellite alone.
std::optional<std::string> ParseSatDumpDatasetSatellite(std::string_view json,
                                                        const std::string& sourceName);

/// A SatDump MSU-MR folder without product.cbor, as some stations publish them: its
/// pictures MSU-MR-<channel>.png, and dataset.json in it or one folder up.
struct TSatDumpPictureFolder {
    std::string DatasetFile;
    std::string ImagePath; ///< the picture chosen
    std::string Channel;
    TSatDumpDataset Dataset;
};
/// The dataset.json of such a folder (a path to it, or to a picture in it); nullopt when
/// the folder has a product.cbor, no MSU-MR picture, or no dataset.json.
std::optional<std::string> FindSatDumpDatasetFile(const std::string& path);
/// Opens such a folder: the picture the path names, else the channel's (`channel`, "" for
/// the first).
/// @throws ESatDumpProduct when there is no such folder or picture, or dataset.json does not
///         read.
TSatDumpPictureFolder OpenSatDumpPictureFolder(const std::string& path, const std::string& channel);

/// The product.cbor that a path means: the path itself when it is one (any letter case),
/// the one inside a folder, or the one beside any other file (a channel picture); nullopt
/// when there is none.
std::optional<std::string> FindSatDumpProductFile(const std::string& path);

/// A product as found from a path, with the image meant.
struct TSatDumpSource {
    std::string ProductFile; ///< the product.cbor read
    TSatDumpProduct Product;
    /// Into Product.Images; nullopt for a picture in the folder that the product does not
    /// list (a composite the decoder wrote beside its channels).
    std::optional<std::size_t> ImageIndex;
    std::string ImagePath; ///< the product folder + the picture's file name
    /// From dataset.json one folder up, else the element set's name; "" when neither.
    std::string Satellite;
    std::string DatasetFile; ///< the dataset.json read; "" when there is none
    /// Why dataset.json was not used although it exists (the error's message); else "".
    std::string DatasetProblem;
};

/// Finds and reads a product from a product folder, its product.cbor, or one picture
/// inside the folder. The image meant is the picture named (listed or not), else the image
/// whose channel name is `channel`, else the first.
/// @throws ESatDumpProduct when there is no product.cbor, it cannot be read or used, the
///         picture named is not there, it lists no such channel, or the picture and the
///         channel disagree.
TSatDumpSource OpenSatDumpProduct(const std::string& path, const std::string& channel = {});

/// The index of the product's image of a channel.
/// @throws ESatDumpProduct "The SatDump product has no such picture" when it has none.
std::size_t FindSatDumpChannel(const TSatDumpSource& source, const std::string& channel);

/// The time of each line of an image.
struct TSatDumpLineTimes {
    /// One per line from the top; nullopt on lines whose group has no timestamp (black in
    /// the picture) and on lines beyond the last group.
    std::vector<std::optional<TDateTime>> Times;
    int Timed = 0;                  ///< lines that have a time
    double LinePeriodSeconds = 0.0; ///< the spacing within a group
    bool PeriodFromTimes = false;   ///< false: too few adjacent groups, the default was used
    int LinesPerGroup = 1;          ///< lines that share one time stamp
};

/// One time per line for an image of `lines` lines: a group's first line at its timestamp,
/// each next line one line period later. The line period is the median spacing of adjacent
/// timed groups over the lines per group (else kDefaultLinePeriodSeconds). Groups without a
/// time give their lines none: nothing is invented here.
TSatDumpLineTimes SatDumpLineTimes(const TSatDumpProduct& product, const TSatDumpImage& image,
                                   int lines);

/// The times of a picture the product does not list, with the channels it was made of.
struct TSatDumpPictureTimes {
    TSatDumpLineTimes Times;
    std::vector<std::string> Channels; ///< the first one's groups give the picture's order
};

/// The times of a picture in the product's folder that the product does not list: a
/// composite the decoder laid together from channels. SatDump keeps, in its first
/// channel's order, the groups of lines whose time stamp every channel of the composite
/// has (a missing group matching a missing one) and leaves the others out. Which channels
/// is found from the picture's height: those its name ends with ("msu_mr_rgb_221":
/// channels 2 and 1), else one channel of that height, else all of them; nullopt when
/// none gives `lines` lines.
std::optional<TSatDumpPictureTimes> SatDumpPictureTimes(const TSatDumpProduct& product,
                                                        const std::string& fileName, int lines);

} // namespace vantorel
