#include <sys/wait.h>

#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "cloud/control_client.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::BuildPath;
using testing_support::SourcePath;

namespace {

// One HTTPS request from inside the sandbox, verified against the sandbox's CA bundle and
// the host name, as the daemon's own downloads are.
std::string VerifiedGet(const std::string& host, const std::string& path) {
  return "printf 'GET " + path + " HTTP/1.1\\r\\nHost: " + host +
         "\\r\\nConnection: close\\r\\n\\r\\n' | openssl s_client -quiet -verify_return_error -verify_hostname " +
         host + " -connect " + host + ":443 2>/dev/null; echo \" exit=$?\"; ";
}

}  // namespace

TEST(SandboxCloud, DeploymentHostsReachTheStandInWithATrustedCertificate) {
  const std::string script = VerifiedGet("cloud.example.com", "/api/v1/devices/none") +
                             VerifiedGet("firmware.example.com", "/firmware.conf");
  testing_support::Subprocess sandbox({"/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", BuildPath(""), "--",
                                       "/bin/sh", "-c", script});
  const auto status = sandbox.Wait(60s);
  ASSERT_TRUE(status.has_value()) << sandbox.Output();
  const std::string output = sandbox.Output();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << output;
  EXPECT_NE(output.find(R"({"error":"not found"} exit=0)"), std::string::npos) << output;
  EXPECT_NE(output.find(R"("url":"https://firmware.example.com/files"} exit=0)"), std::string::npos) << output;
}

// With tokens stored (the sandbox's settings hold the device id), the daemon reaches the
// stand-in cloud at start-up, opens the channel with its token and subscribes to its gateway
// channel; with certificate verification on as well, since the sandbox's CA store trusts the
// stand-in.
class SandboxCloudDaemon : public ::testing::TestWithParam<bool> {};

TEST_P(SandboxCloudDaemon, DaemonWithStoredTokensSubscribesToItsGatewayChannel) {
  const std::string verify = GetParam() ? "\\n\\toption tls_verify '1'" : "";
  const std::string store_tokens =
      "sed -i \"s/^config auth 'auth'/&\\n\\toption access_token 'tok-sim'\\n\\toption refresh_token 'ref-sim'/;"
      " s/^config sys 'sys'/&" + verify + "/\" /etc/config/ferrowick;"
      " exec \"$0\"";
  testing_support::Subprocess daemon({"/bin/bash", SourcePath("sim/sandbox/sandbox"), "--build", BuildPath(""), "--",
                                      "/bin/sh", "-c", store_tokens, BuildPath("src/app/quellaron")});
  ASSERT_TRUE(daemon.WaitForOutput("Connection opened : quellaron-cloud-standin", 60s)) << daemon.Output();
  const sim::cloud::ControlClient control("/proc/" + std::to_string(daemon.Pid()) + "/root/run/sim/cloud.sock");
  const std::string subscription =
      R"({"command":"subscribe","identifier":"{\"channel\":\"GatewayChannel\",\"device_id\":\"0a1b2c3d4e5f\"}"})";
  EXPECT_TRUE(testing_support::WaitUntil([&] {
    const auto channels = control.Channels();
    return !channels.empty() && !channels[0].at("received").empty() &&
           channels[0].at("received")[0] == subscription;
  })) << control.Channels().dump(1);
  EXPECT_EQ(control.Channels()[0].at("target"), "/cable?access_token=tok-sim");
  daemon.Signal(SIGTERM);
  EXPECT_TRUE(daemon.Wait(30s).has_value());
}

INSTANTIATE_TEST_SUITE_P(Verification, SandboxCloudDaemon, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "Verified" : "Unverified"; });
