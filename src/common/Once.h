#pragma once

// Work done once for each item of a large store, by whichever thread first asks for it.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace vantorel {

/// The locks the items of one store share: an item's is held only while it is worked out.
class TOnceLocks {
public:
    std::mutex& For(const void* item) {
        return locks_[(reinterpret_cast<std::uintptr_t>(item) >> 4) % locks_.size()];
    }

private:
    std::array<std::mutex, 64> locks_;
};

/// Whether an item's work is done: as std::call_once, without a system call for each item
/// (glibc wakes possible waiters with one every time), which for tens of thousands of items
/// comes to milliseconds. The work must not ask for another item of the same store.
class TOnce {
public:
    /// The work is done (and what it made can be read).
    bool Done() const { return done_.load(std::memory_order_acquire); }
    template <class Work> void Do(TOnceLocks& locks, Work&& work) {
        if (done_.load(std::memory_order_acquire)) {
            return;
        }
        const std::lock_guard lock(locks.For(this));
        if (!done_.load(std::memory_order_relaxed)) {
            work();
            done_.store(true, std::memory_order_release);
        }
    }

private:
    std::atomic<bool> done_{false};
};

} // namespace vantorel
