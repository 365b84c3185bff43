// The stand-in PLC: a FEnet module on TCP (port 2004 by default) answering reads of 1 to 16
// variables, with a control socket (commands in plc_server.h). Runs until SIGTERM or SIGINT.
//
//   sim-plc [--listen ADDR:PORT] [--base N] [--slot N] [--control SOCKET] [--setup JSON-FILE]

#include <csignal>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "standin/stop_signals.h"
#include "plc/plc_server.h"

namespace {

sim::plc::ServerOptions ParseArguments(int argc, char** argv) {
  sim::plc::ServerOptions options;
  for (int index = 1; index < argc; ++index) {
    const std::string name = argv[index];
    if (index + 1 >= argc) throw std::invalid_argument("missing value after " + name);
    const std::string value = argv[++index];
    if (name == "--listen") {
      const auto colon = value.rfind(':');
      if (colon == std::string::npos) throw std::invalid_argument("expected ADDRESS:PORT, got " + value);
      options.listen = {sim::plc::net::ip::make_address(value.substr(0, colon)),
                        static_cast<unsigned short>(std::stoul(value.substr(colon + 1)))};
    } else if (name == "--base") {
      options.base = static_cast<std::uint8_t>(std::stoul(value));
    } else if (name == "--slot") {
      options.slot = static_cast<std::uint8_t>(std::stoul(value));
    } else if (name == "--control") {
      options.control_socket = value;
    } else if (name == "--setup") {
      options.setup = nlohmann::json::parse(std::ifstream(value));
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const sim::standin::StopSignals stop_signals;  // before any thread starts
  try {
    sim::plc::PlcServer server(ParseArguments(argc, argv));
    server.Start();
    std::cout << "ready on port " << server.Port() << std::endl;
    std::cout << "stopping on signal " << stop_signals.Wait() << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "sim-plc: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
