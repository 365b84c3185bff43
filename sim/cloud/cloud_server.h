#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cloud/cloud_hub.h"
#include "cloud/control_api.h"
#include "cloud/net.h"

namespace sim::cloud {

class ControlServer;
class Listener;

struct ServerOptions {
  std::vector<tcp::endpoint> listen;  // port 0 picks a free port
  std::string certificate;            // PEM files
  std::string private_key;
  std::string control_socket;
  std::string api_prefix = "/api/v1";
  std::chrono::milliseconds ping_interval{3000};
  nlohmann::json scenario = nlohmann::json::object();
  std::string files_directory;  // files served to the firmware host, by name
  std::string signing_key;      // Ed25519 private key (PEM) signing them; empty: no signatures
};

// The stand-in cloud: HTTPS and the channel endpoint on every listening address, and the
// control interface, all on one I/O thread of its own.
class CloudServer {
 public:
  explicit CloudServer(ServerOptions options);
  ~CloudServer();
  CloudServer(const CloudServer&) = delete;
  CloudServer& operator=(const CloudServer&) = delete;

  // Binds every socket (throws on failure), then starts the I/O thread.
  void Start();
  // The bound ports, in the order of ServerOptions::listen.
  std::vector<unsigned short> Ports() const;

 private:
  void LoadFiles();
  void Refuse(bool refuse);

  ServerOptions options_;
  net::io_context io_;
  net::executor_work_guard<net::io_context::executor_type> work_;
  ssl::context tls_;
  CloudHub hub_;
  ControlApi control_api_;
  std::vector<std::shared_ptr<Listener>> listeners_;
  std::shared_ptr<ControlServer> control_;
  std::thread thread_;
};

}  // namespace sim::cloud
