#pragma once

#include <cstddef>
#include <ostream>

namespace curl {

// Where a transfer writes the response body: libcurl's write callback and its target.
struct response_writer {
  using callback = std::size_t (*)(char* data, std::size_t size, std::size_t count, void* target);

  callback write = nullptr;
  void* target = nullptr;

  // A writer that appends to `stream` (an in-memory text or an output file).
  static response_writer to(std::ostream& stream);
};

// Appends size * count bytes to the std::ostream `target` and returns that number, or 0
// when the stream fails (a full disk, say), which makes libcurl end the transfer with
// CURLE_WRITE_ERROR instead of reporting a truncated file as complete.
std::size_t write_to_stream(char* data, std::size_t size, std::size_t count, void* target);

}  // namespace curl
