#include "ipc/ubus.h"

#include "ipc/blobmsg_json.h"
#include "log/log.h"

namespace ipc {

UBUS::UBUS(std::int32_t timeout_seconds) : UBUS(timeout_seconds, kDefaultSocket) {}

UBUS::UBUS(std::int32_t timeout_seconds, std::string socket_path)
    : timeout_(timeout_seconds * 1000),
      socket_path_(std::move(socket_path)),
      connection_(std::make_shared<Connection>(socket_path_)) {}

UBUS::~UBUS() { JoinServer(); }

std::shared_ptr<Connection> UBUS::Bus() const {
  const std::lock_guard<std::mutex> guard(connection_lock_);
  return connection_;
}

bool UBUS::Call(const std::string& object, const std::string& method, const std::string& json,
                const CallbackHandler& handler) {
  blobmsg::Members arguments;
  if (!json.empty()) {
    auto parsed = blobmsg::FromJson(json);
    if (!parsed) {
      LOG_ERROR << "Failed to parse message data";
      return false;
    }
    arguments = std::move(*parsed);
  }
  const auto bus = Bus();
  std::uint32_t id = 0;
  if (bus->LookupId(object, id, Timeout()) != kOk) {
    LOG_ERROR << "lookup_id";
    return false;
  }
  const int status = bus->Invoke(id, method, arguments, [&](const blobmsg::Members& reply) {
    if (!handler) return;
    const std::string text = blobmsg::ToJson(reply);
    try {
      handler(text.c_str());
    } catch (const std::exception& error) {
      LOG_ERROR << "Reply handler failed: " << error.what();
    }
  }, Timeout());
  if (status == kOk) return true;
  LOG_ERROR << "invoke " << StatusText(status);
  return false;
}

bool UBUS::Event(const char* type, const std::string& json) {
  if (type == nullptr || json.empty()) return false;
  auto data = blobmsg::FromJson(json);
  if (!data) {
    LOG_ERROR << "Failed to parse message data : " << json;
    return false;
  }
  return Bus()->SendEvent(type, *data, Timeout()) == kOk;
}

void UBUS::SetReconnectedHandler(std::function<void()> handler) {
  const std::lock_guard<std::mutex> guard(hooks_lock_);
  on_reconnected_ = std::move(handler);
}

void UBUS::SetReconnectBackoff(ReconnectBackoff backoff) {
  const std::lock_guard<std::mutex> guard(hooks_lock_);
  backoff_ = backoff;
}

void UBUS::ServerStart() {
  const std::lock_guard<std::mutex> guard(server_lock_);
  if (server_running_) return;
  if (server_thread_.joinable()) server_thread_.join();
  stop_requested_ = false;
  stop_.Reset();
  server_running_ = true;
  server_thread_ = std::thread([this] {
    RunServer();
    server_running_ = false;
  });
}

void UBUS::ServerStop() {
  stop_requested_ = true;
  stop_.Stop();
  Bus()->Wake();
}

bool UBUS::Reattach(Connection&) { return true; }

void UBUS::RunServer() {
  auto bus = Bus();
  // A connection that never came up is not lost: there is nothing to return to.
  if (bus->ConnectStatus() != kOk) return;
  for (;;) {
    bus->Serve(stop_requested_);
    if (stop_requested_) return;
    // The connection broke; it has logged the loss.
    bus = Reconnect();
    if (!bus) return;
    LOG_INFO << "ubus connection restored";
    std::function<void()> on_reconnected;
    {
      const std::lock_guard<std::mutex> guard(hooks_lock_);
      on_reconnected = on_reconnected_;
    }
    if (on_reconnected) on_reconnected();
  }
}

std::shared_ptr<Connection> UBUS::Reconnect() {
  ReconnectBackoff backoff;
  {
    const std::lock_guard<std::mutex> guard(hooks_lock_);
    backoff = backoff_;
  }
  while (stop_.WaitFor(backoff.Next())) {
    auto fresh = std::make_shared<Connection>(socket_path_);
    if (fresh->ConnectStatus() != kOk) continue;
    const std::lock_guard<std::mutex> attach(attach_lock_);
    if (!Reattach(*fresh)) continue;
    const std::lock_guard<std::mutex> guard(connection_lock_);
    connection_ = fresh;
    return fresh;
  }
  return nullptr;
}

void UBUS::JoinServer() {
  ServerStop();
  const std::lock_guard<std::mutex> guard(server_lock_);
  if (server_thread_.joinable()) server_thread_.join();
}

}  // namespace ipc
