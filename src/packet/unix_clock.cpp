#include "packet/unix_clock.h"

#include <chrono>

namespace packet {

std::int64_t SystemUnixTime() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace packet
