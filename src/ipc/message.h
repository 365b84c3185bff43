#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ipc/blob.h"

// Messages of the bus wire protocol: an 8-byte header (version, type, seq, peer) and a
// body blob holding the message attributes.
namespace ipc {

enum class MessageType : std::uint8_t {
  kHello = 0,
  kStatus = 1,
  kData = 2,
  kPing = 3,
  kLookup = 4,
  kInvoke = 5,
  kAddObject = 6,
  kRemoveObject = 7,
  kSubscribe = 8,
  kUnsubscribe = 9,
  kNotify = 10,
  kMonitor = 11,
};

enum class AttributeId : std::uint8_t {
  kStatus = 1,
  kObjPath = 2,
  kObjId = 3,
  kMethod = 4,
  kObjType = 5,
  kSignature = 6,
  kData = 7,
  kTarget = 8,
  kActive = 9,
  kNoReply = 10,
  kSubscribers = 11,
  kUser = 12,
  kGroup = 13,
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kHeadAndBodyHead = 12;
constexpr std::size_t kMaxBodySize = 1048576;
constexpr std::uint32_t kEventObjectId = 1;

struct MessageAttribute {
  AttributeId id;
  blob::Bytes payload;
};

struct Message {
  MessageType type = MessageType::kHello;
  std::uint16_t seq = 0;
  std::uint32_t peer = 0;
  std::vector<MessageAttribute> attributes;

  Message() = default;
  Message(MessageType message_type, std::uint16_t sequence, std::uint32_t peer_id)
      : type(message_type), seq(sequence), peer(peer_id) {}

  Message& AddU32(AttributeId id, std::uint32_t value);
  Message& AddU8(AttributeId id, std::uint8_t value);
  Message& AddString(AttributeId id, const std::string& text);
  Message& AddRaw(AttributeId id, blob::Bytes payload);

  // The last attribute with this id when it has the right size for its kind, else nothing.
  const blob::Bytes* Raw(AttributeId id) const;
  std::optional<std::uint32_t> U32(AttributeId id) const;
  std::optional<std::uint8_t> U8(AttributeId id) const;
  std::optional<std::string> String(AttributeId id) const;
};

// The whole message as it goes on the wire.
blob::Bytes Encode(const Message& message);

// The length of the body announced by the first 12 bytes (header and body head word), or
// nothing when it is below 4 or above the limit.
std::optional<std::size_t> AnnouncedBodySize(const std::uint8_t* first12);

// Decodes one complete message (exactly header plus body). Fails with a reason when the
// version is not 0, the length does not match or the attribute list is malformed.
std::optional<Message> Decode(const std::uint8_t* data, std::size_t size, std::string& error);

// "LOOKUP", "INVOKE", ... for logs.
const char* TypeName(MessageType type);

}  // namespace ipc
