#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipc/blob.h"

// Blobmsg: typed, named values (the bus's JSON-like data) on top of blob attributes.
namespace ipc::blobmsg {

enum class Type : std::uint8_t {
  kUnspec = 0,
  kArray = 1,
  kTable = 2,
  kString = 3,
  kInt64 = 4,
  kInt32 = 5,
  kInt16 = 6,
  kInt8 = 7,  // also the boolean
  kDouble = 8,
};

// One decoded value. `name` is empty for array elements; `children` holds the members of
// a table or the elements of an array.
struct Node {
  Type type = Type::kUnspec;
  std::string name;
  std::string text;
  std::int64_t integer = 0;
  double real = 0.0;
  std::vector<Node> children;

  static Node String(std::string name, std::string value);
  static Node Int32(std::string name, std::int32_t value);
  static Node Int64(std::string name, std::int64_t value);
  static Node Bool(std::string name, bool value);
  static Node Double(std::string name, double value);
  static Node Null(std::string name);
  static Node Table(std::string name, std::vector<Node> members = {});
  static Node Array(std::string name, std::vector<Node> elements = {});

  bool IsInteger() const;
  // The first member with this exact name, or nullptr.
  const Node* Find(const std::string& member) const;
};

using Members = std::vector<Node>;

// The first member with this name and type among `members`, or nullptr (a member of the
// wrong type counts as absent).
const Node* FindTyped(const Members& members, const std::string& name, Type type);

// Appends the members as a list of blobmsg attributes (the payload of a DATA attribute).
void Encode(const Members& members, blob::Writer& writer);
blob::Bytes Encode(const Members& members);

// Decodes a list of blobmsg attributes. Fails with a reason on any malformed or invalid
// attribute (bad lengths, a name that does not fit, wrong value sizes, unknown types, a
// string without its NUL, nesting deeper than the limit).
bool Decode(const std::uint8_t* data, std::size_t size, Members& out, std::string& error);

// Finds the member `name` of type `type` in an encoded list without decoding it, and gives
// the exact bytes of its value (for passing data on unchanged). False when absent, of
// another type or malformed.
bool FindRawValue(const std::uint8_t* data, std::size_t size, const std::string& name, Type type,
                  blob::Bytes& value);

constexpr int kMaxDepth = 64;

}  // namespace ipc::blobmsg
