// The stand-in mesh daemon: owns "org.bluez.mesh" on the system bus (or the bus given), keeps
// its nodes in a state file, and takes commands on a control socket (see mesh_daemon.h).
// Runs until SIGTERM or SIGINT.
//
//   sim-meshd [--bus ADDRESS] [--state FILE] [--control SOCKET] [--ready FILE]
//             [--sensors N] [--three-channel-every M] [--sensor-minute-ms MS]
//
// --ready FILE: written once the name is owned, for scripts that wait for it.
// --sensors N: simulated sensor nodes in radio range (every M-th a three-channel device,
// default 3); --sensor-minute-ms: how long one fold minute lasts for them (default 60000).

#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "meshd/mesh_daemon.h"
#include "standin/stop_signals.h"

namespace {

struct Arguments {
  sim::meshd::MeshDaemonOptions options;
  std::string ready_file;
};

Arguments ParseArguments(int argc, char** argv) {
  Arguments arguments;
  for (int index = 1; index < argc; ++index) {
    const std::string name = argv[index];
    if (index + 1 >= argc) throw std::invalid_argument("missing value after " + name);
    const std::string value = argv[++index];
    if (sim::meshd::ParseSensorOption(name, value, arguments.options.sensors)) continue;
    if (name == "--bus") {
      arguments.options.bus_address = value;
    } else if (name == "--state") {
      arguments.options.state_file = value;
    } else if (name == "--control") {
      arguments.options.control_socket = value;
    } else if (name == "--ready") {
      arguments.ready_file = value;
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  return arguments;
}

}  // namespace

int main(int argc, char** argv) {
  const sim::standin::StopSignals stop_signals;  // before any thread starts
  try {
    const Arguments arguments = ParseArguments(argc, argv);
    sim::meshd::MeshDaemon daemon(arguments.options);
    daemon.Start();
    if (!arguments.ready_file.empty()) std::ofstream(arguments.ready_file) << "ready\n";
    std::cout << "owning " << sim::meshd::MeshDaemon::kBusName << std::endl;
    std::cout << "stopping on signal " << stop_signals.Wait() << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "sim-meshd: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
