#pragma once

#include <string>
#include <vector>

#include "xgt/fenet/memory_address.h"

// One value of a PLC due to be read.
struct DueRead {
  std::string id;
  xgt::MemoryAddress address;
  bool alone = false;  // read in a request of its own
};

// The values one read request carries: up to 16 addresses of one data type.
struct ReadGroup {
  std::vector<std::string> ids;
  std::vector<xgt::MemoryAddress> addresses;
};

// Values that fall due together, in as few requests as the protocol allows: each request
// carries up to 16 addresses of one data type, in the order given; a value marked alone gets
// a request of its own. The requests come in the order of their first value.
std::vector<ReadGroup> GroupReads(const std::vector<DueRead>& due);
