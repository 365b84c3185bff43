#pragma once

#include <cstddef>

namespace thread_stack {

// The stack every thread of the process gets: what a router's C library (musl) gives a thread
// by default. The daemon's deepest thread under the tests needs a fraction of it (measured by
// scripts/stack-depth, figures in docs/performance.md).
constexpr std::size_t kRouterStackSize = 128 * 1024;

// Sanitizers make frames larger (AddressSanitizer puts redzones around every local whose address
// is taken) and their builds are unoptimised, so a sanitized build gives its threads a multiple.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kSanitizerFactor = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t kSanitizerFactor = 4;
#else
constexpr std::size_t kSanitizerFactor = 1;
#endif
#else
constexpr std::size_t kSanitizerFactor = 1;
#endif

constexpr std::size_t kThreadStackSize = kRouterStackSize * kSanitizerFactor;

// Makes `bytes` the stack size of every thread created from now on without attributes of its
// own: std::thread and the threads of the libraries. Returns false if the C library refuses.
// (musl only ever raises its default, so there the size is at least its own 128 KiB.)
bool SetDefaultStackSize(std::size_t bytes);

// The stack size a thread created now without attributes gets, or 0 if it cannot be read.
std::size_t DefaultStackSize();

}  // namespace thread_stack
