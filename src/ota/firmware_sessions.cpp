#include "ota/firmware_sessions.h"

#include <algorithm>
#include <chrono>

#include "log/log.h"

namespace ota {

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

FirmwareSessions::FirmwareSessions(std::function<std::uint32_t()> limit, SessionClock clock)
    : limit_(std::move(limit)), clock_(std::move(clock)) {}

bool FirmwareSessions::StillStalled(std::uint16_t address, int type, int index) {
  const auto found = stalled_.find(address);
  if (found == stalled_.end()) return false;
  if (found->second.type == type && found->second.index == index) return true;
  stalled_.erase(found);
  return false;
}

void FirmwareSessions::RememberStalled(std::uint16_t address, const Session& session, std::int64_t now) {
  if (stalled_.size() >= kStalledRemembered && stalled_.count(address) == 0) {
    const auto oldest = std::min_element(stalled_.begin(), stalled_.end(), [](const auto& one, const auto& other) {
      return one.second.since < other.second.since;
    });
    stalled_.erase(oldest);
  }
  stalled_[address] = StalledAt{session.type, session.index, now};
}

bool FirmwareSessions::Update(std::uint16_t address, int type, int index) {
  const std::lock_guard<std::mutex> guard(lock_);
  const std::int64_t now = clock_();
  if (StillStalled(address, type, index)) {
    LOG_VERBOSE << "Session refused @" << address << ": still at block " << index;
    return false;
  }
  const auto found = sessions_.find(address);
  if (found != sessions_.end()) {
    LOG_VERBOSE << "Session @" << address;
    Session& session = found->second;
    if (session.type != type || session.index != index) session.last_advance = now;
    session.type = type;
    session.index = index;
    session.last_request = now;
    return true;
  }
  if (sessions_.size() >= limit_()) {
    LOG_VERBOSE << "Session Full @" << address;
    return false;
  }
  LOG_VERBOSE << "Session @" << address;
  sessions_.emplace(address, Session{type, index, now, now});
  return true;
}

void FirmwareSessions::Expire() {
  const std::lock_guard<std::mutex> guard(lock_);
  const std::int64_t now = clock_();
  for (auto session = sessions_.begin(); session != sessions_.end();) {
    const Session& state = session->second;
    if (now - state.last_request >= kIdleSeconds) {
      LOG_VERBOSE << "Session Delete @" << session->first;
    } else if (now - state.last_advance >= kStallSeconds) {
      LOG_WARN << "Session @" << session->first << " ended: still at block " << state.index << " of firmware type "
               << state.type << " after " << kStallSeconds << " s";
      RememberStalled(session->first, state, now);
    } else {
      ++session;
      continue;
    }
    session = sessions_.erase(session);
  }
}

bool FirmwareSessions::Any() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return !sessions_.empty();
}

bool FirmwareSessions::Reads(int type) const {
  const std::lock_guard<std::mutex> guard(lock_);
  return std::any_of(sessions_.begin(), sessions_.end(),
                     [type](const auto& session) { return session.second.type == type; });
}

std::vector<SessionStatus> FirmwareSessions::Snapshot() const {
  std::vector<SessionStatus> sessions;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    sessions.reserve(sessions_.size());
    for (const auto& [address, session] : sessions_) {
      sessions.push_back(SessionStatus{address, session.type, session.index, std::nullopt, session.last_request});
    }
  }
  std::sort(sessions.begin(), sessions.end(),
            [](const SessionStatus& one, const SessionStatus& other) { return one.address < other.address; });
  return sessions;
}

}  // namespace ota
