#include "common/Memory.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vantorel {

#if defined(__linux__)
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

// The whole pages of `side` bytes inside [at, at + bytes), where there are any: a block's
// ends may share pages with other blocks.
bool AdviseWholePages(const void* at, std::size_t bytes, std::uintptr_t side, int advice) {
    const auto begin = (reinterpret_cast<std::uintptr_t>(at) + side - 1) / side * side;
    const auto end = (reinterpret_cast<std::uintptr_t>(at) + bytes) / side * side;
    return end > begin && madvise(reinterpret_cast<void*>(begin), end - begin, advice) == 0;
}

// Microseconds the first write to a fresh 4 KiB page takes here: the median of a few, so
// that one descheduling does not decide.
double FreshPageMicroseconds() {
    constexpr int kPages = 9;
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* map =
        mmap(nullptr, page * kPages, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        return 0;
    }
    std::array<double, kPages> each{};
    for (int i = 0; i < kPages; ++i) {
        const auto start = std::chrono::steady_clock::now();
        static_cast<volatile char*>(map)[static_cast<std::size_t>(i) * page] = 1;
        each[static_cast<std::size_t>(i)] =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count();
    }
    munmap(map, page * kPages);
    std::nth_element(each.begin(), each.begin() + kPages / 2, each.end());
    return each[kPages / 2];
}

} // namespace
#endif

bool HugePagesPayHere() noexcept {
#if defined(__linux__)
    // A fault usually costs well under a microsecond, and 1-2 on a virtual machine whose
    // host backs guest memory as it goes; there 2 MiB pages cost more after a rest. Where
    // the host keeps a shadow of each page table entry, a fault costs 10: writing 64 MB of
    // fresh 4 KiB pages took 160 ms, of 2 MiB pages 4-100 ms (the more after a rest).
    constexpr double kSlowFaultMicroseconds = 4.0;
    static const bool pay = FreshPageMicroseconds() > kSlowFaultMicroseconds;
    return pay;
#else
    return false;
#endif
}

bool BackLargeBuffer(void* at, std::size_t bytes) noexcept {
#if defined(__linux__)
#if !defined(MADV_POPULATE_WRITE)
    constexpr int MADV_POPULATE_WRITE = 23; // Linux 5.14 on; older kernels refuse it
#endif
    if (at == nullptr || bytes < kLargeBufferBytes || bytes > kMostBackedBytes) {
        return false;
    }
    if (HugePagesPayHere()) {
        AdviseWholePages(at, bytes, kHugePage, MADV_HUGEPAGE);
    }
    // Advice only: where the kernel cannot, the pages are backed as they are written.
    return AdviseWholePages(at, bytes, static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)),
                            MADV_POPULATE_WRITE);
#else
    (void)at;
    (void)bytes;
    return false;
#endif
}

void PrepareHeapForRun() noexcept {
#if defined(__GLIBC__) && defined(__linux__)
    // Blocks up to the size of a big picture come from the heap, not from a mapping of
    // their own that is faulted in anew each time.
    constexpr int kOwnMappingFrom = 32 << 20; // the most the library takes
    constexpr int kReserve = 256 << 20;       // address space only, until touched
    mallopt(M_MMAP_THRESHOLD, kOwnMappingFrom);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, kReserve);
    if (HugePagesPayHere()) {
        // One heap for every thread (the others' heaps are mappings of their own, faulted
        // in 4 KiB pages), its reserve in 2 MiB pages.
        mallopt(M_ARENA_MAX, 1);
        auto* grown = static_cast<char*>(std::malloc(std::size_t{1} << 20)); // now reserved
        auto* end = static_cast<char*>(sbrk(0));
        if (grown != nullptr && end > grown) {
            AdviseWholePages(grown, static_cast<std::size_t>(end - grown), kHugePage,
                             MADV_HUGEPAGE);
        }
        std::free(grown);
    }
#endif
}

} // namespace vantorel
