#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "curl/request.h"
#include "sim-cloud/stand_in_cloud.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

curl::response Get(const std::string& url, std::chrono::seconds timeout = curl::kRequestTimeout) {
  const curl::header_list headers({"cache-control: no-cache"});
  return curl::perform_request("GET", url.c_str(), headers, nullptr, timeout);
}

}  // namespace

TEST(CurlRequest, StatusIsTheHttpStatusOrTheLibcurlCode) {
  testing_support::StandInCloud cloud;
  const auto missing = Get(cloud.BaseURL() + "/devices/none");
  EXPECT_EQ(missing.second, 404);
  EXPECT_EQ(missing.first, R"({"error":"not found"})");

  const auto unresolved = Get("https://no-such-host.invalid/api/v1/devices/x");
  EXPECT_EQ(unresolved.second, 6);
  EXPECT_EQ(unresolved.first, std::exception().what());

  cloud.Control().Call("POST", "/refuse", json{{"refuse", true}});
  EXPECT_EQ(Get(cloud.BaseURL() + "/devices/none").second, 7);
}

TEST(CurlRequest, PostSendsTheMethodHeadersAndBodyAsGiven) {
  testing_support::StandInCloud cloud;
  const curl::header_list headers({"cache-control: no-cache", "Accept: application/json",
                                   "Content-Type: application/x-www-form-urlencoded"});
  const std::string url = cloud.BaseURL() + "/auth_device/request";
  const auto [text, status] = curl::perform_request("POST", url.c_str(), headers, "device_id=a b&c=%");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(text, R"({"code":"code-1"})");
  const auto recorded = cloud.RequestsTo("/auth_device/request").at(0);
  EXPECT_EQ(recorded.at("request_line"), "POST /api/v1/auth_device/request HTTP/1.1");
  EXPECT_EQ(recorded.at("body"), "device_id=a b&c=%") << "no escaping";
}

TEST(CurlRequest, AServerThatDoesNotAnswerInTimeGivesTimeoutCode) {
  testing_support::StandInCloud cloud;
  cloud.Control().Call("POST", "/faults", json{{"path", "/devices/slow"}, {"delay_ms", 4000}});
  EXPECT_EQ(Get(cloud.BaseURL() + "/devices/slow", 1s).second, 28);
}

// The daemon's own time-out, measured once: 30 s.
TEST(CurlRequest, DefaultTimeoutIsThirtySeconds) {
  testing_support::StandInCloud cloud;
  cloud.Control().Call("POST", "/faults", json{{"path", "/devices/slow"}, {"delay_ms", 45000}});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(cloud.BaseURL() + "/devices/slow").second, 28);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, 29s);
  EXPECT_LT(waited, 40s);
}

TEST(CurlRequest, ConcurrentRequestsBothComplete) {
  testing_support::StandInCloud cloud;
  cloud.Control().Call("POST", "/faults", json{{"path", "/devices/"}, {"delay_ms", 300}});
  const std::string url = cloud.BaseURL() + "/devices/x";
  auto first = std::async(std::launch::async, [&] { return Get(url).second; });
  auto second = std::async(std::launch::async, [&] { return Get(url).second; });
  EXPECT_EQ(first.get(), 404);
  EXPECT_EQ(second.get(), 404);
  EXPECT_EQ(cloud.RequestsTo("/devices/x").size(), 2u);
}

// libcurl names the host in the TLS handshake (SNI); the certificate is checked only when
// asked, against the given CA file or the system's store.
TEST(CurlRequest, NamesTheHostAndVerifiesTheCertificateOnlyWhenAsked) {
  testing_support::StandInCloud cloud;
  testing_support::ScratchDirectory other;
  testing_support::MakeCertificate(other.Path());
  const std::string url = "https://localhost:" + std::to_string(cloud.Port()) + "/api/v1/devices/none";
  struct Case {
    std::string name;
    curl::tls_settings tls;
    long status;
  };
  const std::vector<Case> cases{
      {"off", {false, other.Path() + "/cert.pem"}, 404},
      {"the server's CA", {true, cloud.Directory() + "/cert.pem"}, 404},
      {"another CA", {true, other.Path() + "/cert.pem"}, CURLE_PEER_FAILED_VERIFICATION},
      {"system store", {true, ""}, CURLE_PEER_FAILED_VERIFICATION},
  };
  const curl::header_list headers({"cache-control: no-cache"});
  for (const auto& test : cases) {
    EXPECT_EQ(curl::perform_request("GET", url.c_str(), headers, nullptr, 5s, test.tls).second, test.status)
        << test.name;
  }
  for (const auto& request : cloud.RequestsTo("/devices/none")) EXPECT_EQ(request.at("server_name"), "localhost");
}

// A reused handle sends what a fresh one sends, request after request.
TEST(CurlRequest, ReusedSessionSendsTheSameRequests) {
  testing_support::StandInCloud cloud;
  const curl::header_list headers({"cache-control: no-cache", "Content-Type: application/json",
                                   "Authorization: Bearer t"});
  const std::string report = cloud.BaseURL() + "/gateways/report";
  const std::string device = cloud.BaseURL() + "/devices/none";
  EXPECT_EQ(curl::perform_request("POST", report.c_str(), headers, "{\"a\":1}").second, 200);
  EXPECT_EQ(curl::perform_request("GET", device.c_str(), headers, nullptr).second, 404);
  curl::session session;
  EXPECT_EQ(session.perform("POST", report.c_str(), headers, "{\"a\":1}").second, 200);
  EXPECT_EQ(session.perform("POST", report.c_str(), headers, "{\"a\":1}").second, 200);
  EXPECT_EQ(session.perform("GET", device.c_str(), headers, nullptr), (curl::response{R"({"error":"not found"})", 404}));
  const json requests = cloud.Control().Requests();
  ASSERT_EQ(requests.size(), 5u);
  const auto same = [](const json& left, const json& right) {
    return left.at("request_line") == right.at("request_line") && left.at("headers") == right.at("headers") &&
           left.at("body") == right.at("body");
  };
  EXPECT_TRUE(same(requests[0], requests[2])) << requests[2].dump();
  EXPECT_TRUE(same(requests[0], requests[3])) << requests[3].dump();
  EXPECT_TRUE(same(requests[1], requests[4])) << requests[4].dump() << "\nno body, no POST fields left over";
}
