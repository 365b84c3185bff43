#include "ipc/ubus_listener.h"

#include "common/fnv1a.h"
#include "ipc/blobmsg_json.h"
#include "log/log.h"

namespace ipc {

UBUSListener::UBUSListener(std::int32_t timeout_seconds) : UBUS(timeout_seconds) {}

UBUSListener::UBUSListener(std::int32_t timeout_seconds, std::string socket_path)
    : UBUS(timeout_seconds, std::move(socket_path)) {}

UBUSListener::~UBUSListener() {
  ServerStop();
  {
    const std::lock_guard<std::mutex> guard(handlers_lock_);
    handlers_.clear();
  }
  JoinServer();
}

bool UBUSListener::RegisterEventHandler(const std::string& type, const CallbackHandler& handler) {
  // The handler is in place before the broker knows the pattern, so an event sent right
  // after the registration is not lost.
  const std::uint32_t key = Fnv1a(type);
  bool inserted = false;
  {
    const std::lock_guard<std::mutex> guard(handlers_lock_);
    inserted = handlers_.emplace(key, handler).second;
  }
  int status = kOk;
  {
    const std::lock_guard<std::mutex> guard(registration_lock_);
    if (event_object_ == 0) {
      status = Bus().AddEventObject([this](const std::string& event_type, const blobmsg::Members& data) {
        OnEvent(event_type, data);
      }, event_object_, Timeout());
    }
    if (status == kOk) status = Bus().RegisterEvent(event_object_, type, Timeout());
  }
  if (status == kOk) return true;
  LOG_ERROR << "Register Failed" << StatusText(status);
  if (inserted) {
    const std::lock_guard<std::mutex> guard(handlers_lock_);
    handlers_.erase(key);
  }
  return false;
}

void UBUSListener::OnEvent(const std::string& type, const blobmsg::Members& data) {
  LOG_VERBOSE << "type : " << type;
  const std::string text = blobmsg::ToJson(data);
  const std::lock_guard<std::mutex> guard(handlers_lock_);
  const auto found = handlers_.find(Fnv1a(type));
  if (found != handlers_.end() && found->second) found->second(text.c_str());
}

}  // namespace ipc
