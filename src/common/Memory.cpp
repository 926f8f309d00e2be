#include "common/Memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
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

} // namespace vantorel
