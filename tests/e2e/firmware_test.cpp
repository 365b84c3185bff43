// The daemon in its sandbox with the stand-in firmware host and the recording OpenWrt tools,
// signing on (the sandbox gives the daemon the firmware host's public key): 10 s after start
// it fetches the firmware document of the sandbox scenario, downloads the device image and
// its signature, checks both and offers the image in blocks, installs the newer "APP"
// package through opkg, and flashes a newer system image through sysupgrade, each file
// removed from its download folder once used. Images whose signature is bad or missing are
// refused. About 20 s each.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cloud/control_client.h"
#include "sandboxed_gateway.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

const std::string kImage = "sensor-node_1.0.1-0.bin";
const std::string kPackage = "quellaron-app_1.0.1-1_mipsel_24kc.ipk";
const std::string kSystem = "openwrt-24.10.5-sysupgrade.bin";
const std::string kFolder = "/var/quellaron-firmware/";

class SandboxedFirmware : public testing_support::SandboxedGateway {
 protected:
  sim::cloud::ControlClient Cloud() const { return sim::cloud::ControlClient(Root() + "/run/sim/cloud.sock"); }

  // Before the first check (10 s after start): a newer system release than the board's
  // 24.10.4, `file` its entry at the firmware host.
  void OfferSystem(const json& file) const {
    const json scenario = Cloud().Call("GET", "/scenario");
    json gateway = scenario.at("firmware_conf").at("gateway");
    gateway.push_back({{"type", "SYSTEM"}, {"name", kSystem}, {"version", "24.10.5"}});
    Cloud().Call("PATCH", "/scenario",
                 {{"firmware_conf", {{"gateway", gateway}}}, {"firmware_files", {{kSystem, file}}}});
  }

  std::size_t SignatureRequests() const {
    std::size_t count = 0;
    for (const auto& request : Cloud().Requests()) {
      const std::string target = request.at("target");
      if (target.size() > 4 && target.compare(target.size() - 4, 4, ".sig") == 0) ++count;
    }
    return count;
  }
};

}  // namespace

TEST_F(SandboxedFirmware, ImagesAreOfferedAndTheGatewayUpgradedThroughItsTools) {
  OfferSystem({{"content", "system image 24.10.5"}});

  // The system image comes last in the document; the tool records the call before the copy.
  ASSERT_TRUE(WaitUntil([&] { return !File("/var/log/sim/sysupgrade/" + kSystem).empty(); }, 40s)) << daemon_->Output();
  ASSERT_TRUE(daemon_->WaitForOutput("-c " + kFolder + kSystem + " succeeded", 10s)) << daemon_->Output();
  const std::string output = daemon_->Output();
  EXPECT_NE(output.find("type : 1"), std::string::npos);
  EXPECT_NE(output.find("version : 1.0.1-0"), std::string::npos);
  EXPECT_NE(output.find("size : 256"), std::string::npos);  // 4096 bytes
  EXPECT_EQ(output.find("refused"), std::string::npos) << output;
  EXPECT_EQ(SignatureRequests(), 3u);  // every image came with its signature
  EXPECT_EQ(File(kFolder + kImage), "");  // served from memory: the folder keeps nothing
  EXPECT_EQ(File(kFolder + kPackage), "");

  const std::string tools = File("/var/log/sim/tools.log");
  EXPECT_NE(tools.find("opkg list-installed quellaron-app"), std::string::npos) << tools;
  EXPECT_NE(tools.find("opkg install " + kFolder + kPackage), std::string::npos) << tools;
  EXPECT_NE(tools.find("/sbin/sysupgrade -c " + kFolder + kSystem), std::string::npos) << tools;
  EXPECT_NE(File("/var/lib/sim/opkg-installed").find("quellaron-app - 1.0.1-1"), std::string::npos);
  EXPECT_EQ(File("/var/log/sim/opkg/" + kPackage), "stand-in package quellaron-app 1.0.1-1\n");
  EXPECT_EQ(File("/var/log/sim/sysupgrade/" + kSystem), "system image 24.10.5");

  // The document came from the firmware host without the cloud's token.
  bool fetched = false;
  for (const auto& request : Cloud().Requests()) {
    if (request.at("target") != "/firmware.conf") continue;
    fetched = true;
    EXPECT_EQ(request.at("headers").dump().find("Authorization"), std::string::npos);
  }
  EXPECT_TRUE(fetched);
}

TEST_F(SandboxedFirmware, ImagesWithoutAValidSignatureAreRefused) {
  Cloud().Call("PATCH", "/scenario",
               {{"firmware_files", {{kImage, {{"signature", "bad"}}}, {kPackage, {{"signature", "missing"}}}}}});
  OfferSystem({{"content", "tampered system image"}, {"signature", "bad"}});

  ASSERT_TRUE(daemon_->WaitForOutput("Firmware " + kSystem + " refused", 40s)) << daemon_->Output();
  const std::string output = daemon_->Output();
  EXPECT_NE(output.find("Firmware " + kImage + " refused: its signature does not match the signing key"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("Firmware " + kPackage + " refused: no signature"), std::string::npos) << output;
  EXPECT_EQ(output.find("type : 1"), std::string::npos) << "the device image is not offered";
  const std::string tools = File("/var/log/sim/tools.log");
  EXPECT_EQ(tools.find("opkg install"), std::string::npos) << tools;
  EXPECT_EQ(tools.find("sysupgrade"), std::string::npos) << tools;
  EXPECT_EQ(File(kFolder + kImage), "");
  EXPECT_EQ(File(kFolder + kSystem), "");
}
