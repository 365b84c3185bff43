#pragma once

// The object paths and UUIDs of the provisioning service and its advertisement.
namespace ble {

inline constexpr const char* kAdapterPath = "/org/bluez/hci0";
inline constexpr const char* kApplicationPath = "/com/quellaron/le";
inline constexpr const char* kServicePath = "/com/quellaron/le/service";
inline constexpr const char* kAdvertisementPath = "/com/quellaron/adv";
inline constexpr const char* kServiceUuid = "050aa155-6040-457c-b2d3-888bb5f5d49a";
inline constexpr const char* kChar1Name = "char1";
inline constexpr const char* kChar1Uuid = "d9c30001-9c01-5f71-7565-6c6c61726f6e";
inline constexpr const char* kChar2Name = "char2";
inline constexpr const char* kChar2Uuid = "d9c30002-9c01-5f71-7565-6c6c61726f6e";
inline constexpr const char* kLocalNamePrefix = "R907_";

}  // namespace ble
