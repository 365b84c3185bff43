#include "sim-cloud/stand_in_cloud.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "log/logger.h"
#include "support/sandbox.h"
#include "support/temp_directory.h"

namespace testing_support {

ScratchDirectory::ScratchDirectory() : path_(MakeTempDirectory("quellaron-cloud")) {}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<TlsVerificationCase> TlsVerificationCases(const std::string& stand_in_ca, const std::string& other_ca) {
  return {
      {"off, unknown CA", false, other_ca, true},
      {"on, the server's CA", true, stand_in_ca, true},
      {"on, another CA", true, other_ca, false},
      {"on, system store", true, "", false},
  };
}

void MakeCertificate(const std::string& directory) {
  const std::string command = "/bin/sh " + SourcePath("sim/cloud/make-certificate") + " " + directory + " localhost firmware.test.localhost";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("certificate not made: " + command);
}

void MakeSigningKey(const std::string& directory) {
  const std::string command = "/bin/sh " + SourcePath("sim/cloud/make-signing-key") + " " + directory;
  if (std::system(command.c_str()) != 0) throw std::runtime_error("signing key not made: " + command);
}

namespace {

sim::cloud::ServerOptions Options(const std::string& directory, std::chrono::milliseconds ping_interval) {
  MakeCertificate(directory);
  MakeSigningKey(directory);
  sim::cloud::ServerOptions options;
  options.listen.emplace_back(sim::cloud::net::ip::make_address("127.0.0.1"), 0);
  options.certificate = directory + "/cert.pem";
  options.private_key = directory + "/key.pem";
  options.control_socket = directory + "/control.sock";
  options.signing_key = directory + "/signing-key.pem";
  options.ping_interval = ping_interval;
  return options;
}

}  // namespace

StandInCloud::StandInCloud(std::chrono::milliseconds ping_interval)
    : server_(std::make_unique<sim::cloud::CloudServer>(Options(scratch_.Path(), ping_interval))),
      control_(scratch_.Path() + "/control.sock") {
  server_->Start();
  port_ = server_->Ports().at(0);
}

std::string StandInCloud::SigningKey() const {
  std::ifstream file(scratch_.Path() + "/signing-key.pub");
  std::string key;
  std::getline(file, key);
  return key;
}

nlohmann::json StandInCloud::RequestsTo(const std::string& part) const {
  nlohmann::json matching = nlohmann::json::array();
  for (const auto& request : control_.Requests()) {
    if (!request.at("websocket").get<bool>() && request.at("target").get<std::string>().find(part) != std::string::npos) {
      matching.push_back(request);
    }
  }
  return matching;
}

LogCapture::LogCapture() : console_(std::fopen("/dev/null", "w")) {
  logging::Settings settings;
  settings.file_path = scratch_.Path() + "/quellaron.log";
  settings.console = console_;
  logging::Start(settings);
}

LogCapture::~LogCapture() {
  logging::Stop();
  if (console_ != nullptr) std::fclose(console_);
}

std::string LogCapture::Text() const {
  std::ifstream file(scratch_.Path() + "/quellaron.log");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::size_t LogCapture::Count(const std::string& part) const {
  const std::string text = Text();
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace testing_support
