#include "ipc/ubus.h"

#include "ipc/blobmsg_json.h"
#include "log/log.h"

namespace ipc {

UBUS::UBUS(std::int32_t timeout_seconds) : UBUS(timeout_seconds, kDefaultSocket) {}

UBUS::UBUS(std::int32_t timeout_seconds, std::string socket_path)
    : timeout_(timeout_seconds * 1000), connection_(std::make_unique<Connection>(std::move(socket_path))) {}

UBUS::~UBUS() { JoinServer(); }

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
  std::uint32_t id = 0;
  if (connection_->LookupId(object, id, Timeout()) != kOk) {
    LOG_ERROR << "lookup_id";
    return false;
  }
  const int status = connection_->Invoke(id, method, arguments, [&](const blobmsg::Members& reply) {
    if (!handler) return;
    const std::string text = blobmsg::ToJson(reply);
    handler(text.c_str());
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
  return connection_->SendEvent(type, *data, Timeout()) == kOk;
}

void UBUS::ServerStart() {
  const std::lock_guard<std::mutex> guard(server_lock_);
  if (server_running_) return;
  if (server_thread_.joinable()) server_thread_.join();
  stop_requested_ = false;
  server_running_ = true;
  server_thread_ = std::thread([this] {
    connection_->Serve(stop_requested_);
    server_running_ = false;
  });
}

void UBUS::ServerStop() {
  stop_requested_ = true;
  connection_->Wake();
}

void UBUS::JoinServer() {
  ServerStop();
  const std::lock_guard<std::mutex> guard(server_lock_);
  if (server_thread_.joinable()) server_thread_.join();
}

}  // namespace ipc
