#pragma once

// Large buffers (pictures, files read whole) are written from end to end right after they
// are made. Each 4 KiB page a process touches for the first time costs a fault, and on a
// virtual machine a fault costs microseconds: a 23 MB picture took 5,700 of them. Asked
// for, the kernel backs such a buffer with 2 MiB pages instead.

#include <cstddef>
#include <memory>

namespace vantorel {

/// Buffers from this size on are worth the advice.
inline constexpr std::size_t kLargeBufferBytes = std::size_t{4} << 20;

/// Asks the kernel to back [at, at + bytes) with huge pages where it can; nothing where the
/// platform has no such advice or the buffer is small. The contents are untouched.
void AdviseLargeBuffer(void* at, std::size_t bytes) noexcept;

/// Sets the C library's heap up for a run of the command line: the main thread's heap
/// reserved in one stretch that is given the advice above, blocks of up to 32 MB taken from
/// it, and what is freed kept rather than handed back to the kernel and faulted in again.
/// A run makes and drops tens of megabytes of vectors: on 4 KiB pages their first touches
/// took 17,000 faults, a tenth of its CPU. Call it first thing in main. Nothing where the C
/// library is not glibc.
void PrepareHeapForRun() noexcept;

/// std::allocator that gives large blocks the advice above.
template <class T> struct TLargeBufferAllocator : std::allocator<T> {
    template <class U> struct rebind {
        using other = TLargeBufferAllocator<U>;
    };
    TLargeBufferAllocator() = default;
    template <class U> TLargeBufferAllocator(const TLargeBufferAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        T* at = std::allocator<T>::allocate(n);
        AdviseLargeBuffer(at, n * sizeof(T));
        return at;
    }
};

} // namespace vantorel
