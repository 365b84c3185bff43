#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ipc/blobmsg.h"

// Conversion between JSON text and blobmsg, as the platform's libblobmsg_json does it.
namespace ipc::blobmsg {

// The members of a JSON object text, in text order (a repeated key keeps the position of
// its first occurrence and the value of its last). Anything but an object fails.
// true/false become INT8, integers INT32 when they fit, else INT64 (clamped to its range),
// numbers with a fraction or an exponent DOUBLE, null UNSPEC; strings end at a NUL.
std::optional<Members> FromJson(std::string_view text);

// The members as one compact JSON object: no whitespace, wire order, doubles as "%lf".
std::string ToJson(const Members& members);

// The members as the command-line tool shows a reply: one member per line, TAB indents.
std::string ToIndentedJson(const Members& members);

// One value, compact, as it appears after its name (used for listings).
std::string ValueToJson(const Node& node);

}  // namespace ipc::blobmsg
