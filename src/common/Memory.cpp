#include "common/Memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>

#include <cstdlib>
#endif

namespace vantorel {

void AdviseLargeBuffer(void* at, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (at == nullptr || bytes < kLargeBufferBytes) {
        return;
    }
    // The whole pages inside the block: its ends may share pages with other blocks.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(at) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(at) + bytes) / page * page;
    if (end > begin) {
        // Advice only: where the kernel has no huge pages the buffer stays as it was.
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)at;
    (void)bytes;
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
    // A block larger than the heap's free end makes it grow by the reserve, at once.
    constexpr std::size_t kProbe = std::size_t{16} << 20;
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void* probe = std::malloc(kProbe);
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const auto at = reinterpret_cast<std::uintptr_t>(probe);
    // Only where the heap grew in place, the block at its new free end (not where the
    // library fell back on a mapping of its own).
    constexpr std::uintptr_t kSlack = 1 << 20;
    if (probe != nullptr && end > before && at < end && end - at <= kProbe + kReserve + kSlack) {
        AdviseLargeBuffer(probe, end - at);
    }
    std::free(probe);
#endif
}

} // namespace vantorel
