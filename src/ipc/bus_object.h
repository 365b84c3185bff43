#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ipc/blobmsg.h"

// The provider side of the bus: objects a connection registers, with their methods.
namespace ipc {

// One call of a method of an object this connection provides.
struct InvokeRequest {
  std::uint32_t object_id = 0;
  std::string method;
  blobmsg::Members arguments;
  std::string user;
  std::string group;
  std::uint32_t caller = 0;  // the caller's client id
};

// Sends one reply table to the caller; may be called any number of times before the
// handler returns.
using ReplySender = std::function<void(const blobmsg::Members&)>;

// Returns the status to answer with, or kDeferReply to send no status at all.
using MethodHandler = std::function<int(const InvokeRequest&, const ReplySender&)>;
constexpr int kDeferReply = -1;

struct ObjectMethod {
  std::string name;
  std::vector<std::pair<std::string, blobmsg::Type>> arguments;  // the declared signature
  MethodHandler handler;
};

// Receives events delivered to an event object: the event type and its data.
using EventHandler = std::function<void(const std::string& type, const blobmsg::Members& data)>;

// One object found by a lookup.
struct ObjectInfo {
  std::string path;
  std::uint32_t id = 0;
  std::uint32_t type_id = 0;
  blobmsg::Members signature;  // one table per method, argument name -> blobmsg type code
};

}  // namespace ipc
