#include "status/status_object.h"

#include <algorithm>

#include "ipc/blobmsg_json.h"
#include "log/log.h"

namespace status {

namespace {

// What the web front end (uhttpd's ubus handler) adds to every call.
constexpr const char* kSessionArgument = "ubus_rpc_session";

bool OnlySession(const ipc::blobmsg::Members& arguments) {
  return std::all_of(arguments.begin(), arguments.end(),
                     [](const ipc::blobmsg::Node& argument) { return argument.name == kSessionArgument; });
}

}  // namespace

StatusObject::StatusObject(std::string path, std::int32_t timeout_seconds, std::string socket_path)
    : UBUSListener(timeout_seconds, std::move(socket_path)), path_(std::move(path)) {}

// The event loop runs Reattach, which uses this object's members.
StatusObject::~StatusObject() { JoinServer(); }

bool StatusObject::Provide(std::vector<DocumentMethod> methods) {
  const std::lock_guard<std::mutex> guard(AttachLock());
  methods_ = std::move(methods);
  return AddObject(*Bus());
}

bool StatusObject::Reattach(ipc::Connection& bus) {
  if (!UBUSListener::Reattach(bus)) return false;
  return methods_.empty() || AddObject(bus);
}

bool StatusObject::AddObject(ipc::Connection& bus) {
  std::vector<ipc::ObjectMethod> bus_methods;
  for (const auto& method : methods_) {
    bus_methods.push_back({method.name, {}, [method](const ipc::InvokeRequest& request, const ipc::ReplySender& reply) {
                             return Answer(method, request, reply);
                           }});
  }
  std::uint32_t id = 0;
  const int status = bus.AddObject(path_, std::move(bus_methods), id, Timeout());
  if (status == ipc::kOk) return true;
  LOG_ERROR << "Cannot add the bus object " << path_ << ": " << ipc::StatusText(status);
  return false;
}

int StatusObject::Answer(const DocumentMethod& method, const ipc::InvokeRequest& request,
                         const ipc::ReplySender& reply) {
  if (!OnlySession(request.arguments)) return ipc::kInvalidArgument;
  const auto members = ipc::blobmsg::FromJson(method.document().dump());
  if (!members) return ipc::kUnknownError;
  reply(*members);
  return ipc::kOk;
}

}  // namespace status
