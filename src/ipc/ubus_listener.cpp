#include "ipc/ubus_listener.h"

#include <algorithm>

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
  // Handlers run only on the event loop thread: joining it waits for one still running.
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
    const std::lock_guard<std::mutex> guard(AttachLock());
    const auto bus = Bus();
    if (event_object_ == 0) status = AddEventObject(*bus, event_object_);
    if (status == kOk) status = bus->RegisterEvent(event_object_, type, Timeout());
    if (status == kOk && std::find(registered_types_.begin(), registered_types_.end(), type) == registered_types_.end()) {
      registered_types_.push_back(type);
    }
  }
  if (status == kOk) return true;
  LOG_ERROR << "Register Failed" << StatusText(status);
  if (inserted) {
    const std::lock_guard<std::mutex> guard(handlers_lock_);
    handlers_.erase(key);
  }
  return false;
}

bool UBUSListener::Reattach(Connection& bus) {
  // Without registrations the first RegisterEventHandler adds the event object.
  std::uint32_t object = 0;
  int status = registered_types_.empty() ? kOk : AddEventObject(bus, object);
  for (const auto& type : registered_types_) {
    if (status != kOk) break;
    status = bus.RegisterEvent(object, type, Timeout());
  }
  if (status != kOk) {
    LOG_ERROR << "Register Failed" << StatusText(status);
    return false;
  }
  event_object_ = object;
  return true;
}

int UBUSListener::AddEventObject(Connection& bus, std::uint32_t& id) {
  return bus.AddEventObject([this](const std::string& type, const blobmsg::Members& data) { OnEvent(type, data); }, id,
                            Timeout());
}

void UBUSListener::OnEvent(const std::string& type, const blobmsg::Members& data) {
  LOG_VERBOSE << "type : " << type;
  // The handler runs outside the lock, so it may register handlers itself.
  CallbackHandler handler;
  {
    const std::lock_guard<std::mutex> guard(handlers_lock_);
    const auto found = handlers_.find(Fnv1a(type));
    if (found != handlers_.end()) handler = found->second;
  }
  if (!handler) return;
  const std::string text = blobmsg::ToJson(data);
  handler(text.c_str());
}

}  // namespace ipc
