#include "plc/read_groups.h"

#include <map>

#include "xgt/fenet/read_request_packet.h"

std::vector<ReadGroup> GroupReads(const std::vector<DueRead>& due) {
  std::vector<ReadGroup> groups;
  std::map<xgt::fenet::DataType, std::size_t> open;  // the group of each type that has room
  for (const auto& read : due) {
    const auto found = open.find(read.address.type);
    const bool has_room = found != open.end() &&
                          groups[found->second].addresses.size() < xgt::fenet::ReadRequestPacket::kMaxVariables;
    if (read.alone || !has_room) {
      groups.emplace_back();
      if (!read.alone) open[read.address.type] = groups.size() - 1;
    }
    ReadGroup& group = read.alone || !has_room ? groups.back() : groups[found->second];
    group.ids.push_back(read.id);
    group.addresses.push_back(read.address);
  }
  return groups;
}
