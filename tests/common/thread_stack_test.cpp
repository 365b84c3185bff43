#include "common/thread_stack.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace {

std::size_t StackSizeOfThisThread() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  std::size_t bytes = 0;
  pthread_attr_getstacksize(&attributes, &bytes);
  pthread_attr_destroy(&attributes);
  return bytes;
}

// Every test program links the router's stack size, as the daemon does: a std::thread started
// without attributes runs on it, so the tests exercise the daemon's threads as a router would.
TEST(ThreadStack, AStdThreadGetsTheRouterSize) {
  if (thread_stack::kThreadStackSize == 0) GTEST_SKIP() << "this build keeps the C library's default";
  EXPECT_EQ(thread_stack::DefaultStackSize(), thread_stack::kThreadStackSize);
  std::size_t size = 0;
  std::thread([&size] { size = StackSizeOfThisThread(); }).join();
  EXPECT_EQ(size, thread_stack::kThreadStackSize);
}

}  // namespace
