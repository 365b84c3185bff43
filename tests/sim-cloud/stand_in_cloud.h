#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cloud/cloud_server.h"
#include "cloud/control_client.h"

namespace testing_support {

// A scratch directory removed with the object.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Makes a fresh self-signed certificate in `directory` (cert.pem, key.pem) with the
// stand-in's own script.
void MakeCertificate(const std::string& directory);
// Makes a fresh firmware signing key pair in `directory` (signing-key.pem, signing-key.pub)
// with the stand-in's own script.
void MakeSigningKey(const std::string& directory);

// One setting of certificate verification and whether a client so set accepts the
// stand-in's certificate.
struct TlsVerificationCase {
  std::string name;
  bool verify;
  std::string ca_file;
  bool accepted;
};

// Verification off with an unknown CA, on with the stand-in's own CA, on with another CA,
// and on with the system's store (which does not trust the stand-in in a test process).
std::vector<TlsVerificationCase> TlsVerificationCases(const std::string& stand_in_ca, const std::string& other_ca);

// The stand-in cloud running in this process on a free loopback port, with a fresh
// certificate, a fresh firmware signing key and its control socket in a scratch directory.
class StandInCloud {
 public:
  explicit StandInCloud(std::chrono::milliseconds ping_interval = std::chrono::milliseconds(3000));

  unsigned short Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string BaseURL() const { return "https://" + HostPort() + "/api/v1"; }
  std::string Directory() const { return scratch_.Path(); }
  // The public key the firmware host's files are signed with (Base64, sys.firmware_key's form).
  std::string SigningKey() const;
  const sim::cloud::ControlClient& Control() const { return control_; }

  // The recorded REST requests (channel handshakes left out) whose path contains `part`.
  nlohmann::json RequestsTo(const std::string& part) const;

 private:
  ScratchDirectory scratch_;
  std::unique_ptr<sim::cloud::CloudServer> server_;
  unsigned short port_ = 0;
  sim::cloud::ControlClient control_;
};

// Captures the daemon's log in a file for the life of the object.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string Text() const;
  bool Contains(const std::string& part) const { return Text().find(part) != std::string::npos; }
  // How often the log holds `part`.
  std::size_t Count(const std::string& part) const;

 private:
  ScratchDirectory scratch_;
  std::FILE* console_ = nullptr;
};

}  // namespace testing_support
