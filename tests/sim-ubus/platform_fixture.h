#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ipc/bus_fixture.h"
#include "support/subprocess.h"

namespace sim_ubus_test {

extern const char* const kExamplePackage;

// The broker plus the platform objects over a private configuration directory holding a
// gateway package (the example one unless given), "system" and "wireless".
class PlatformFixture {
 public:
  explicit PlatformFixture(const std::string& scenario = R"({"wireless":{"apply_delay_ms":200}})",
                           const std::string& package = kExamplePackage);
  ~PlatformFixture();

  const std::string& Socket() const { return broker_.Socket(); }
  // Kills the broker and starts a fresh one on the same socket, as procd respawns ubusd.
  void RestartBroker();
  std::string PlatformOutput() const { return platform_->Output(); }
  std::string ConfigFile(const std::string& package) const;
  std::string ReadConfig(const std::string& package) const;
  // Runs the bus CLI on this bus; returns its exit code and its output (both streams).
  int Cli(const std::vector<std::string>& arguments, std::string& output) const;

 private:
  ipc_test::BrokerProcess broker_;
  std::string directory_;
  std::unique_ptr<testing_support::Subprocess> platform_;
};

}  // namespace sim_ubus_test
