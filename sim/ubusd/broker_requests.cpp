// The broker's answers to each kind of request, and event delivery.
#include <algorithm>

#include "ipc/blobmsg.h"
#include "ipc/status.h"
#include "ubusd/broker.h"

namespace sim::ubusd {

namespace {

using ipc::AttributeId;
using ipc::Message;
using ipc::MessageType;
using ipc::blobmsg::Node;
using ipc::blobmsg::Type;

constexpr std::uint32_t kFirstClientObject = 1024;
constexpr std::size_t kMaxForwardedCalls = 65536;
// Status a caller gets when the provider of its call goes away before answering.
constexpr int kProviderGone = ipc::kNoData;

bool Matches(const std::string& prefix, bool wildcard, const std::string& text) {
  if (wildcard) return text.compare(0, prefix.size(), prefix) == 0;
  return text == prefix;
}

}  // namespace

void Broker::Handle(Client& client, const Message& message) {
  switch (message.type) {
    case MessageType::kLookup:
      return HandleLookup(client, message);
    case MessageType::kAddObject:
      return HandleAddObject(client, message);
    case MessageType::kRemoveObject:
      return HandleRemoveObject(client, message);
    case MessageType::kInvoke:
      return HandleInvoke(client, message);
    case MessageType::kStatus:
    case MessageType::kData:
      return HandleAnswer(client, message);
    case MessageType::kPing: {
      Message echo = message;
      echo.type = MessageType::kData;
      Send(client.id, echo);
      return SendStatus(client, message, ipc::kOk);
    }
    default:
      return SendStatus(client, message, ipc::kInvalidCommand);
  }
}

void Broker::HandleLookup(Client& client, const Message& message) {
  const bool all = message.Raw(AttributeId::kObjPath) == nullptr;
  const std::string path = message.String(AttributeId::kObjPath).value_or("");
  if (!all && path.empty()) return SendStatus(client, message, ipc::kInvalidArgument);
  const bool wildcard = !path.empty() && path.back() == '*';
  const std::string prefix = wildcard ? path.substr(0, path.size() - 1) : path;
  bool found = false;
  for (const auto& [object_path, id] : paths_) {
    if (!all && !Matches(prefix, wildcard, object_path)) continue;
    const Object& object = objects_.at(id);
    const auto type = types_.find(object.type);
    if (type == types_.end()) continue;
    Message data(MessageType::kData, message.seq, message.peer);
    data.AddString(AttributeId::kObjPath, object_path)
        .AddU32(AttributeId::kObjId, id)
        .AddU32(AttributeId::kObjType, object.type)
        .AddRaw(AttributeId::kSignature, type->second.signature);
    Send(client.id, data);
    found = true;
  }
  SendStatus(client, message, found || all ? ipc::kOk : ipc::kNotFound);
}

void Broker::HandleAddObject(Client& client, const Message& message) {
  const auto path = message.String(AttributeId::kObjPath);
  if (path && (path->empty() || paths_.count(*path) != 0)) return SendStatus(client, message, ipc::kInvalidArgument);
  Object object;
  object.owner = client.id;
  object.path = path.value_or("");
  bool new_type = false;
  if (const auto* signature = message.Raw(AttributeId::kSignature)) {
    object.type = NewId(TypeIds());
    types_[object.type].signature = *signature;
    new_type = true;
  } else if (const auto type = message.U32(AttributeId::kObjType)) {
    if (types_.count(*type) != 0) object.type = *type;
  }
  if (object.type != 0) ++types_[object.type].objects;
  const std::uint32_t id = NewId(ObjectIds());
  objects_[id] = object;
  if (!object.path.empty()) paths_[object.path] = id;

  Message data(MessageType::kData, message.seq, message.peer);
  data.AddU32(AttributeId::kObjId, id);
  if (new_type) data.AddU32(AttributeId::kObjType, object.type);
  Send(client.id, data);
  SendStatus(client, message, ipc::kOk);
  if (!object.path.empty()) {
    Deliver("ubus.object.add",
            ipc::blobmsg::Encode({Node::Int32("id", static_cast<std::int32_t>(id)), Node::String("path", object.path)}),
            0);
  }
}

void Broker::HandleRemoveObject(Client& client, const Message& message) {
  const auto id = message.U32(AttributeId::kObjId);
  if (!id) return SendStatus(client, message, ipc::kInvalidArgument);
  const auto found = objects_.find(*id);
  if (found == objects_.end()) return SendStatus(client, message, ipc::kNotFound);
  if (found->second.owner != client.id) return SendStatus(client, message, ipc::kPermissionDenied);
  const std::uint32_t type = found->second.type;
  const bool last_of_type = type != 0 && types_[type].objects == 1;
  RemoveObject(*id);
  Message data(MessageType::kData, message.seq, message.peer);
  data.AddU32(AttributeId::kObjId, *id);
  if (last_of_type) data.AddU32(AttributeId::kObjType, type);
  Send(client.id, data);
  SendStatus(client, message, ipc::kOk);
}

void Broker::RemoveObject(std::uint32_t object_id) {
  const auto found = objects_.find(object_id);
  if (found == objects_.end()) return;
  const Object object = found->second;
  objects_.erase(found);
  if (!object.path.empty()) paths_.erase(object.path);
  if (object.type != 0 && --types_[object.type].objects <= 0) types_.erase(object.type);
  registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                      [&](const Registration& entry) { return entry.object == object_id; }),
                       registrations_.end());
  FailForwardedCalls(object_id, true);
  if (!object.path.empty()) {
    Deliver("ubus.object.remove",
            ipc::blobmsg::Encode(
                {Node::Int32("id", static_cast<std::int32_t>(object_id)), Node::String("path", object.path)}),
            0);
  }
}

void Broker::FailForwardedCalls(std::uint32_t provider_or_object, bool by_object) {
  std::vector<ForwardedCall> failed;
  auto kept = std::remove_if(forwarded_.begin(), forwarded_.end(), [&](const ForwardedCall& call) {
    const bool hit = by_object ? call.object == provider_or_object : call.provider == provider_or_object;
    if (hit) failed.push_back(call);
    return hit;
  });
  forwarded_.erase(kept, forwarded_.end());
  for (const auto& call : failed) {
    Message status(MessageType::kStatus, call.seq, call.object);
    status.AddU32(AttributeId::kStatus, kProviderGone).AddU32(AttributeId::kObjId, call.object);
    Send(call.caller, status);
  }
}

void Broker::HandleInvoke(Client& client, const Message& message) {
  const auto id = message.U32(AttributeId::kObjId);
  const auto method = message.String(AttributeId::kMethod);
  if (!id || !method) return SendStatus(client, message, ipc::kInvalidArgument);
  if (*id == ipc::kEventObjectId) return HandleEventObject(client, message);
  const auto found = objects_.find(*id);
  if (found == objects_.end()) return SendStatus(client, message, ipc::kNotFound);

  Message forward(MessageType::kInvoke, message.seq, client.id);
  forward.AddU32(AttributeId::kObjId, *id)
      .AddString(AttributeId::kMethod, *method)
      .AddString(AttributeId::kUser, client.user)
      .AddString(AttributeId::kGroup, client.group);
  if (const auto* data = message.Raw(AttributeId::kData)) forward.AddRaw(AttributeId::kData, *data);
  if (forwarded_.size() >= kMaxForwardedCalls) forwarded_.erase(forwarded_.begin());
  forwarded_.push_back(ForwardedCall{client.id, message.seq, *id, found->second.owner});
  Send(found->second.owner, forward);
}

void Broker::HandleAnswer(Client& client, const Message& message) {
  const auto id = message.U32(AttributeId::kObjId);
  if (!id) return;
  const bool is_status = message.type == MessageType::kStatus;
  if (is_status ? !message.U32(AttributeId::kStatus) : message.Raw(AttributeId::kData) == nullptr) return;
  const auto object = objects_.find(*id);
  if (object == objects_.end() || object->second.owner != client.id) return;
  if (clients_.count(message.peer) == 0) return;
  if (is_status) {
    forwarded_.erase(std::remove_if(forwarded_.begin(), forwarded_.end(),
                                    [&](const ForwardedCall& call) {
                                      return call.caller == message.peer && call.seq == message.seq &&
                                             call.object == *id;
                                    }),
                     forwarded_.end());
  }
  Message answer = message;
  answer.peer = *id;
  Send(message.peer, answer);
}

void Broker::HandleEventObject(Client& client, const Message& message) {
  const std::string method = *message.String(AttributeId::kMethod);
  const auto* data = message.Raw(AttributeId::kData);
  int status = ipc::kInvalidCommand;
  if (method == "register") {
    status = data != nullptr ? RegisterEvent(client, *data) : ipc::kInvalidArgument;
  } else if (method == "send") {
    status = data != nullptr ? SendEvent(client, *data) : ipc::kInvalidArgument;
  }
  SendStatus(client, message, status);
}

int Broker::RegisterEvent(const Client& client, const ipc::blob::Bytes& data) {
  ipc::blobmsg::Members members;
  std::string error;
  if (!ipc::blobmsg::Decode(data.data(), data.size(), members, error)) return ipc::kInvalidArgument;
  const Node* object = ipc::blobmsg::FindTyped(members, "object", Type::kInt32);
  const Node* pattern = ipc::blobmsg::FindTyped(members, "pattern", Type::kString);
  if (object == nullptr || pattern == nullptr) return ipc::kInvalidArgument;
  const auto object_id = static_cast<std::uint32_t>(object->integer);
  if (object_id < kFirstClientObject) return ipc::kPermissionDenied;
  const auto found = objects_.find(object_id);
  if (found == objects_.end()) return ipc::kNotFound;
  if (found->second.owner != client.id || pattern->text.empty()) return ipc::kPermissionDenied;
  Registration registration;
  registration.wildcard = pattern->text.back() == '*';
  registration.prefix = registration.wildcard ? pattern->text.substr(0, pattern->text.size() - 1) : pattern->text;
  registration.object = object_id;
  registration.order = registration_order_++;
  const auto position = std::upper_bound(registrations_.begin(), registrations_.end(), registration,
                                         [](const Registration& left, const Registration& right) {
                                           return left.prefix < right.prefix;
                                         });
  registrations_.insert(position, registration);
  return ipc::kOk;
}

int Broker::SendEvent(const Client& client, const ipc::blob::Bytes& data) {
  ipc::blobmsg::Members members;
  std::string error;
  if (!ipc::blobmsg::Decode(data.data(), data.size(), members, error)) return ipc::kInvalidArgument;
  const Node* type = ipc::blobmsg::FindTyped(members, "id", Type::kString);
  ipc::blob::Bytes payload;
  if (type == nullptr || !ipc::blobmsg::FindRawValue(data.data(), data.size(), "data", Type::kTable, payload)) {
    return ipc::kInvalidArgument;
  }
  if (type->text.compare(0, 5, "ubus.") == 0) return ipc::kPermissionDenied;
  Deliver(type->text, payload, client.id);
  return ipc::kOk;
}

void Broker::Deliver(const std::string& type, const ipc::blob::Bytes& payload, std::uint32_t sender) {
  std::set<std::uint32_t> delivered;
  const std::vector<Registration> registrations = registrations_;
  for (const auto& registration : registrations) {
    if (!Matches(registration.prefix, registration.wildcard, type)) continue;
    const auto object = objects_.find(registration.object);
    if (object == objects_.end() || object->second.owner == sender) continue;
    if (!delivered.insert(registration.object).second) continue;
    Message delivery(MessageType::kInvoke, ++event_seq_, 0);
    delivery.AddU32(AttributeId::kObjId, registration.object)
        .AddString(AttributeId::kMethod, type)
        .AddRaw(AttributeId::kData, payload);
    Send(object->second.owner, delivery);
  }
}

}  // namespace sim::ubusd
