#pragma once

// One HTTP or HTTPS GET, run to its end before returning: the element-set updates'
// only contact with the network.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace vantorel {

/// The limits of one download.
struct TDownloadLimits {
    /// The whole transfer: connection, redirects and body (> 0).
    std::chrono::milliseconds Timeout{30000};
    /// Replies whose body is larger than this (bytes; no content coding is asked for) are
    /// refused, and no more than this is ever held. Element files are tens of kilobytes;
    /// the cap keeps a wrong URL from filling the memory or the disk.
    std::size_t MaxBytes = std::size_t{4} << 20;
};

/// What one download gave: the body of a 2xx reply, or why there is none.
struct TDownloaded {
    std::optional<std::string> Body;
    /// "" with a body; otherwise the URL and the HTTP status, the network error, the
    /// timeout or the size cap.
    std::string Error;
};

/// GETs an http or https URL; any other scheme is refused without a request. HTTPS
/// certificates are verified; redirects are followed (at most 5), never from https to
/// http. Blocks the calling thread, which must be able to run a Qt event loop (the main
/// thread or any other), in a local event loop that leaves user input for later.
/// Makes a QCoreApplication when the process has none: a program that draws text must
/// make its QGuiApplication before the first download. Qt Network is loaded with the
/// download module on the first call; a module that cannot be loaded is told as the
/// download's error.
TDownloaded Download(const std::string& url, const TDownloadLimits& limits);

} // namespace vantorel
