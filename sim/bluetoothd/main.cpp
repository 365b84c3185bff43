// The stand-in bluetoothd: "org.bluez" on the system bus (or the bus at --bus ADDRESS), with
// a simulated phone driven through the control socket (commands in bluetoothd.h). Runs until
// SIGTERM or SIGINT.
//
//   sim-bluetoothd [--bus ADDRESS] [--control SOCKET]

#include <iostream>
#include <stdexcept>
#include <string>

#include "bluetoothd/bluetoothd.h"
#include "standin/control_socket.h"
#include "standin/stop_signals.h"

int main(int argc, char** argv) {
  const sim::standin::StopSignals stop_signals;  // before any thread starts
  try {
    std::string bus;
    std::string control;
    for (int index = 1; index < argc; ++index) {
      const std::string name = argv[index];
      if (index + 1 >= argc) throw std::invalid_argument("missing value after " + name);
      const std::string value = argv[++index];
      if (name == "--bus") {
        bus = value;
      } else if (name == "--control") {
        control = value;
      } else {
        throw std::invalid_argument("unknown option " + name);
      }
    }
    sim::bluetoothd::Bluetoothd bluetoothd(bus);
    std::unique_ptr<sim::standin::ControlSocket> server;
    if (!control.empty()) {
      server = std::make_unique<sim::standin::ControlSocket>(
          control, [&](const nlohmann::json& command) { return bluetoothd.Control(command); });
    }
    std::cout << "ready" << std::endl;
    std::cout << "stopping on signal " << stop_signals.Wait() << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "sim-bluetoothd: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
