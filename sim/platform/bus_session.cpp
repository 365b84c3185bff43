#include "platform/bus_session.h"

#include <iostream>

namespace sim::platform {

namespace {

// A local stand-in: trying often costs little and brings the objects back soon after the
// broker, before the clients that pause longer between their attempts.
constexpr auto kPause = std::chrono::milliseconds(100);
// How long the first connection waits for a broker that is still starting.
constexpr auto kStartupWait = std::chrono::seconds(10);

}  // namespace

BusSession::BusSession(std::string socket, PlatformObjects& objects) : socket_(std::move(socket)), objects_(objects) {}

bool BusSession::Run() {
  auto bus = ConnectAndAttach(Clock::now() + kStartupWait);
  if (!bus) return stop_;
  std::cout << "platform: objects registered on " << socket_ << std::endl;
  for (;;) {
    bus->Serve(stop_);
    if (stop_) return true;
    std::cout << "platform: the bus went away; connecting again" << std::endl;
    bus = ConnectAndAttach(Clock::time_point::max());
    if (!bus) return true;
    std::cout << "platform: objects registered again on " << socket_ << std::endl;
  }
}

void BusSession::Stop() {
  std::shared_ptr<ipc::Connection> current;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    current = current_;
  }
  stopped_.notify_all();
  if (current) current->Wake();
}

std::shared_ptr<ipc::Connection> BusSession::ConnectAndAttach(Clock::time_point deadline) {
  for (;;) {
    auto bus = std::make_shared<ipc::Connection>(socket_);
    if (bus->ConnectStatus() == ipc::kOk && objects_.Attach(bus)) {
      const std::lock_guard<std::mutex> guard(lock_);
      current_ = bus;
      return bus;
    }
    if (Clock::now() + kPause > deadline || !PauseUnlessStopped(kPause)) return nullptr;
  }
}

bool BusSession::PauseUnlessStopped(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> lock(lock_);
  return !stopped_.wait_for(lock, pause, [this] { return stop_.load(); });
}

}  // namespace sim::platform
