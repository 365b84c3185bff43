// The OpenWrt package's files: the procd init script is valid shell and restarts the daemon
// only for settings the daemon does not write itself, and the default /etc/config/ferrowick
// loads through the platform objects with a section for every option the daemon writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include "ipc/bus_fixture.h"
#include "nvram/nvram.h"
#include "platform/uci_package.h"
#include "platform_fixture.h"
#include "support/sandbox.h"
#include "support/subprocess.h"

namespace {

const std::string kInitScript = testing_support::SourcePath("packaging/openwrt/files/quellaron.init");
const std::string kDefaultConfig = testing_support::SourcePath("packaging/openwrt/files/ferrowick.config");

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs a command; its exit code (-1 when it did not exit normally) and its output.
int RunCommand(const std::vector<std::string>& argv, std::string& output) {
  testing_support::Subprocess process(argv);
  const auto status = process.Wait(std::chrono::seconds(30));
  output = process.Output();
  if (!status || !WIFEXITED(*status)) return -1;
  return WEXITSTATUS(*status);
}

TEST(InitScript, IsValidShell) {
  std::string output;
  EXPECT_EQ(RunCommand({"sh", "-n", kInitScript}, output), 0) << output;
}

// "uci show ferrowick" of the default file, as on a router after installing the package.
const std::string kShownDefaults =
    "ferrowick.sys=sys\n"
    "ferrowick.sys.url='https://cloud.example.com/api/v1'\n"
    "ferrowick.sys.tls_verify='1'\n"
    "ferrowick.sys.first_boot='1'\n"
    "ferrowick.sys.ota_session='2'\n"
    "ferrowick.sys.fw_check='1440'\n"
    "ferrowick.auth=auth\n"
    "ferrowick.mesh=mesh\n"
    "ferrowick.mesh.enable='0'\n"
    "ferrowick.mesh.ttl='3'\n"
    "ferrowick.mesh.group_addr='64648'\n";

std::string Replacing(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Every commit through rpcd is a "config.change" event for the package, so procd runs the
// reload for the daemon's own writes too. The reload runs here with the init script's own
// functions, "uci" answering from a file and stop/start recorded.
TEST(InitScript, ReloadRestartsTheDaemonOnlyForSettingsItDoesNotWrite) {
  struct Case {
    const char* change;
    std::string shown_after;
    bool restarts;
  };
  const std::vector<Case> cases = {
      {"a commit that changed nothing", kShownDefaults, false},
      {"the daemon stores new tokens",
       kShownDefaults + "ferrowick.auth.access_token='a'\nferrowick.auth.refresh_token='r'\n", false},
      {"the daemon stores its identity and clears first boot",
       Replacing(kShownDefaults, "first_boot='1'", "first_boot='0'") +
           "ferrowick.sys.device_id='0a1b2c3d4e5f'\nferrowick.sys.serial_number='0a1b'\n",
       false},
      {"provisioning stores the mesh keys and enables the mesh",
       Replacing(kShownDefaults, "enable='0'", "enable='1'") +
           "ferrowick.mesh.netkey='AAECAwQFBgcICQoLDA0ODw=='\nferrowick.mesh.token='42'\n",
       false},
      {"the daemon adds a PLC from the cloud's list",
       kShownDefaults + "ferrowick.@plc[0]=plc\nferrowick.@plc[0].id='7'\nferrowick.@plc[0].mem_dev='a' 'b'\n", false},
      {"a person changes the cloud URL",
       Replacing(kShownDefaults, "cloud.example.com", "cloud.example.net"), true},
      {"a person sets the client credentials", kShownDefaults + "ferrowick.auth.client_id='gateway'\n", true},
      {"a person names a CA file", kShownDefaults + "ferrowick.sys.ca_file='/etc/ssl/cloud.pem'\n", true},
      {"a person turns certificate checks off", Replacing(kShownDefaults, "tls_verify='1'", "tls_verify='0'"),
       true},
      {"a person sets a provisioning window", kShownDefaults + "ferrowick.sys.provisioning_window='15'\n", true},
  };
  const std::string directory = ipc_test::MakeTempDirectory("init-script");
  for (const auto& test : cases) {
    SCOPED_TRACE(test.change);
    std::ofstream(directory + "/before") << kShownDefaults;
    std::ofstream(directory + "/after") << test.shown_after;
    const std::string script = ". " + kInitScript + "\n" +
                               "SNAPSHOT=" + directory + "/snapshot\n"
                               "shown=" + directory + "/before\n"
                               "uci() { cat \"$shown\"; }\n"
                               "stop() { echo stopped; }\n"
                               "start() { echo started; }\n"
                               "record_settings\n"
                               "shown=" + directory + "/after\n"
                               "reload_service\n";
    std::string output;
    EXPECT_EQ(RunCommand({"sh", "-c", script}, output), 0) << output;
    EXPECT_EQ(output, test.restarts ? "stopped\nstarted\n" : "");
  }
  std::filesystem::remove_all(directory);
}

// The default file, served by the platform objects as rpcd serves /etc/config.
class DefaultConfig : public ::testing::Test {
 protected:
  const std::string text_ = ReadFile(kDefaultConfig);
  ipc_test::LogCapture log_;
  sim_ubus_test::PlatformFixture platform_{"{}", text_};
  NVRAM store_{platform_.Socket()};
};

TEST_F(DefaultConfig, LoadsThroughThePlatformObjects) {
  std::string error;
  ASSERT_TRUE(sim::platform::ParseUci(text_, error)) << error;
  store_.Init();
  EXPECT_FALSE(log_.Contains("ERROR")) << log_.Text();
  EXPECT_EQ(store_.URL(), "https://cloud.example.com/api/v1");
  EXPECT_EQ(store_.Host(), "cloud.example.com");
  EXPECT_TRUE(store_.TlsVerify());
  EXPECT_TRUE(store_.FirstBoot()) << "a new gateway reads its identity on its first start";
  EXPECT_FALSE(store_.MeshEnable());
  EXPECT_EQ(store_.TTL(), 3);
  EXPECT_EQ(store_.GroupAddr(), 0xFC88);
  EXPECT_EQ(store_.OTASession(), 2u);
  EXPECT_EQ(store_.FWCheck(), 1440u);
  EXPECT_TRUE(store_.PLCList().empty());
}

// rpcd's "set" refuses an option of a missing section, and the store ignores the failure:
// without the section, what the daemon learns (tokens, identity, mesh keys) is lost at the
// next start. Every write of the store into its own package, with a value that differs
// from the default; the PLC sections are anonymous and added whole, and the writes into
// OpenWrt's own packages (hostname, Wi-Fi) go to sections of those packages.
TEST_F(DefaultConfig, HoldsTheSectionOfEveryOptionTheDaemonWrites) {
  const std::vector<std::uint8_t> key{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const std::string key_text = "AAECAwQFBgcICQoLDA0ODw==";
  struct Write {
    std::string section;
    std::string option;
    std::string stored;
    std::function<void(NVRAM&)> write;
  };
  const std::vector<Write> writes = {
      {"auth", "access_token", "access", [](NVRAM& store) { store.AccessToken("access"); }},
      {"auth", "refresh_token", "refresh", [](NVRAM& store) { store.RefreshToken("refresh"); }},
      {"mesh", "enable", "1", [](NVRAM& store) { store.MeshEnable(true); }},
      {"mesh", "net_idx", "1", [](NVRAM& store) { store.NetIdx(1); }},
      {"mesh", "net_addr", "1", [](NVRAM& store) { store.NetAddr(1); }},
      {"mesh", "group_addr", "51712", [](NVRAM& store) { store.GroupAddr(0xCA00); }},
      {"mesh", "token", "18446744073709551615",
       [](NVRAM& store) { store.Token(std::numeric_limits<std::uint64_t>::max()); }},
      {"mesh", "ttl", "7", [](NVRAM& store) { store.TTL(7); }},
      {"mesh", "netkey", key_text, [&](NVRAM& store) { store.MeshNetKey(key); }},
      {"mesh", "appkey", key_text, [&](NVRAM& store) { store.MeshAppKey(key_text); }},
      {"mesh", "devkey", key_text, [&](NVRAM& store) { store.MeshDevKey(key); }},
      {"sys", "device_id", "0a1b2c3d4e5f", [](NVRAM& store) { store.DeviceID("0a1b2c3d4e5f"); }},
      {"sys", "serial_number", "0a1b2c3d4e5f0001", [](NVRAM& store) { store.SerialNumber("0a1b2c3d4e5f0001"); }},
      {"sys", "first_boot", "0", [](NVRAM& store) { store.ClearFirstBoot(); }},
      {"sys", "ota_session", "4", [](NVRAM& store) { store.OTASession(4); }},
      {"sys", "fw_check", "60", [](NVRAM& store) { store.FWCheck(60); }},
  };
  std::string error;
  auto defaults = sim::platform::ParseUci(text_, error);
  ASSERT_TRUE(defaults) << error;
  store_.Init();
  for (const auto& write : writes) {
    EXPECT_NE(defaults->Find(write.section), nullptr)
        << "no section '" << write.section << "' for option " << write.option;
    write.write(store_);
  }

  auto stored = sim::platform::ParseUci(platform_.ReadConfig("ferrowick"), error);
  ASSERT_TRUE(stored) << error;
  for (const auto& write : writes) {
    const sim::platform::UciSection* section = stored->Find(write.section);
    const sim::platform::UciOption* option = section != nullptr ? section->Find(write.option) : nullptr;
    if (option == nullptr) {
      ADD_FAILURE() << write.section << "." << write.option << " was not stored";
      continue;
    }
    EXPECT_EQ(option->values, std::vector<std::string>{write.stored}) << write.section << "." << write.option;
  }
}

}  // namespace
