#include "platform_fixture.h"

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ipc/connection.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace sim_ubus_test {

const char* const kExamplePackage =
    "config sys 'sys'\n\toption url 'https://cloud.example.test/api/v1'\n\toption first_boot '1'\n\n"
    "config mesh 'mesh'\n\toption ttl '5'\n\n"
    "config plc\n\toption id '7'\n\toption name 'line1'\n\toption vendor 'ls'\n\toption proto 'tcp'\n"
    "\toption ip '192.168.10.20'\n\toption base '0'\n\toption slot '1'\n\tlist mem_dev 'a.b.W.D.1'\n";

PlatformFixture::PlatformFixture(const std::string& scenario, const std::string& package)
    : directory_(ipc_test::MakeTempDirectory("platform")) {
  std::filesystem::create_directories(directory_ + "/config");
  std::ofstream(ConfigFile("ferrowick")) << package;
  std::ofstream(ConfigFile("system")) << "\nconfig system\n\toption hostname 'OpenWrt'\n\n";
  std::ofstream(ConfigFile("wireless")) << "\nconfig wifi-iface 'default_radio0'\n\toption ssid 'OpenWrt'\n\n";
  std::ofstream(directory_ + "/scenario.json") << scenario;
  platform_ = std::make_unique<testing_support::Subprocess>(std::vector<std::string>{
      testing_support::BuildPath("sim/platform/platformd"), "-s", broker_.Socket(), "-c", directory_ + "/config",
      "-S", directory_ + "/scenario.json"});
  const bool ready = testing_support::WaitUntil([&] {
    ipc::Connection probe(broker_.Socket());
    std::uint32_t id = 0;
    return probe.LookupId("platform", id, std::chrono::seconds(2)) == ipc::kOk;
  });
  if (!ready) throw std::runtime_error("the platform objects did not appear: " + platform_->Output());
}

PlatformFixture::~PlatformFixture() {
  platform_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void PlatformFixture::RestartBroker() {
  broker_.Kill();
  broker_.Restart();
}

std::string PlatformFixture::ConfigFile(const std::string& package) const { return directory_ + "/config/" + package; }

std::string PlatformFixture::ReadConfig(const std::string& package) const {
  std::ifstream file(ConfigFile(package));
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

int PlatformFixture::Cli(const std::vector<std::string>& arguments, std::string& output) const {
  std::vector<std::string> argv{testing_support::BuildPath("sim/ubus-cli/ubus"), "-s", broker_.Socket()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  testing_support::Subprocess cli(argv);
  const auto status = cli.Wait(std::chrono::seconds(30));
  output = cli.Output();
  if (!status || !WIFEXITED(*status)) return -1;
  return WEXITSTATUS(*status);
}

}  // namespace sim_ubus_test
