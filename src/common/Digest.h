#pragma once

// A 64-bit digest of words, for the data files made at build time to name what they were
// made from. Not cryptographic: it tells one file from another, not from a forgery.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vantorel {

class TDigest64 {
public:
    /// `length` (of what follows, in any unit) seeds it: prefixes of one another differ.
    explicit TDigest64(std::uint64_t length) : h_(0x6A09E667F3BCC909ull ^ (length * kOdd)) {}

    void Add(std::uint64_t word) {
        h_ ^= word * kOdd;
        h_ = std::rotl(h_, 31) * 0xBF58476D1CE4E5B9ull;
    }
    /// Bytes, as little-endian words, the last one padded with zeros.
    void Add(std::span<const std::uint8_t> bytes) {
        std::size_t i = 0;
        for (; i + 8 <= bytes.size(); i += 8) {
            Add(Word(bytes.data() + i, 8));
        }
        if (i < bytes.size()) {
            Add(Word(bytes.data() + i, bytes.size() - i));
        }
    }
    std::uint64_t Value() const {
        std::uint64_t h = h_;
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return h;
    }

private:
    static constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    static std::uint64_t Word(const std::uint8_t* p, std::size_t n) {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < n; ++k) {
            word |= static_cast<std::uint64_t>(p[k]) << (8 * k);
        }
        return word;
    }
    std::uint64_t h_;
};

} // namespace vantorel
