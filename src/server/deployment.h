#pragma once

// Deployment values: the cloud's API base URL used when none is configured, and the fixed
// URL of the firmware configuration document. Set at build time (CMake cache variables
// QUELLARON_DEFAULT_BASE_URL and QUELLARON_FIRMWARE_CONFIG_URL).
#ifndef QUELLARON_DEFAULT_BASE_URL
#define QUELLARON_DEFAULT_BASE_URL "https://api.quellaron.example.com/api/v1"
#endif
#ifndef QUELLARON_FIRMWARE_CONFIG_URL
#define QUELLARON_FIRMWARE_CONFIG_URL "https://firmware.quellaron.example.com/firmware.conf"
#endif

inline constexpr const char* kDefaultBaseURL = QUELLARON_DEFAULT_BASE_URL;
inline constexpr const char* kFirmwareConfigURL = QUELLARON_FIRMWARE_CONFIG_URL;
