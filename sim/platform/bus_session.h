#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "ipc/connection.h"
#include "platform/platform_objects.h"

namespace sim::platform {

// Keeps the platform objects on the bus: connects (waiting a while for a broker that is
// still starting), attaches the objects and serves their calls. When the broker goes away
// it connects again and attaches them anew, as rpcd and netifd do after procd has
// restarted ubusd.
class BusSession {
 public:
  BusSession(std::string socket, PlatformObjects& objects);
  BusSession(const BusSession&) = delete;
  BusSession& operator=(const BusSession&) = delete;

  // Serves until Stop; false when the first connection could not be made.
  bool Run();
  // Ends Run from another thread, also during a pause between attempts.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;

  // A connection carrying the objects, or null when stopped or past `deadline`.
  std::shared_ptr<ipc::Connection> ConnectAndAttach(Clock::time_point deadline);
  // Sleeps for `pause` unless stopped first; false once stopped.
  bool PauseUnlessStopped(std::chrono::milliseconds pause);

  const std::string socket_;
  PlatformObjects& objects_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;  // guards current_ and pairs with stop_ for the pause
  std::condition_variable stopped_;
  std::shared_ptr<ipc::Connection> current_;
};

}  // namespace sim::platform
