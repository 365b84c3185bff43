#pragma once

#include <optional>
#include <string>

// The host name of an http or https URL (without port, path, query or fragment), or
// nothing when the text is not such a URL.
std::optional<std::string> HostOfUrl(const std::string& url);
