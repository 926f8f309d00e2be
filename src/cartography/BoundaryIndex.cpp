#include "cartography/BoundaryIndex.h"

#include "cartography/zorCartography.h"
#include "common/ByteOrder.h"
#include "common/Digest.h"
#include "common/TextFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vantorel {
namespace {

// Little-endian throughout: a head, then a fixed-size entry per record in the file's order.
//   head: magic, the boundary file's size, its header size, flags (bit 0: the other byte
//         order), the record count, the sample stride, the digest of the sampled headers;
//   entry: where the points start, their count, kind, role, whether surely cullable, 0,
//          then the cells round the points (first and last row, first and last column).
constexpr char kMagic[8] = {'V', 'T', 'B', 'I', 'N', 'D', 'X', '1'};
constexpr std::size_t kHeadBytes = 40;
constexpr std::size_t kEntryBytes = 20;
constexpr std::size_t kSamples = 64;

std::uint32_t RecordCount(const std::string& bytes) {
    return LoadLE32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 24);
}

std::size_t SampleStride(std::size_t records) {
    return std::max<std::size_t>(1, records / kSamples);
}

// The headers of every stride-th record and of the last, as they lie in the file: records
// at least headerSize into it.
template <typename At>
std::uint64_t SampledHeaders(std::span<const std::uint8_t> file, std::size_t records,
                             std::size_t stride, std::size_t headerSize, At at) {
    TDigest64 digest(records);
    for (std::size_t i = 0; i < records; i += stride) {
        digest.Add(file.subspan(at(i) - headerSize, headerSize));
    }
    if (records > 0) {
        digest.Add(file.subspan(at(records - 1) - headerSize, headerSize));
    }
    return digest.Value();
}

bool PlausibleSpan(const TGeoExtent::CellSpan& s) {
    // As the cell tests index them: no rows at all, or rows and columns within the grid
    // (the last column may run on across the antimeridian, once round at most).
    if (s.lastRow < s.firstRow) {
        return true;
    }
    return s.firstRow >= 0 && s.lastRow < TGeoExtent::kRows && s.firstColumn >= 0 &&
           s.firstColumn < TGeoExtent::kColumns && s.lastColumn >= s.firstColumn - 1 &&
           s.lastColumn < s.firstColumn + TGeoExtent::kColumns;
}

} // namespace

std::optional<TBoundaryIndex> TBoundaryIndex::Open(const std::string& path) {
    // Small beside the boundary file, and read whole.
    auto bytes = ReadFileBytes(path);
    if (!bytes) {
        return std::nullopt;
    }
    return FromBytes(std::move(*bytes));
}

std::optional<TBoundaryIndex> TBoundaryIndex::FromBytes(std::string bytes) {
    TBoundaryIndex index;
    index.bytes_ = std::move(bytes);
    if (!index.Check()) {
        return std::nullopt;
    }
    return index;
}

bool TBoundaryIndex::Check() const {
    // The sizes only: the entries are checked against the file they are to fit.
    return bytes_.size() >= kHeadBytes && std::memcmp(bytes_.data(), kMagic, sizeof kMagic) == 0 &&
           bytes_.size() - kHeadBytes == std::uint64_t{RecordCount(bytes_)} * kEntryBytes;
}

bool TBoundaryIndex::Fits(std::span<const std::uint8_t> file) const {
    return TCartogList::RecordsOf(*this, file).has_value();
}

std::optional<TCartogList::TRecords> TCartogList::RecordsOf(const TBoundaryIndex& index,
                                                            std::span<const std::uint8_t> file) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(index.bytes_.data());
    const std::size_t count = RecordCount(index.bytes_);
    const std::size_t headerSize = LoadLE32(data + 16);
    const std::size_t stride = LoadLE32(data + 28);
    if (LoadLE64(data + 8) != file.size() ||
        (headerSize != 36 && headerSize != 40 && headerSize != 44) ||
        stride != SampleStride(count)) {
        return std::nullopt;
    }
    TRecords records;
    records.format = TRecords::TFormat::Gshhs;
    records.swap = (LoadLE32(data + 20) & 1) != 0;
    records.headerSize = headerSize;
    records.capacity = std::min(file.size() / 120, file.size() / headerSize);
    records.list.reserve(count);
    records.surround.reserve(count);
    const std::uint8_t* entry = data + kHeadBytes;
    for (std::size_t i = 0; i < count; ++i, entry += kEntryBytes) {
        const std::size_t at = LoadLE32(entry);
        const auto n = static_cast<std::int32_t>(LoadLE32(entry + 4));
        const std::uint8_t role = entry[9];
        const auto cell = [entry](int k) {
            const std::uint8_t* p = entry + 12 + 2 * k;
            return static_cast<std::int16_t>(p[0] | (p[1] << 8));
        };
        const TGeoExtent::CellSpan around{cell(0), cell(1), cell(2), cell(3)};
        if (at < headerSize || at > file.size() || n < 0 ||
            role > static_cast<std::uint8_t>(TLineRole::Border) || entry[10] > 1 ||
            !PlausibleSpan(around)) {
            return std::nullopt;
        }
        records.list.push_back({at, n, entry[8], static_cast<TLineRole>(role)});
        records.surround.push_back({around, entry[10] == 1});
    }
    const auto at = [&records](std::size_t i) { return records.list[i].at; };
    if (SampledHeaders(file, count, stride, headerSize, at) != LoadLE64(data + 32)) {
        return std::nullopt;
    }
    return records;
}

std::optional<std::string> TBoundaryIndex::Write(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4 || LoadLE32(bytes.data()) != 0 ||
        bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt; // not GSHHS, or too large for the entries to address
    }
    TByteStream stream(bytes);
    const TCartogList::TRecords records = TCartogList::ScanGshhs(stream);
    const std::size_t count = records.list.size();
    std::string out(kMagic, sizeof kMagic);
    AppendLE64(out, bytes.size());
    AppendLE32(out, static_cast<std::uint32_t>(records.headerSize));
    AppendLE32(out, records.swap ? 1 : 0);
    AppendLE32(out, static_cast<std::uint32_t>(count));
    AppendLE32(out, static_cast<std::uint32_t>(SampleStride(count)));
    AppendLE64(out, SampledHeaders(bytes, count, SampleStride(count), records.headerSize,
                                   [&records](std::size_t i) { return records.list[i].at; }));
    for (const TCartogList::TRecord& record : records.list) {
        // What a run reading the file as asked works out for it.
        TCartogList::TItem item;
        item.n = TCartogList::WholePoints(record, bytes.size(), 8);
        item.at = bytes.data() + record.at;
        item.swap = records.swap;
        TCartogList::Surround(item);
        AppendLE32(out, static_cast<std::uint32_t>(record.at));
        AppendLE32(out, static_cast<std::uint32_t>(record.n));
        out.push_back(static_cast<char>(record.kind));
        out.push_back(static_cast<char>(record.role));
        out.push_back(item.surelyCullable ? 1 : 0);
        out.push_back(0);
        for (const std::int16_t cell : {item.around.firstRow, item.around.lastRow,
                                        item.around.firstColumn, item.around.lastColumn}) {
            const auto u = static_cast<std::uint16_t>(cell);
            out.push_back(static_cast<char>(u & 0xFF));
            out.push_back(static_cast<char>(u >> 8));
        }
    }
    return out;
}

} // namespace vantorel
