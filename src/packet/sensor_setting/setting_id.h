#pragma once

#include <cstdint>

namespace packet::sensor_setting {

// The 16-bit identifier that follows the opcode of every sensor-setting message.
enum SettingId : std::uint16_t {
  kGatewayInfo = 0x2001,   // set: gateway beacon; status: node announcement
  kSensorFold = 0x2002,    // set: folds; status: fold acknowledgement
  kBeaconCtrl = 0x2006,    // set: beacon switch; status: acknowledgement
  kFirmware = 0x2007,      // set: firmware announcement and blocks; status: block request
  kLeaveGateway = 0x2009,  // status only: the node leaves
};

}  // namespace packet::sensor_setting
