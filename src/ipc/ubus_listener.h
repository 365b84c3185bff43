#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ipc/blobmsg.h"
#include "ipc/callback_handler.h"
#include "ipc/ubus.h"

namespace ipc {

// A bus connection that also receives events: one handler per exact event type, called
// on the event loop thread (ServerStart) with the event's data as compact JSON. After the
// connection has been rebuilt, the same event types are registered again.
class UBUSListener : public UBUS {
 public:
  explicit UBUSListener(std::int32_t timeout_seconds = kDefaultCallTimeoutSeconds);
  UBUSListener(std::int32_t timeout_seconds, std::string socket_path);
  // No handler starts once the destructor runs; one that has started ends before it returns.
  ~UBUSListener() override;

  // Subscribes to events of exactly `type`. A second registration of the same type keeps
  // the first handler (and still succeeds).
  bool RegisterEventHandler(const std::string& type, const CallbackHandler& handler);

 protected:
  bool Reattach(Connection& bus) override;

 private:
  // Adds the object that receives this listener's events on `bus`.
  int AddEventObject(Connection& bus, std::uint32_t& id);
  void OnEvent(const std::string& type, const blobmsg::Members& data);

  // Guarded by AttachLock: the event object on the current connection and the event
  // types registered with the bus, in order.
  std::uint32_t event_object_ = 0;
  std::vector<std::string> registered_types_;

  std::unordered_map<std::uint32_t, CallbackHandler> handlers_;
  std::mutex handlers_lock_;
};

}  // namespace ipc
