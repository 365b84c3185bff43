#pragma once

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <stdexcept>

#include "common/thread_stack.h"

namespace testing_support {

// A router's default thread stack (musl's), on which every thread of the daemon must get by.
constexpr std::size_t kRouterThreadStack = thread_stack::kRouterStackSize;

// Runs `work` on a thread whose stack has `size` bytes, or the C library's least stack where
// that is more (glibc on arm64: 128 KiB), and waits for it to end.
inline void RunWithStackOf(std::size_t size, const std::function<void()>& work) {
  const long least = ::sysconf(_SC_THREAD_STACK_MIN);
  if (least > 0) size = std::max(size, static_cast<std::size_t>(least));
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) throw std::runtime_error("pthread_attr_init failed");
  if (pthread_attr_setstacksize(&attributes, size) != 0) {
    pthread_attr_destroy(&attributes);
    throw std::runtime_error("pthread_attr_setstacksize failed");
  }
  pthread_t thread;
  const int created = pthread_create(
      &thread, &attributes,
      [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
      },
      const_cast<std::function<void()>*>(&work));
  pthread_attr_destroy(&attributes);
  if (created != 0) throw std::runtime_error("pthread_create failed");
  pthread_join(thread, nullptr);
}

}  // namespace testing_support
