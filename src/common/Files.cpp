#include "common/Files.h"

#include "common/StringUtils.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace vantorel {
namespace {

size_t NameStart(const std::string& path) {
    const size_t slash = path.find_last_of(kPathDelimiter);
    return slash == std::string::npos ? 0 : slash + 1;
}

// Entry names of a folder, or nothing when it cannot be listed.
std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    if (ec) {
        return names;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string ua = UpperCase(a);
        const std::string ub = UpperCase(b);
        return ua != ub ? ua < ub : a < b;
    });
    return names;
}

} // namespace

std::string ExtractFilePath(const std::string& path) {
    return path.substr(0, NameStart(path));
}

std::string ExtractFileName(const std::string& path) {
    return path.substr(NameStart(path));
}

std::string ExtractFileExt(const std::string& path) {
    const size_t start = NameStart(path);
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) {
        return "";
    }
    return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    const size_t start = NameStart(path);
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) {
        return path + extension;
    }
    return path.substr(0, dot) + extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (path.empty() || path.back() == kPathDelimiter) {
        return path;
    }
    return path + kPathDelimiter;
}

std::string TemporaryBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return ExtractFilePath(target) + "." + ExtractFileName(target) + ".part-" +
           std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

int RemoveAbandonedTemporaries(const std::string& target) {
    const fs::path file = fs::path(target);
    std::string prefix = ".";
    prefix += file.filename().string();
    prefix += ".part-";
    std::error_code ec;
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    int removed = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix)) {
            continue;
        }
        // ".NAME.part-PID-N": the writer's process is asked after, never guessed at.
        const std::string rest = name.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        const auto pid =
            dash == std::string::npos ? std::nullopt : ParseInteger(rest.substr(0, dash));
        if (pid && *pid > 0 && ::kill(*pid, 0) != 0 && errno == ESRCH) {
            removed += ::unlink(it->path().c_str()) == 0;
        }
    }
    return removed;
}

std::string ReplaceableTarget(const std::string& path) {
    std::error_code ec;
    fs::path target(path);
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        target = fs::weakly_canonical(target, ec);
        if (ec) {
            throw std::runtime_error("cannot follow the link " + path + ": " + ec.message());
        }
    }
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        throw std::runtime_error(path + " is not a regular file (a device, a folder or a FIFO): "
                                        "it is not replaced");
    }
    return target.string();
}

void WriteWhole(const std::string& target, const std::function<void(const std::string&)>& write,
                bool replace) {
    const std::string file = ReplaceableTarget(target);
    struct stat there {};
    if (!replace && ::lstat(file.c_str(), &there) == 0) {
        throw TFileExists(file);
    }
    const std::string temporary = TemporaryBeside(file);
    auto fail = [&temporary](const std::string& why) {
        ::unlink(temporary.c_str());
        throw std::runtime_error(why);
    };
    try {
        write(temporary);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // On the disk before it takes the old file's place: a crash leaves the one or the other.
    const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!synced) {
        fail("cannot write " + target + ": " + std::strerror(errno));
    }
    if (!replace) {
        // A hard link is made only where no file is: another writer's is never replaced.
        if (::link(temporary.c_str(), file.c_str()) == 0) {
            ::unlink(temporary.c_str());
            return;
        }
        if (errno == EEXIST) {
            ::unlink(temporary.c_str());
            throw TFileExists(file);
        }
        // File systems without hard links: the check above has to do.
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        fail("cannot write " + target + ": " + std::strerror(errno));
    }
}

void ReplaceFileContents(const std::string& path, std::string_view bytes, bool replace) {
    WriteWhole(
        path,
        [&](const std::string& temporary) {
            const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) {
                throw std::runtime_error("cannot write " + temporary + ": " + std::strerror(errno));
            }
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            const bool closed = ::close(fd) == 0;
            if (done != bytes.size() || !closed) {
                throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
            }
        },
        replace);
}

std::string ExpandFileName(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) {
        return path;
    }
    std::string r = p.lexically_normal().string();
    // Keep a folder's trailing delimiter as it was given.
    if (path.back() != kPathDelimiter && r.size() > 1 && r.back() == kPathDelimiter) {
        r.pop_back();
    }
    return r;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(fs::path(path), ec);
}

bool DirectoryExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(fs::path(path), ec);
}

bool SameFolder(const std::string& a, const std::string& b) {
    auto canonical = [](const std::string& path) {
        std::error_code ec;
        std::filesystem::path p = std::filesystem::weakly_canonical(ExpandFileName(path), ec);
        if (ec) {
            p = ExpandFileName(path);
        }
        std::string text = p.string();
        while (text.size() > 1 && text.back() == '/') {
            text.pop_back();
        }
        return text;
    };
    return canonical(a) == canonical(b);
}

std::optional<std::string> FindFileIgnoringCase(const std::string& path) {
    if (FileExists(path)) {
        return path;
    }
    const std::string folder = ExtractFilePath(path);
    const std::string name = ExtractFileName(path);
    if (name.empty()) {
        return std::nullopt;
    }
    for (const std::string& entry : ListFolder(folder)) {
        if (SameText(entry, name) && FileExists(folder + entry)) {
            return folder + entry;
        }
    }
    return std::nullopt;
}

void FindFiles(const std::string& mask, std::vector<std::string>& list) {
    const std::string folder = ExtractFilePath(mask);
    const std::string pattern = ExtractFileName(mask);
    for (const std::string& entry : ListFolder(folder)) {
        if (entry != "." && entry != ".." && MatchesMask(entry, pattern)) {
            list.push_back(folder + entry);
        }
    }
}

} // namespace vantorel
