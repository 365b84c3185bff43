#pragma once

#include <sys/types.h>

#include <set>

namespace testing_support {

// The threads of this process (ids from /proc/self/task).
std::set<pid_t> ProcessThreads();

// The threads that exist now and were not in `before`.
std::set<pid_t> ThreadsSince(const std::set<pid_t>& before);

// How often the threads went to sleep (voluntary context switches, summed): a thread
// blocked until there is work adds nothing, one that polls adds one per poll.
long Sleeps(const std::set<pid_t>& threads);

}  // namespace testing_support
