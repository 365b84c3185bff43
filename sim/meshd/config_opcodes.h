#pragma once

#include <cstdint>

// The Configuration Server messages' opcodes, as its clients and the server use them.
namespace sim::meshd {

constexpr std::uint32_t kAppKeyAdd = 0x00;
constexpr std::uint32_t kAppKeyGet = 0x8001;
constexpr std::uint32_t kAppKeyList = 0x8002;
constexpr std::uint32_t kAppKeyStatus = 0x8003;
constexpr std::uint32_t kDefaultTtlGet = 0x800C;
constexpr std::uint32_t kDefaultTtlSet = 0x800D;
constexpr std::uint32_t kDefaultTtlStatus = 0x800E;
constexpr std::uint32_t kModelSubscriptionAdd = 0x801B;
constexpr std::uint32_t kModelSubscriptionStatus = 0x801F;
constexpr std::uint32_t kModelSubscriptionGet = 0x8029;
constexpr std::uint32_t kModelSubscriptionList = 0x802A;
constexpr std::uint32_t kVendorModelSubscriptionGet = 0x802B;
constexpr std::uint32_t kVendorModelSubscriptionList = 0x802C;
constexpr std::uint32_t kModelAppBind = 0x803D;
constexpr std::uint32_t kModelAppStatus = 0x803E;
constexpr std::uint32_t kModelAppGet = 0x804B;
constexpr std::uint32_t kModelAppList = 0x804C;
constexpr std::uint32_t kVendorModelAppGet = 0x804D;
constexpr std::uint32_t kVendorModelAppList = 0x804E;

}  // namespace sim::meshd
