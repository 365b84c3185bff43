#include "sim-cloud/thread_wakeups.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

std::set<pid_t> ProcessThreads() {
  std::set<pid_t> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    threads.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
  }
  return threads;
}

std::set<pid_t> ThreadsSince(const std::set<pid_t>& before) {
  std::set<pid_t> added;
  for (const pid_t thread : ProcessThreads()) {
    if (before.count(thread) == 0) added.insert(thread);
  }
  return added;
}

long Sleeps(const std::set<pid_t>& threads) {
  const std::string key = "voluntary_ctxt_switches:";
  long total = 0;
  for (const pid_t thread : threads) {
    std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.compare(0, key.size(), key) == 0) total += std::stol(line.substr(key.size()));
    }
  }
  return total;
}

}  // namespace testing_support
