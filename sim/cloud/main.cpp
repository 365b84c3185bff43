// The stand-in cloud: the REST endpoints, the channel endpoint and the firmware host
// over HTTPS, with a control interface on a local socket. Runs until SIGTERM or SIGINT.
//
//   sim-cloud --cert PEM --key PEM [--listen ADDR:PORT]... [--control SOCKET]
//             [--scenario JSON-FILE] [--files DIR] [--api-prefix /api/v1] [--ping-interval-ms 3000]
//             [--signing-key PEM]   (an Ed25519 private key: NAME.sig is served signed with it)
#include <csignal>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "standin/stop_signals.h"
#include "cloud/cloud_server.h"

namespace {

using sim::cloud::ServerOptions;

sim::cloud::tcp::endpoint ParseEndpoint(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) throw std::invalid_argument("expected ADDRESS:PORT, got " + text);
  const auto address = sim::cloud::net::ip::make_address(text.substr(0, colon));
  return {address, static_cast<unsigned short>(std::stoul(text.substr(colon + 1)))};
}

ServerOptions ParseArguments(int argc, char** argv) {
  ServerOptions options;
  for (int index = 1; index < argc; ++index) {
    const std::string name = argv[index];
    if (index + 1 >= argc) throw std::invalid_argument("missing value after " + name);
    const std::string value = argv[++index];
    if (name == "--listen") {
      options.listen.push_back(ParseEndpoint(value));
    } else if (name == "--cert") {
      options.certificate = value;
    } else if (name == "--key") {
      options.private_key = value;
    } else if (name == "--control") {
      options.control_socket = value;
    } else if (name == "--scenario") {
      options.scenario = nlohmann::json::parse(std::ifstream(value));
    } else if (name == "--signing-key") {
      options.signing_key = value;
    } else if (name == "--files") {
      options.files_directory = value;
    } else if (name == "--api-prefix") {
      options.api_prefix = value;
    } else if (name == "--ping-interval-ms") {
      options.ping_interval = std::chrono::milliseconds(std::stol(value));
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  if (options.certificate.empty() || options.private_key.empty()) throw std::invalid_argument("--cert and --key are required");
  if (options.listen.empty()) options.listen.push_back(ParseEndpoint("127.0.0.1:443"));
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const sim::standin::StopSignals stop_signals;  // before any thread starts
  try {
    sim::cloud::CloudServer server(ParseArguments(argc, argv));
    server.Start();
    std::cout << "ready" << std::endl;
    std::cout << "stopping on signal " << stop_signals.Wait() << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "sim-cloud: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
