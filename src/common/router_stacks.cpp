// Linked into the daemon and into every test program as an object of its own, so it is never
// dropped for want of a reference: from before the first thread, every thread gets the router's
// stack size.
#include <cstdio>

#include "common/thread_stack.h"

namespace {

struct RouterStacks {
  RouterStacks() {
    if (thread_stack::kThreadStackSize == 0) return;
    if (!thread_stack::SetDefaultStackSize(thread_stack::kThreadStackSize)) {
      // The threads then get the C library's default, which is no smaller: say so and go on.
      std::fputs("cannot set the threads' default stack size\n", stderr);
    }
  }
};

// Priority 101 is the first open to programs: this runs before every other static initialiser,
// so a thread started by one of them (the daemon's application starts its timer thread) gets
// the size too.
__attribute__((init_priority(101))) const RouterStacks router_stacks;

}  // namespace
