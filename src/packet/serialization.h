#pragma once

// The two directions between packet objects and mesh access message bytes.
//   Bytes out = packet::Serialization(packet::config::DefaultTTLGet{});
//   auto status = packet::Deserialization<packet::config::DefaultTTLStatus>(parameters);
//   bool ok = packet::Deserialization(prepared_object, bytes);
// A packet class writes itself with `void Serialize(ByteWriter&) const` and reads itself with
// `void Deserialize(ByteReader&)`; both throw on failure and these templates turn that into
// an empty vector, a default object or false, each with one error line.

#include <cstddef>
#include <exception>
#include <vector>

#include "log/log.h"
#include "packet/byte_reader.h"
#include "packet/byte_writer.h"

namespace packet {

// The largest access message the mesh daemon accepts for sending.
inline constexpr std::size_t kMaxAccessMessage = 380;

template <typename T>
std::vector<unsigned char> Serialization(const T& packet) {
  try {
    ByteWriter writer(kMaxAccessMessage);
    packet.Serialize(writer);
    return writer.Take();
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
    return {};
  }
}

template <typename T>
bool Deserialization(T& packet, const std::vector<unsigned char>& bytes) {
  try {
    ByteReader reader(bytes);
    packet.Deserialize(reader);
    return true;
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
    return false;
  }
}

template <typename T>
T Deserialization(const std::vector<unsigned char>& bytes) {
  try {
    T packet;
    ByteReader reader(bytes);
    packet.Deserialize(reader);
    return packet;
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
    return T{};
  }
}

}  // namespace packet
