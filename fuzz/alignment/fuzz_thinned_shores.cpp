// The reader of thinned shores on arbitrary bytes, and on files written from segments the
// input makes and then damaged where it says: no crash, and the flags found are those of
// as many points as the segment has.
#include "alignment/ThinnedShores.h"
#include "mapping/zorMapping.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace vantorel;

class TInput {
public:
    TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    float Float() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v = v << 8 | Byte();
        }
        float f = 0.0f;
        std::memcpy(&f, &v, sizeof f);
        return f;
    }
    bool More() const { return at_ < size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void Probe(const TThinnedShores& shores, const std::vector<TLonLat>& points) {
    if (const auto kept = shores.KeptOf(points)) {
        if (kept->size() != (points.size() + 7) / 8) {
            std::abort();
        }
        volatile std::uint8_t all = 0;
        for (const std::uint8_t flags : *kept) {
            all = all | flags;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TInput in(data, size);
    std::vector<std::vector<TLonLat>> points(1 + in.Byte() % 6);
    std::vector<TThinnedShores::TSegment> segments;
    for (auto& segment : points) {
        segment.resize(1 + in.Byte() % 24);
        for (TLonLat& p : segment) {
            p = {in.Float(), in.Float()};
        }
    }
    for (const auto& segment : points) {
        std::vector<bool> kept(segment.size());
        for (std::size_t i = 0; i < kept.size(); ++i) {
            kept[i] = in.Byte() % 2 == 0;
        }
        segments.push_back({segment, std::move(kept)});
    }
    std::string bytes = TThinnedShores::Write(segments);
    while (in.More()) {
        const std::size_t at = (std::size_t{in.Byte()} << 8 | in.Byte()) % bytes.size();
        bytes[at] = static_cast<char>(bytes[at] ^ in.Byte());
    }
    if (const auto shores = TThinnedShores::FromBytes(bytes)) {
        for (const auto& p : points) {
            Probe(*shores, p);
        }
    }
    if (const auto raw = TThinnedShores::FromBytes(std::string(data, data + size))) {
        Probe(*raw, points.front());
    }
    return 0;
}
