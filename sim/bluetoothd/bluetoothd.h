#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "bluetoothd/adapter_object.h"
#include "bluetoothd/simulated_phone.h"

namespace sim::bluetoothd {

// The stand-in bluetoothd: owns "org.bluez" on a D-Bus (the system bus, or the bus at an
// address), exports the object manager at "/" and the adapter "/org/bluez/hci0" (GATT
// manager, LE advertising manager), and drives a simulated phone. Scriptable through
// Control, in process or over the control socket (one JSON object per line, one JSON reply
// line each):
//   {"cmd":"status"}      the adapter, the registered application and advertisement, the
//                         refusals, the phone
//   {"cmd":"wait_registered","timeout_ms":N}  until an application and an advertisement are in
//   {"cmd":"connect","address":"AA:BB:.."}     the phone appears, connected
//   {"cmd":"subscribe"}   StartNotify on the characteristic that notifies
//   {"cmd":"write","request":{...}}  a request, encoded in CBOR; or "hex":"a16143..." raw bytes;
//                         "repeat":N writes it N times, back to back
//   {"cmd":"replies","count":N,"timeout_ms":N}  waits for N more notifications:
//                         {"replies":[{"json":..,"hex":..,"ms":time since the previous}]}
//   {"cmd":"disconnect"}  the phone leaves ("Connected" false)
//   {"cmd":"provision","ssid":S,"key":K,"mesh":{"n","a","u","g"},"leave_after":"I"|"WS"|"WP"|"M",
//    "wifi_wait_ms":N}    the whole story: connect, subscribe, "I", "WS" (the networks until
//                         "WLE"), "WP" with the chosen network's encryption (until "WCS" or
//                         "WCF"), "M", "S", disconnect; returns the transcript
// Every command answers {"ok":true,...} or {"ok":false,"error":text}.
class Bluetoothd {
 public:
  explicit Bluetoothd(const std::string& bus_address = "");
  ~Bluetoothd();
  Bluetoothd(const Bluetoothd&) = delete;
  Bluetoothd& operator=(const Bluetoothd&) = delete;

  nlohmann::json Control(const nlohmann::json& command);
  AdapterObject& Adapter() { return *adapter_; }
  SimulatedPhone& Phone() { return *phone_; }

 private:
  nlohmann::json Execute(const nlohmann::json& command);

  class RootObject;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<RootObject> root_;
  std::unique_ptr<AdapterObject> adapter_;
  std::unique_ptr<SimulatedPhone> phone_;
};

}  // namespace sim::bluetoothd
