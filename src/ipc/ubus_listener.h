#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "ipc/blobmsg.h"
#include "ipc/callback_handler.h"
#include "ipc/ubus.h"

namespace ipc {

// A bus connection that also receives events: one handler per exact event type, called
// on the event loop thread (ServerStart) with the event's data as compact JSON.
class UBUSListener : public UBUS {
 public:
  explicit UBUSListener(std::int32_t timeout_seconds = 30);
  UBUSListener(std::int32_t timeout_seconds, std::string socket_path);
  ~UBUSListener() override;

  // Subscribes to events of exactly `type`. A second registration of the same type keeps
  // the first handler (and still succeeds).
  bool RegisterEventHandler(const std::string& type, const CallbackHandler& handler);

 private:
  void OnEvent(const std::string& type, const blobmsg::Members& data);

  std::uint32_t event_object_ = 0;
  std::mutex registration_lock_;  // serialises adding the event object
  std::unordered_map<std::uint32_t, CallbackHandler> handlers_;
  std::mutex handlers_lock_;
};

}  // namespace ipc
