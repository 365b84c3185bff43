#include "curl/response_writer.h"

#include <streambuf>

namespace curl {

response_writer response_writer::to(std::ostream& stream) { return {&write_to_stream, &stream}; }

std::size_t write_to_stream(char* data, std::size_t size, std::size_t count, void* target) {
  auto& stream = *static_cast<std::ostream*>(target);
  const std::size_t length = size * count;
  stream.write(data, static_cast<std::streamsize>(length));
  return stream ? length : 0;
}

}  // namespace curl
