#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ipc/bus_defaults.h"
#include "ipc/callback_handler.h"
#include "ipc/connection.h"
#include "ipc/reconnect_backoff.h"
#include "mutex/stop_signal.h"

namespace ipc {

// A connection to the system bus: synchronous method calls with a JSON argument and JSON
// replies, events, and the connection's event loop on a thread of its own.
// When the constructor cannot connect, every operation fails with false.
// When an established connection breaks (the broker died and is being restarted), the event
// loop thread connects again, pausing between attempts (1 s doubling to 30 s), lets the
// subclass register again (Reattach) and then calls the reconnected handler.
class UBUS {
 public:
  explicit UBUS(std::int32_t timeout_seconds = kDefaultCallTimeoutSeconds);
  UBUS(std::int32_t timeout_seconds, std::string socket_path);
  virtual ~UBUS();
  UBUS(const UBUS&) = delete;
  UBUS& operator=(const UBUS&) = delete;

  // Calls `method` of `object` with the members of the JSON object text `json` (empty: no
  // argument). `handler` runs on this thread once per reply, with the reply as compact JSON.
  // True when the bus reports success.
  bool Call(const std::string& object, const std::string& method, const std::string& json,
            const CallbackHandler& handler);

  // Sends an event of `type` whose data are the members of the JSON object text `json`.
  bool Event(const char* type, const std::string& json);

  // Starts the event loop thread unless it runs.
  virtual void ServerStart();
  // Asks the event loop to end; a pause before reconnecting ends at once too.
  virtual void ServerStop();

  bool IsServerRunning() const { return server_running_; }

  // Runs on the event loop thread each time the connection has been rebuilt after a loss.
  void SetReconnectedHandler(std::function<void()> handler);
  // The pauses between reconnection attempts (the default: 1 s doubling to 30 s).
  void SetReconnectBackoff(ReconnectBackoff backoff);

 protected:
  // The current connection; replaced when the event loop reconnects.
  std::shared_ptr<Connection> Bus() const;
  Connection::Timeout Timeout() const { return std::chrono::milliseconds(timeout_); }
  // Held while the event loop brings a new connection into service (Reattach and the swap).
  std::mutex& AttachLock() { return attach_lock_; }
  // Registers again on a new connection, before it replaces the lost one; false fails the
  // attempt. Runs on the event loop thread with AttachLock held. A subclass that overrides
  // it must join the event loop (JoinServer) in its own destructor.
  virtual bool Reattach(Connection& bus);
  // Ends the event loop and waits for its thread.
  void JoinServer();

 private:
  void RunServer();
  // Connects anew after a loss until it succeeds or a stop is requested.
  std::shared_ptr<Connection> Reconnect();

  std::thread server_thread_;
  std::int32_t timeout_;  // milliseconds
  std::atomic<bool> server_running_{false};
  const std::string socket_path_;
  std::shared_ptr<Connection> connection_;
  mutable std::mutex connection_lock_;  // guards the pointer, not the connection
  std::mutex attach_lock_;
  std::atomic<bool> stop_requested_{false};  // what the serving connection watches
  mutex::StopSignal stop_;                   // ends the pause before reconnecting
  std::mutex server_lock_;
  std::mutex hooks_lock_;  // guards the handler and the back-off
  std::function<void()> on_reconnected_;
  ReconnectBackoff backoff_;
};

}  // namespace ipc
