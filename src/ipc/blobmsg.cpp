#include "ipc/blobmsg.h"

#include <cstring>
#include <utility>

namespace ipc::blobmsg {

namespace {

Node Make(Type type, std::string name) {
  Node node;
  node.type = type;
  node.name = std::move(name);
  return node;
}

void EncodeNode(const Node& node, blob::Writer& writer) {
  const std::size_t offset = writer.Open(true, static_cast<std::uint8_t>(node.type));
  blob::Bytes& buffer = writer.Buffer();
  blob::AppendU16(buffer, static_cast<std::uint16_t>(node.name.size()));
  buffer.insert(buffer.end(), node.name.begin(), node.name.end());
  buffer.push_back(0);
  buffer.resize(offset + blob::kHeadSize + blob::Pad4(2 + node.name.size() + 1), 0);
  switch (node.type) {
    case Type::kUnspec:
      break;
    case Type::kArray:
    case Type::kTable:
      Encode(node.children, writer);
      break;
    case Type::kString: {
      const std::size_t length = ::strnlen(node.text.c_str(), node.text.size());
      buffer.insert(buffer.end(), node.text.begin(), node.text.begin() + static_cast<std::ptrdiff_t>(length));
      buffer.push_back(0);
      break;
    }
    case Type::kInt64:
      blob::AppendU64(buffer, static_cast<std::uint64_t>(node.integer));
      break;
    case Type::kInt32:
      blob::AppendU32(buffer, static_cast<std::uint32_t>(node.integer));
      break;
    case Type::kInt16:
      blob::AppendU16(buffer, static_cast<std::uint16_t>(node.integer));
      break;
    case Type::kInt8:
      buffer.push_back(node.integer != 0 ? 1 : 0);
      break;
    case Type::kDouble: {
      std::uint64_t bits = 0;
      std::memcpy(&bits, &node.real, sizeof bits);
      blob::AppendU64(buffer, bits);
      break;
    }
  }
  writer.Close(offset);
}

bool DecodeList(const std::uint8_t* data, std::size_t size, Members& out, std::string& error, int depth);

bool DecodeValue(const blob::Attribute& attribute, Node& node, std::string& error, int depth) {
  const std::uint8_t* value = attribute.payload;
  const std::size_t size = attribute.payload_size;
  switch (node.type) {
    case Type::kUnspec:
      return true;
    case Type::kArray:
    case Type::kTable:
      return DecodeList(value, size, node.children, error, depth + 1);
    case Type::kString:
      if (size < 1 || value[size - 1] != 0) {
        error = "string without its terminating NUL";
        return false;
      }
      node.text.assign(reinterpret_cast<const char*>(value), ::strnlen(reinterpret_cast<const char*>(value), size));
      return true;
    case Type::kInt64:
      if (size != 8) break;
      node.integer = static_cast<std::int64_t>(blob::ReadU64(value));
      return true;
    case Type::kInt32:
      if (size != 4) break;
      node.integer = static_cast<std::int32_t>(blob::ReadU32(value));
      return true;
    case Type::kInt16:
      if (size != 2) break;
      node.integer = static_cast<std::int16_t>(blob::ReadU16(value));
      return true;
    case Type::kInt8:
      if (size != 1) break;
      node.integer = value[0] != 0 ? 1 : 0;
      return true;
    case Type::kDouble: {
      if (size != 8) break;
      const std::uint64_t bits = blob::ReadU64(value);
      std::memcpy(&node.real, &bits, sizeof bits);
      return true;
    }
  }
  error = "value of type " + std::to_string(static_cast<int>(node.type)) + " has " + std::to_string(size) + " bytes";
  return false;
}

bool DecodeAttribute(const blob::Attribute& attribute, Node& node, std::string& error, int depth) {
  if (!attribute.extended) {
    error = "attribute without a name header";
    return false;
  }
  if (attribute.id > static_cast<std::uint8_t>(Type::kDouble)) {
    error = "unknown type " + std::to_string(attribute.id);
    return false;
  }
  if (attribute.payload_size < 2) {
    error = "name header truncated";
    return false;
  }
  const std::size_t name_length = blob::ReadU16(attribute.payload);
  const std::size_t header = blob::Pad4(2 + name_length + 1);
  if (header > attribute.payload_size || attribute.payload[2 + name_length] != 0) {
    error = "name does not fit its attribute";
    return false;
  }
  node.type = static_cast<Type>(attribute.id);
  node.name.assign(reinterpret_cast<const char*>(attribute.payload + 2), name_length);
  blob::Attribute value = attribute;
  value.payload += header;
  value.payload_size -= header;
  return DecodeValue(value, node, error, depth);
}

bool DecodeList(const std::uint8_t* data, std::size_t size, Members& out, std::string& error, int depth) {
  if (depth > kMaxDepth) {
    error = "nesting too deep";
    return false;
  }
  std::vector<blob::Attribute> attributes;
  if (!blob::ParseList(data, size, attributes, error)) return false;
  out.reserve(attributes.size());
  for (const auto& attribute : attributes) {
    Node node;
    if (!DecodeAttribute(attribute, node, error, depth)) return false;
    out.push_back(std::move(node));
  }
  return true;
}

}  // namespace

Node Node::String(std::string name, std::string value) {
  Node node = Make(Type::kString, std::move(name));
  node.text = std::move(value);
  return node;
}

Node Node::Int32(std::string name, std::int32_t value) {
  Node node = Make(Type::kInt32, std::move(name));
  node.integer = value;
  return node;
}

Node Node::Int64(std::string name, std::int64_t value) {
  Node node = Make(Type::kInt64, std::move(name));
  node.integer = value;
  return node;
}

Node Node::Bool(std::string name, bool value) {
  Node node = Make(Type::kInt8, std::move(name));
  node.integer = value ? 1 : 0;
  return node;
}

Node Node::Double(std::string name, double value) {
  Node node = Make(Type::kDouble, std::move(name));
  node.real = value;
  return node;
}

Node Node::Null(std::string name) { return Make(Type::kUnspec, std::move(name)); }

Node Node::Table(std::string name, std::vector<Node> members) {
  Node node = Make(Type::kTable, std::move(name));
  node.children = std::move(members);
  return node;
}

Node Node::Array(std::string name, std::vector<Node> elements) {
  Node node = Make(Type::kArray, std::move(name));
  node.children = std::move(elements);
  return node;
}

bool Node::IsInteger() const {
  return type == Type::kInt64 || type == Type::kInt32 || type == Type::kInt16 || type == Type::kInt8;
}

const Node* Node::Find(const std::string& member) const {
  for (const auto& child : children) {
    if (child.name == member) return &child;
  }
  return nullptr;
}

const Node* FindTyped(const Members& members, const std::string& name, Type type) {
  for (const auto& member : members) {
    if (member.name == name) return member.type == type ? &member : nullptr;
  }
  return nullptr;
}

void Encode(const Members& members, blob::Writer& writer) {
  for (const auto& member : members) EncodeNode(member, writer);
}

blob::Bytes Encode(const Members& members) {
  blob::Writer writer;
  Encode(members, writer);
  return std::move(writer.Buffer());
}

bool Decode(const std::uint8_t* data, std::size_t size, Members& out, std::string& error) {
  out.clear();
  return DecodeList(data, size, out, error, 0);
}

bool FindRawValue(const std::uint8_t* data, std::size_t size, const std::string& name, Type type,
                  blob::Bytes& value) {
  std::vector<blob::Attribute> attributes;
  std::string error;
  if (!blob::ParseList(data, size, attributes, error)) return false;
  for (const auto& attribute : attributes) {
    Node node;
    if (!DecodeAttribute(attribute, node, error, 0)) return false;
    if (node.name != name) continue;
    if (node.type != type) return false;
    const std::size_t header = blob::Pad4(2 + node.name.size() + 1);
    value.assign(attribute.payload + header, attribute.payload + attribute.payload_size);
    return true;
  }
  return false;
}

}  // namespace ipc::blobmsg
