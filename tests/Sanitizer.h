#pragma once

// Whether the tests run under AddressSanitizer, whose allocator and memory figures are its
// own, not the C library's.

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOREL_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VANTOREL_ADDRESS_SANITIZER)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
