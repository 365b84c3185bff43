#include "ipc/message.h"

#include <array>

namespace ipc {

Message& Message::AddU32(AttributeId id, std::uint32_t value) {
  blob::Bytes payload;
  blob::AppendU32(payload, value);
  return AddRaw(id, std::move(payload));
}

Message& Message::AddU8(AttributeId id, std::uint8_t value) { return AddRaw(id, blob::Bytes{value}); }

Message& Message::AddString(AttributeId id, const std::string& text) {
  blob::Bytes payload(text.begin(), text.end());
  payload.push_back(0);
  return AddRaw(id, std::move(payload));
}

Message& Message::AddRaw(AttributeId id, blob::Bytes payload) {
  attributes.push_back(MessageAttribute{id, std::move(payload)});
  return *this;
}

const blob::Bytes* Message::Raw(AttributeId id) const {
  for (auto attribute = attributes.rbegin(); attribute != attributes.rend(); ++attribute) {
    if (attribute->id == id) return &attribute->payload;
  }
  return nullptr;
}

std::optional<std::uint32_t> Message::U32(AttributeId id) const {
  const blob::Bytes* payload = Raw(id);
  if (payload == nullptr || payload->size() != 4) return std::nullopt;
  return blob::ReadU32(payload->data());
}

std::optional<std::uint8_t> Message::U8(AttributeId id) const {
  const blob::Bytes* payload = Raw(id);
  if (payload == nullptr || payload->size() != 1) return std::nullopt;
  return payload->front();
}

std::optional<std::string> Message::String(AttributeId id) const {
  const blob::Bytes* payload = Raw(id);
  if (payload == nullptr || payload->empty() || payload->back() != 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(payload->data()));
}

blob::Bytes Encode(const Message& message) {
  blob::Writer writer;
  blob::Bytes& out = writer.Buffer();
  out.push_back(0);
  out.push_back(static_cast<std::uint8_t>(message.type));
  blob::AppendU16(out, message.seq);
  blob::AppendU32(out, message.peer);
  const std::size_t body = writer.Open(false, 0);
  for (const auto& attribute : message.attributes) {
    writer.Put(static_cast<std::uint8_t>(attribute.id), attribute.payload.data(), attribute.payload.size());
  }
  writer.Close(body);
  return std::move(out);
}

std::optional<std::size_t> AnnouncedBodySize(const std::uint8_t* first12) {
  const std::size_t length = blob::ReadU32(first12 + kHeaderSize) & blob::kLengthMask;
  if (length < blob::kHeadSize || blob::Pad4(length) > kMaxBodySize) return std::nullopt;
  return length;
}

std::optional<Message> Decode(const std::uint8_t* data, std::size_t size, std::string& error) {
  if (size < kHeadAndBodyHead) {
    error = "message shorter than its header";
    return std::nullopt;
  }
  if (data[0] != 0) {
    error = "unknown protocol version " + std::to_string(data[0]);
    return std::nullopt;
  }
  const auto body = AnnouncedBodySize(data);
  if (!body || kHeaderSize + *body != size) {
    error = "body length does not match the message";
    return std::nullopt;
  }
  Message message(static_cast<MessageType>(data[1]), blob::ReadU16(data + 2), blob::ReadU32(data + 4));
  std::vector<blob::Attribute> attributes;
  if (!blob::ParseList(data + kHeadAndBodyHead, *body - blob::kHeadSize, attributes, error)) return std::nullopt;
  for (const auto& attribute : attributes) {
    if (attribute.extended || attribute.id == 0) continue;  // not a message attribute: ignored
    message.AddRaw(static_cast<AttributeId>(attribute.id),
                   blob::Bytes(attribute.payload, attribute.payload + attribute.payload_size));
  }
  return message;
}

const char* TypeName(MessageType type) {
  static constexpr std::array<const char*, 12> kNames = {"HELLO",  "STATUS",    "DATA",   "PING",
                                                         "LOOKUP", "INVOKE",    "ADD_OBJECT", "REMOVE_OBJECT",
                                                         "SUBSCRIBE", "UNSUBSCRIBE", "NOTIFY", "MONITOR"};
  const auto index = static_cast<std::size_t>(type);
  return index < kNames.size() ? kNames[index] : "UNKNOWN";
}

}  // namespace ipc
