#include "common/Memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vantorel {

bool BackLargeBuffer(void* at, std::size_t bytes) noexcept {
#if defined(__linux__)
#if !defined(MADV_POPULATE_WRITE)
    constexpr int MADV_POPULATE_WRITE = 23; // Linux 5.14 on; older kernels refuse it
#endif
    if (at == nullptr || bytes < kLargeBufferBytes || bytes > kMostBackedBytes) {
        return false;
    }
    // The whole pages inside the block: its ends may share pages with other blocks.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(at) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(at) + bytes) / page * page;
    // Advice only: where the kernel cannot, the pages are backed as they are written.
    return end > begin &&
           madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
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
#endif
}

} // namespace vantorel
