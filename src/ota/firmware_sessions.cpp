#include "ota/firmware_sessions.h"

#include <chrono>

#include "log/log.h"

namespace ota {

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

FirmwareSessions::FirmwareSessions(std::function<std::uint32_t()> limit, SessionClock clock)
    : limit_(std::move(limit)), clock_(std::move(clock)) {}

bool FirmwareSessions::Update(std::uint16_t address) {
  const std::lock_guard<std::mutex> guard(lock_);
  const auto found = sessions_.find(address);
  if (found != sessions_.end()) {
    LOG_VERBOSE << "Session @" << address;
    found->second = clock_();
    return true;
  }
  if (sessions_.size() >= limit_()) {
    LOG_VERBOSE << "Session Full @" << address;
    return false;
  }
  LOG_VERBOSE << "Session @" << address;
  sessions_.emplace(address, clock_());
  return true;
}

void FirmwareSessions::Expire() {
  const std::lock_guard<std::mutex> guard(lock_);
  const std::int64_t now = clock_();
  for (auto session = sessions_.begin(); session != sessions_.end();) {
    if (now - session->second >= kIdleSeconds) {
      LOG_VERBOSE << "Session Delete @" << session->first;
      session = sessions_.erase(session);
    } else {
      ++session;
    }
  }
}

bool FirmwareSessions::Any() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return !sessions_.empty();
}

}  // namespace ota
