#pragma once

#include <signal.h>

namespace sim::standin {

// SIGTERM and SIGINT, blocked in the constructing thread so that every thread started later
// inherits the mask (construct it first in main); Wait returns the one that arrives.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
  }

  int Wait() const {
    int received = 0;
    sigwait(&signals_, &received);
    return received;
  }

 private:
  sigset_t signals_{};
};

}  // namespace sim::standin
