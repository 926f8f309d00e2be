#include "batch/WatchState.h"

#include "common/Files.h"
#include "common/TextFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vantorel {
namespace {

constexpr int kStateVersion = 1;
constexpr const char* kBegun = "running";

} // namespace

TWatchState::TWatchState(std::string file) : file_(std::move(file)) {
    const auto bytes = ReadFileBytes(file_, kMostStateBytes);
    if (!bytes) {
        if (FileExists(file_)) {
            throw std::runtime_error("cannot read the watch's state file " + file_);
        }
        return;
    }
    const TJson state = TJson::parse(*bytes, nullptr, false);
    if (state.is_discarded() || !state.is_object() || state.value("version", 0) != kStateVersion ||
        !state.contains("passes") || !state["passes"].is_object()) {
        throw std::runtime_error("the watch's state file " + file_ +
                                 " is not one this program wrote (move it away to start afresh)");
    }
    passes_ = state["passes"];
}

TInputState TWatchState::StateOf(const std::string& input, std::string_view mark) const {
    const auto it = passes_.find(ExpandFileName(input));
    if (it == passes_.end() || !it->is_object()) {
        return TInputState::New;
    }
    if (it->value("status", "") == kBegun) {
        return TInputState::Begun;
    }
    const std::string recorded = it->value("files", "");
    return recorded.empty() || recorded == mark ? TInputState::Done : TInputState::Changed;
}

std::string TWatchState::BegunOutput(const std::string& input) const {
    const auto it = passes_.find(ExpandFileName(input));
    if (it == passes_.end() || !it->is_object() || it->value("status", "") != kBegun) {
        return {};
    }
    return it->value("output", "");
}

std::vector<std::string> TWatchState::Begun() const {
    std::vector<std::string> begun;
    for (const auto& [input, pass] : passes_.items()) {
        if (pass.is_object() && pass.value("status", "") == kBegun) {
            begun.push_back(input);
        }
    }
    return begun;
}

void TWatchState::Begin(const std::string& input, const std::string& output,
                        std::string_view mark) {
    passes_[ExpandFileName(input)] = {{"status", kBegun},
                                      {"output", output.empty() ? TJson() : TJson(output)},
                                      {"files", std::string(mark)}};
}

void TWatchState::Add(const TPassRecord& record, const std::string& finished,
                      std::string_view mark) {
    passes_[ExpandFileName(record.Input)] = {
        {"status", StatusName(record.Status)},
        {"output", record.Output.empty() ? TJson() : TJson(record.Output)},
        {"finished", finished},
        {"files", std::string(mark)}};
}

void TWatchState::Save() const {
    const TJson state = {{"version", kStateVersion}, {"passes", passes_}};
    ReplaceFileContents(file_, JsonText(state));
}

std::string FilesMark(std::string_view signature) {
    // FNV-1a: the same on every machine and build, unlike std::hash.
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : signature) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    std::string mark(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4) {
        mark[static_cast<std::size_t>(i)] = "0123456789abcdef"[h & 15];
    }
    return mark;
}

TFolderLock::TFolderLock(const std::string& folder) {
    const std::string file = IncludeTrailingPathDelimiter(folder) + kWatchLockName;
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        throw std::runtime_error("cannot make the watch's lock file " + file + ": " +
                                 std::strerror(errno));
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        char holder[32] = {};
        const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
        ::close(fd_);
        fd_ = -1;
        if (why != EWOULDBLOCK) {
            throw std::runtime_error("cannot lock " + file + ": " + std::strerror(why));
        }
        const std::string pid = n > 0 ? std::string(holder, static_cast<std::size_t>(n)) : "";
        throw EFolderLocked("another watch (process " +
                            (pid.empty() ? std::string("unknown") : pid.substr(0, pid.find('\n'))) +
                            ") writes to " + ExpandFileName(folder) +
                            "; one watch at a time may write to a folder");
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
        // The lock holds without the number; only the message to a second watch lacks it.
    }
}

TFolderLock::~TFolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

} // namespace vantorel
