#include "cloud/cloud_server.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cloud/control_server.h"
#include "cloud/image_signer.h"
#include "cloud/listener.h"

namespace sim::cloud {

CloudServer::CloudServer(ServerOptions options)
    : options_(std::move(options)),
      work_(net::make_work_guard(io_)),
      tls_(ssl::context::tls_server),
      hub_(options_.api_prefix, options_.ping_interval),
      control_api_(hub_, [this](bool refuse) { Refuse(refuse); }) {
  tls_.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3);
  tls_.use_certificate_chain_file(options_.certificate);
  tls_.use_private_key_file(options_.private_key, ssl::context::pem);
  hub_.State().ReplaceScenario(options_.scenario);
  if (!options_.signing_key.empty()) hub_.State().SignFiles(std::make_shared<ImageSigner>(options_.signing_key));
  LoadFiles();
}

CloudServer::~CloudServer() {
  io_.stop();
  if (thread_.joinable()) thread_.join();
}

void CloudServer::Start() {
  for (const auto& endpoint : options_.listen) {
    auto listener = std::make_shared<Listener>(io_, tls_, hub_, endpoint);
    listener->Open();
    listeners_.push_back(std::move(listener));
  }
  if (!options_.control_socket.empty()) {
    control_ = std::make_shared<ControlServer>(io_, control_api_, options_.control_socket);
    control_->Open();
  }
  thread_ = std::thread([this] { io_.run(); });
}

std::vector<unsigned short> CloudServer::Ports() const {
  std::vector<unsigned short> ports;
  for (const auto& listener : listeners_) ports.push_back(listener->Port());
  return ports;
}

void CloudServer::LoadFiles() {
  if (options_.files_directory.empty()) return;
  for (const auto& entry : std::filesystem::directory_iterator(options_.files_directory)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    hub_.State().PutFile(entry.path().filename().string(), content.str());
  }
}

void CloudServer::Refuse(bool refuse) {
  for (auto& listener : listeners_) listener->Refuse(refuse);
}

}  // namespace sim::cloud
