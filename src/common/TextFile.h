#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// Splits text into lines at CR LF, LF or a lone CR. A final line break does not add an
/// empty line; a UTF-8 byte-order mark at the start is dropped.
std::vector<std::string> SplitLines(std::string_view text);

/// What a read takes at most by default: larger files are no file of this program's.
inline constexpr std::size_t kMostFileBytes = 256u << 20;
/// Caps of the small outside files: a .STAT file, an element-set file, a watch state.
inline constexpr std::size_t kMostStatBytes = 64u << 10;
inline constexpr std::size_t kMostElementFileBytes = 16u << 20;
inline constexpr std::size_t kMostStateBytes = 16u << 20;

/// The whole content of a regular file of at most `maxBytes`, or nullopt when it is
/// missing, cannot be read, is larger, or is no regular file (a FIFO or a device is never
/// waited on: it is opened without blocking and refused).
std::optional<std::string> ReadFileBytes(const std::string& path,
                                         std::size_t maxBytes = kMostFileBytes);

/// The bytes of a regular file, mapped read-only where the system can: no copy and no
/// pages of its own, so a large data file costs a sixth of a read. Read into memory where
/// it cannot be mapped. The same files as ReadFileBytes are refused.
class TFileView {
public:
    /// Whether a mapping's pages are all made present at once (for a reader that goes
    /// through all of it) or as they are first read.
    enum class TPages { Populated, AsTouched };
    static std::optional<TFileView> Open(const std::string& path,
                                         std::size_t maxBytes = kMostFileBytes,
                                         TPages pages = TPages::Populated);
    TFileView(TFileView&& other) noexcept;
    TFileView& operator=(TFileView&&) = delete;
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;
    ~TFileView();

    std::span<const std::uint8_t> Bytes() const;
    /// Makes every page of a mapping present now, where the system can.
    void Populate() const;

private:
    TFileView() = default;
    void* map_ = nullptr;
    std::size_t size_ = 0;
    std::string copy_; ///< the bytes, when not mapped
};

/// The lines of a text file (see SplitLines), or nullopt when it is missing or cannot be
/// read. Never throws for a file-system reason.
std::optional<std::vector<std::string>> ReadTextLines(const std::string& path);

} // namespace vantorel
