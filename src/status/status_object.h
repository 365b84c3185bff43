#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ipc/ubus_listener.h"

namespace status {

// One method of the operator's object: its name and the document it answers with.
struct DocumentMethod {
  std::string name;
  std::function<nlohmann::json()> document;
};

// The daemon's connection to the system bus, as its listener, that also provides one object
// whose methods each answer with a JSON document ("ubus call quellaron status"). The methods
// take no arguments (a session id added by the web front end is ignored); any other argument
// is refused with the bus's INVALID_ARGUMENT, and an unknown method gets METHOD_NOT_FOUND
// from the connection. After the broker restarts, the object is added again on the new
// connection, with the listener's events. The documents are made on the event loop thread.
class StatusObject : public ipc::UBUSListener {
 public:
  StatusObject(std::string path, std::int32_t timeout_seconds, std::string socket_path);
  ~StatusObject() override;

  // Adds the object with `methods` to the bus; false, with an error line, when it is
  // refused (the methods are kept, and offered again after a reconnection).
  bool Provide(std::vector<DocumentMethod> methods);

 protected:
  bool Reattach(ipc::Connection& bus) override;

 private:
  // Adds the object on `bus`; AttachLock held.
  bool AddObject(ipc::Connection& bus);
  static int Answer(const DocumentMethod& method, const ipc::InvokeRequest& request, const ipc::ReplySender& reply);

  const std::string path_;
  std::vector<DocumentMethod> methods_;  // guarded by AttachLock
};

}  // namespace status
