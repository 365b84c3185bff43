#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "packet/sensor_setting/set.h"

namespace packet::sensor_setting::set {

// Fills a session nonce; returns false when no random bytes could be had.
using NonceSource = std::function<bool(OTA::Nonce&)>;

// Nonce from the cryptographic random generator.
bool CryptoNonce(OTA::Nonce& nonce);

// The firmware announcement for one entry of the firmware list (type, version text
// "major.minor.patch+build", size). Each number keeps its low 8 bits, the size its low 16;
// numbers missing from the text are 0. Without random bytes the nonce is zero and an error is logged.
OTA MakeOTAAnnouncement(int firmware_type, const std::string& version, int size,
                        const NonceSource& nonce_source = CryptoNonce);

}  // namespace packet::sensor_setting::set
