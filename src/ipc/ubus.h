#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ipc/callback_handler.h"
#include "ipc/connection.h"

namespace ipc {

// A connection to the system bus: synchronous method calls with a JSON argument and JSON
// replies, events, and the connection's event loop on a thread of its own.
// When the constructor cannot connect, every operation fails with false.
class UBUS {
 public:
  static constexpr const char* kDefaultSocket = Connection::kDefaultSocket;

  explicit UBUS(std::int32_t timeout_seconds = 30);
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
  // Asks the event loop to end.
  virtual void ServerStop();

  bool IsServerRunning() const { return server_running_; }

 protected:
  Connection& Bus() { return *connection_; }
  Connection::Timeout Timeout() const { return std::chrono::milliseconds(timeout_); }
  // Ends the event loop and waits for its thread.
  void JoinServer();

 private:
  std::thread server_thread_;
  std::int32_t timeout_;  // milliseconds
  std::atomic<bool> server_running_{false};
  std::unique_ptr<Connection> connection_;
  std::atomic<bool> stop_requested_{false};
  std::mutex server_lock_;
};

}  // namespace ipc
