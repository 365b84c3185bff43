#pragma once

#include <cstddef>

namespace thread_stack {

// The stack every thread of the process gets: what a router's C library (musl) gives a thread
// by default. The daemon's deepest thread under the tests needs a fraction of it (measured by
// scripts/stack-depth, figures in docs/performance.md).
constexpr std::size_t kRouterStackSize = 128 * 1024;

#if defined(__has_feature)
#define QUELLARON_HAS_FEATURE(feature) __has_feature(feature)
#else
#define QUELLARON_HAS_FEATURE(feature) 0
#endif

// The stack size the program sets for its threads; 0 leaves the C library's default.
#if defined(__SANITIZE_THREAD__) || QUELLARON_HAS_FEATURE(thread_sanitizer)
// ThreadSanitizer keeps its per-thread state (768 KiB with GCC 12) in static TLS, which glibc
// takes out of each thread's stack: its builds keep the C library's default (the stack limit).
constexpr std::size_t kThreadStackSize = 0;
#elif defined(__SANITIZE_ADDRESS__) || QUELLARON_HAS_FEATURE(address_sanitizer)
// AddressSanitizer's redzones around locals and its unoptimised builds make frames deeper, and
// its reports are made on the failing thread's stack: four times the router's size.
constexpr std::size_t kThreadStackSize = 4 * kRouterStackSize;
#else
constexpr std::size_t kThreadStackSize = kRouterStackSize;
#endif

// Makes `bytes` the stack size of every thread created from now on without attributes of its
// own: std::thread and the threads of the libraries. Returns false if the C library refuses.
// (musl only ever raises its default, so there the size is at least its own 128 KiB.)
bool SetDefaultStackSize(std::size_t bytes);

// The stack size a thread created now without attributes gets, or 0 if it cannot be read.
std::size_t DefaultStackSize();

}  // namespace thread_stack
