#pragma once

#include <string>
#include <string_view>

namespace logging {

// How a secret (a key, a password) appears in a log line: never its text, only its length,
// as "*** (24 chars)".
std::string Secret(std::string_view text);

}  // namespace logging
