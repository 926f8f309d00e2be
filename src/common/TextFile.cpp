#include "common/TextFile.h"

#include "common/Memory.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantorel {

std::vector<std::string> SplitLines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.emplace_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

namespace {

// A regular file of at most maxBytes opened for reading, with its status; -1 otherwise.
// Without blocking: a FIFO named like an input would otherwise wait for a writer.
int OpenRegularFile(const std::string& path, std::size_t maxBytes, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::optional<std::string> ReadFileBytes(const std::string& path, std::size_t maxBytes) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    struct stat info {};
    const int fd = OpenRegularFile(path, maxBytes, info);
    if (fd < 0) {
        return std::nullopt;
    }
    std::unique_ptr<std::FILE, Closer> file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        return std::nullopt;
    }
    // Straight into a block of the file's size, read once: a large file used to be
    // copied each time the text outgrew its block, into pages touched afresh each time.
    // The size is only a hint: a file that grows meanwhile is read on to its end.
    std::string content;
    if (info.st_size > 0) {
        content.reserve(static_cast<size_t>(info.st_size) + 1);
        BackLargeBuffer(content.data(), content.capacity());
    }
    size_t size = 0;
    while (true) {
        content.resize(std::max(content.capacity(), size + 65536));
        const size_t room = content.size() - size;
        const size_t got = std::fread(content.data() + size, 1, room, file.get());
        size += got;
        if (size > maxBytes) {
            return std::nullopt; // grew past the cap while read
        }
        if (got < room) {
            break;
        }
    }
    content.resize(size);
    // A folder opens on Linux but fails to read: report it as unreadable.
    if (std::ferror(file.get())) {
        return std::nullopt;
    }
    return content;
}

std::optional<TFileView> TFileView::Open(const std::string& path, std::size_t maxBytes,
                                         TPages pages) {
    struct stat info {};
    const int fd = OpenRegularFile(path, maxBytes, info);
    if (fd < 0) {
        return std::nullopt;
    }
    TFileView view;
    if (info.st_size > 0) {
        void* map = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ,
                           MAP_PRIVATE | (pages == TPages::Populated ? MAP_POPULATE : 0), fd, 0);
        if (map != MAP_FAILED) {
            view.map_ = map;
            view.size_ = static_cast<std::size_t>(info.st_size);
        }
    }
    ::close(fd);
    // Read where not mapped, and where the size says nothing (files of /proc say 0).
    if (view.map_ == nullptr) {
        auto bytes = ReadFileBytes(path, maxBytes);
        if (!bytes) {
            return std::nullopt;
        }
        view.copy_ = std::move(*bytes);
    }
    return view;
}

void TFileView::Populate() const {
#if !defined(MADV_POPULATE_READ)
    constexpr int MADV_POPULATE_READ = 22; // Linux 5.14 on; older kernels refuse it
#endif
    if (map_ != nullptr) {
        ::madvise(map_, size_, MADV_POPULATE_READ); // only ever sooner: a refusal is no harm
    }
}

TFileView::TFileView(TFileView&& other) noexcept
    : map_(other.map_), size_(other.size_), copy_(std::move(other.copy_)) {
    other.map_ = nullptr;
    other.size_ = 0;
}

TFileView::~TFileView() {
    if (map_ != nullptr) {
        ::munmap(map_, size_);
    }
}

std::span<const std::uint8_t> TFileView::Bytes() const {
    if (map_ != nullptr) {
        return {static_cast<const std::uint8_t*>(map_), size_};
    }
    return {reinterpret_cast<const std::uint8_t*>(copy_.data()), copy_.size()};
}

std::optional<std::vector<std::string>> ReadTextLines(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    if (!bytes) {
        return std::nullopt;
    }
    return SplitLines(*bytes);
}

} // namespace vantorel
