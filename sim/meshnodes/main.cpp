// Simulated sensor nodes for the real BlueZ mesh daemon: each a node of its own in the
// daemon (its own application, UUID, keys and address), the gateway's sensors as sim-meshd
// simulates them, their traffic through the daemon's network and transport layers. They join
// when a control command hands them the network's keys. Runs until SIGTERM or SIGINT.
//
//   sim-meshnodes [--bus ADDRESS] [--control SOCKET] [--ready FILE]
//                 [--sensors N] [--three-channel-every M] [--sensor-minute-ms MS]
//
// --bus: the bus the mesh daemon is on (default: the system bus); --ready FILE: written once
// the nodes' applications are on the bus; --sensors N: the nodes (every M-th a three-channel
// device, default 3); --sensor-minute-ms: how long one fold minute lasts for them.
// Control commands: see meshnodes/mesh_nodes.h.

#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "meshnodes/mesh_nodes.h"
#include "standin/stop_signals.h"

namespace {

// What the command line asks for: the file to write once ready, and the nodes.
struct CommandLine {
  std::string ready_file;
  sim::meshnodes::MeshNodesOptions options;
};

CommandLine ParseArguments(int argc, char** argv) {
  CommandLine arguments;
  const std::map<std::string, std::string*> text_options{{"--bus", &arguments.options.bus_address},
                                                         {"--control", &arguments.options.control_socket},
                                                         {"--ready", &arguments.ready_file}};
  if (argc % 2 == 0) throw std::invalid_argument(std::string("missing value after ") + argv[argc - 1]);
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index];
    const std::string value = argv[index + 1];
    if (sim::meshd::ParseSensorOption(name, value, arguments.options.sensors)) continue;
    const auto option = text_options.find(name);
    if (option == text_options.end()) throw std::invalid_argument("unknown option " + name);
    *option->second = value;
  }
  return arguments;
}

}  // namespace

int main(int argc, char** argv) {
  const sim::standin::StopSignals stop_signals;  // before any thread starts
  CommandLine arguments;
  try {
    arguments = ParseArguments(argc, argv);
    const sim::meshnodes::MeshNodes nodes(arguments.options);
    if (!arguments.ready_file.empty()) std::ofstream(arguments.ready_file) << "ready\n";
    std::cout << arguments.options.sensors.sensors << " simulated sensor nodes, waiting for the network's keys"
              << std::endl;
    const int signal = stop_signals.Wait();
    std::cout << "stopping on signal " << signal << std::endl;
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "sim-meshnodes: " << error.what() << std::endl;
    return 1;
  }
}
