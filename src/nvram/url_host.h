#pragma once

#include <optional>
#include <string>

// The host name of an http, https, ws or wss URL (without port, path, query or
// fragment), or nothing when the text is not such a URL or names no host. The one
// reading of a cloud address: the configured URL and the channel URI are both taken
// apart here, by the websocket library's URI parser.
std::optional<std::string> HostOfUrl(const std::string& url);
