#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "log/secret.h"

namespace logging {

namespace detail {

template <typename Json>
void HideSecrets(Json& value, std::initializer_list<std::string_view> secret_names) {
  if (value.is_object()) {
    for (auto member = value.begin(); member != value.end(); ++member) {
      const bool secret = std::find(secret_names.begin(), secret_names.end(), member.key()) != secret_names.end();
      if (!secret) {
        HideSecrets(member.value(), secret_names);
      } else if (member.value().is_string()) {
        member.value() = Secret(member.value().template get_ref<const std::string&>());
      } else {
        member.value() = "***";
      }
    }
  } else if (value.is_array()) {
    for (auto& element : value) HideSecrets(element, secret_names);
  }
}

}  // namespace detail

// Compact JSON text of `value` for a log line: the values of members named in
// `secret_names` (at any depth) are written as secrets, and text that is not valid UTF-8 is
// written with replacement characters instead of throwing.
template <typename Json>
std::string JsonText(Json value, std::initializer_list<std::string_view> secret_names = {}) {
  detail::HideSecrets(value, secret_names);
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace logging
