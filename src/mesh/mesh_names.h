#pragma once

#include <cstdint>

// The gateway's fixed identity towards the mesh daemon: its object paths, the daemon's
// names, and the numbers of its application and vendor model.
namespace mesh_names {

inline constexpr const char* kDaemonService = "org.bluez.mesh";
inline constexpr const char* kNetworkPath = "/org/bluez/mesh";
inline constexpr const char* kRootPath = "/com/quellaron/mesh";
inline constexpr const char* kApplicationPath = "/com/quellaron/mesh/application";
inline constexpr const char* kElementPath = "/com/quellaron/mesh/ele0";
inline constexpr const char* kAgentPath = "/com/quellaron/mesh/agent";

inline constexpr std::uint16_t kCompanyId = 0x05F1;
inline constexpr std::uint16_t kProductId = 0x0000;
inline constexpr std::uint16_t kVersionId = 0x0000;
inline constexpr std::uint16_t kReplayProtectionListSize = 0x7FFF;
inline constexpr std::uint16_t kVendorModelId = 0x0001;

// The group every node listens to: destination of the gateway beacon and firmware announcements.
// Fixed on purpose, whatever the stored group address: deployed nodes listen on it.
inline constexpr std::uint16_t kAllNodes = 0xC8C8;

}  // namespace mesh_names
