#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>

#include "support/sandbox.h"
#include "support/subprocess.h"

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
