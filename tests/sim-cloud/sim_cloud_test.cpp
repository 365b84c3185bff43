#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "cloud/control_client.h"
#include "curl/request.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/sandbox.h"
#include "support/subprocess.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::BuildPath;
using testing_support::ScratchDirectory;
using testing_support::Subprocess;

namespace {

curl::response Post(const std::string& url, const std::string& body) {
  const curl::header_list headers({"cache-control: no-cache", "Content-Type: application/json"});
  return curl::perform_request("POST", url.c_str(), headers, body.c_str(), 5s);
}

}  // namespace

// The binary as the sandbox runs it: scenario file, control socket, refusal, and SIGTERM.
TEST(SimCloudBinary, ServesRecordsRefusesAndStopsOnSigterm) {
  ScratchDirectory scratch;
  testing_support::MakeCertificate(scratch.Path());
  {
    std::ofstream scenario(scratch.Path() + "/scenario.json");
    scenario << R"({"devices":{"gw1":{"plcs":[{"id":1}]}}})";
  }
  const std::string control_path = scratch.Path() + "/control.sock";
  Subprocess cloud({BuildPath("sim/cloud/sim-cloud"), "--cert", scratch.Path() + "/cert.pem", "--key",
                    scratch.Path() + "/key.pem", "--listen", "127.0.0.1:0", "--control", control_path, "--scenario",
                    scratch.Path() + "/scenario.json"});
  ASSERT_TRUE(cloud.WaitForOutput("ready\n", 20000ms)) << cloud.Output();
  std::smatch port;
  const std::string output = cloud.Output();
  ASSERT_TRUE(std::regex_search(output, port, std::regex("listening 127\\.0\\.0\\.1:(\\d+)"))) << output;
  const std::string base = "https://127.0.0.1:" + port[1].str() + "/api/v1";
  const sim::cloud::ControlClient control(control_path);

  const curl::header_list headers;
  const auto [plcs, status] = curl::perform_request("GET", (base + "/devices/gw1").c_str(), headers, nullptr);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(plcs, R"({"plcs":[{"id":1}]})");
  EXPECT_EQ(Post(base + "/gateways/hb", R"({"n":1})").second, 200);

  control.Call("POST", "/refuse", json{{"refuse", true}});
  EXPECT_EQ(Post(base + "/gateways/hb", "{}").second, 7) << "connection refused";
  control.Call("POST", "/refuse", json{{"refuse", false}});
  EXPECT_EQ(Post(base + "/gateways/hb", R"({"n":2})").second, 200);

  const auto requests = control.Requests();
  ASSERT_EQ(requests.size(), 3u) << requests.dump(1);
  EXPECT_EQ(requests[1].at("request_line"), "POST /api/v1/gateways/hb HTTP/1.1");
  EXPECT_EQ(requests[1].at("body"), R"({"n":1})");
  EXPECT_EQ(requests[2].at("body"), R"({"n":2})");
  EXPECT_THROW(control.Call("GET", "/no-such-thing"), std::runtime_error);

  cloud.Signal(SIGTERM);
  const auto ended = cloud.Wait(10000ms);
  ASSERT_TRUE(ended.has_value());
  EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) << cloud.Output();
}

// Delays beyond the client's time-out, dropped answers, and files for the firmware host.
TEST(SimCloudFaults, DelayDropAndFiles) {
  testing_support::StandInCloud cloud;
  const auto& control = cloud.Control();
  control.Call("POST", "/faults", json{{"path", "/gateways/report"}, {"delay_ms", 3000}, {"count", 1}});
  control.Call("POST", "/faults", json{{"path", "/gateways/hb"}, {"drop", true}, {"count", 1}});
  const curl::header_list headers;
  const auto slow = curl::perform_request("POST", (cloud.BaseURL() + "/gateways/report").c_str(), headers, "{}", 1s);
  EXPECT_EQ(slow.second, 28);
  EXPECT_EQ(Post(cloud.BaseURL() + "/gateways/hb", "{}").second, 52) << "empty reply from server";

  control.CallRaw("PUT", "/files/image.bin", std::string("\x01\x00\x02", 3));
  const auto url = "https://" + cloud.HostPort() + "/files/image.bin";
  const auto [content, status] = curl::perform_request("GET", url.c_str(), headers, nullptr);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(content, std::string("\x01\x00\x02", 3));
}
