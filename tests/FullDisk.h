#pragma once

// A full disk for the test that holds one: every file this process writes fails past
// `bytes` (the file-size limit, its signal ignored, so that the write returns an error as
// on a full disk). Restored when the object goes.

#include <csignal>

#include <sys/resource.h>

namespace vantorel::testing {

class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FullDisk() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

} // namespace vantorel::testing
