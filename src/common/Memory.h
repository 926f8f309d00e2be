#pragma once

// Large buffers (pictures, files read whole) are written from end to end right after they
// are made. Each 4 KiB page a process touches for the first time costs a fault, and on a
// virtual machine a fault costs microseconds: a 23 MB picture took 5,700 of them. Asked
// for, the kernel backs such a buffer at once, in one call, which costs half as much.
// Huge pages cost less still while the host has the memory at hand, but on most virtual
// machines, where it gave it back after a second of rest (as between passes), they cost
// twenty times more. Where the host keeps a shadow of every page table entry, though, a
// 4 KiB fault costs ten microseconds, and there huge pages cost less even after a rest.

#include <cstddef>
#include <memory>

namespace vantorel {

/// Buffers from this size on are worth backing at once.
inline constexpr std::size_t kLargeBufferBytes = std::size_t{4} << 20;
/// Buffers beyond this size (larger than any pass's picture) are backed as they are
/// written: a file that claims such a picture may end long before it is filled.
inline constexpr std::size_t kMostBackedBytes = std::size_t{256} << 20;

/// Asks the kernel to back the whole pages of [at, at + bytes) now, as they would be when
/// written; nothing where the buffer is small or larger than kMostBackedBytes. True where
/// the kernel did it (not where the platform has no such call). The contents are
/// untouched.
bool BackLargeBuffer(void* at, std::size_t bytes) noexcept;

/// Whether a fresh 4 KiB page costs so much here that 2 MiB pages pay, measured once.
bool HugePagesPayHere() noexcept;

/// Sets the C library's heap up for a run of the command line: blocks of up to 32 MB taken
/// from the heap, and what is freed kept rather than handed back to the kernel and faulted
/// in again: a run makes and drops tens of megabytes of vectors. Call it first thing in
/// main. Nothing where the C library is not glibc.
void PrepareHeapForRun() noexcept;

/// std::allocator that backs large blocks at once, as above.
template <class T> struct TLargeBufferAllocator : std::allocator<T> {
    template <class U> struct rebind {
        using other = TLargeBufferAllocator<U>;
    };
    TLargeBufferAllocator() = default;
    template <class U> TLargeBufferAllocator(const TLargeBufferAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        T* at = std::allocator<T>::allocate(n);
        BackLargeBuffer(at, n * sizeof(T));
        return at;
    }
};

} // namespace vantorel
