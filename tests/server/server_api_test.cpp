#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/server_api.h"
#include "sim-cloud/stand_in_cloud.h"
#include "sim-cloud/thread_wakeups.h"
#include "support/memory_cloud_settings.h"
#include "support/stack_size.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

class ServerAPITest : public ::testing::Test {
 protected:
  // A ServerAPI pointed at the stand-in; without a worker unless asked for.
  std::unique_ptr<ServerAPI> MakeServer(MemoryCloudSettings::Values values = Authorised(), bool worker = false) {
    return MakeServerAt(cloud_.BaseURL(), std::move(values), worker);
  }

  std::unique_ptr<ServerAPI> MakeServerAt(const std::string& base_url, MemoryCloudSettings::Values values = Authorised(),
                                          bool worker = false, std::chrono::seconds timeout = 5s) {
    ServerAPIOptions options = Options();
    options.default_base_url = base_url;
    options.request_timeout = timeout;
    options.start_worker = worker;
    return std::make_unique<ServerAPI>(NewSettings(std::move(values)), options);
  }

  // Options for a client of the stand-in without a worker, on the test's clock.
  ServerAPIOptions Options() {
    ServerAPIOptions options;
    options.default_base_url = cloud_.BaseURL();
    options.firmware_config_url = "https://" + cloud_.HostPort() + "/firmware.conf";
    options.start_worker = false;
    options.clock = [this] { return now_.load(); };
    return options;
  }
  std::unique_ptr<ServerAPI> MakeServerWith(const ServerAPIOptions& options,
                                            MemoryCloudSettings::Values values = Authorised()) {
    return std::make_unique<ServerAPI>(NewSettings(std::move(values)), options);
  }
  void Advance(std::chrono::milliseconds step) { now_ = now_.load() + step; }

  // Runs worker passes until no report is pending (at most `passes`).
  static void Drain(ServerAPI& server, int passes = 100) {
    for (int pass = 0; pass < passes && server.PendingReports() > 0; ++pass) server.PostPending();
  }

  // Settings for the next client; every one lives as long as the test, the last is settings_.
  MemoryCloudSettings& NewSettings(MemoryCloudSettings::Values values) {
    settings_ = &all_settings_.emplace_back(std::move(values));
    return *settings_;
  }

  static MemoryCloudSettings::Values Authorised() {
    MemoryCloudSettings::Values values;
    values.access_token = "tok-A";
    values.refresh_token = "ref-A";
    values.client_id = "cid";
    values.client_secret = "secret";
    values.device_id = "gw1";
    return values;
  }

  static MemoryCloudSettings::Values Unauthorised() {
    auto values = Authorised();
    values.access_token.clear();
    values.refresh_token.clear();
    return values;
  }

  const sim::cloud::ControlClient& Control() { return cloud_.Control(); }
  std::vector<std::string> BodiesTo(const std::string& path) {
    std::vector<std::string> bodies;
    for (const auto& request : cloud_.RequestsTo(path)) bodies.push_back(request.at("body"));
    return bodies;
  }
  // The body text of a verification with `code`.
  static std::string VerifyBody(const std::string& code) {
    return "device_id=gw1&code=" + code + "&client_id=cid&client_secret=secret";
  }

  testing_support::StandInCloud cloud_;
  testing_support::LogCapture log_;
  std::list<MemoryCloudSettings> all_settings_;
  MemoryCloudSettings* settings_ = nullptr;
  std::atomic<std::chrono::steady_clock::time_point> now_{std::chrono::steady_clock::now()};
};

// A readings document as the components make it: one node `id` with one reading per value.
std::string Readings(const std::string& id, const std::vector<int>& values) {
  json readings = json::array();
  for (const int value : values) readings.push_back({{"k", "temp"}, {"ts", value}, {"v", std::to_string(value)}});
  return json{{"nodes", json::array({{{"id", id}, {"vs", readings}}})}}.dump();
}

// The (id, value) pairs of the report requests' bodies, in the order received; a body not
// of the readings' shape counts as itself.
std::vector<std::string> ReceivedReadings(const json& requests) {
  std::vector<std::string> received;
  for (const auto& request : requests) {
    const json body = json::parse(request.at("body").get<std::string>(), nullptr, false);
    if (!body.is_object() || !body.contains("nodes")) {
      received.push_back(request.at("body"));
      continue;
    }
    for (const auto& node : body.at("nodes")) {
      for (const auto& reading : node.at("vs")) {
        received.push_back(node.at("id").get<std::string>() + ":" + reading.at("v").get<std::string>());
      }
    }
  }
  return received;
}

// True when `lines` holds `expected` in this order (other lines, added by libcurl, may sit between).
bool InOrder(const json& lines, const std::vector<std::string>& expected) {
  std::size_t next = 0;
  for (const auto& line : lines) {
    if (next < expected.size() && line.get<std::string>() == expected[next]) ++next;
  }
  return next == expected.size();
}

}  // namespace

TEST_F(ServerAPITest, EachRequestHasItsMethodPathHeaderLinesInOrderAndBody) {
  auto server = MakeServer();
  const std::vector<std::string> form{"cache-control: no-cache", "Accept: application/json",
                                      "Content-Type: application/x-www-form-urlencoded"};
  const std::vector<std::string> bearer{"cache-control: no-cache", "Content-Type: application/json",
                                        "Authorization: Bearer tok-A"};
  json config;
  server->AuthenticationRequest("gw1");
  server->AuthenticationVerify("gw1", "c&1");
  server->PostHeartBeat(R"({"hb":"é"})");
  server->PostData(R"({"data":[1, 2]})");
  server->PLCInfo("gw1");
  server->DeviceBeaconFolds("0a1b");
  server->FirmwareConfigTest(config);

  struct Expected {
    std::string request_line;
    std::vector<std::string> headers;
    std::string body;
  };
  const std::vector<Expected> expected{
      {"POST /api/v1/auth_device/request HTTP/1.1", form, "device_id=gw1"},
      {"POST /api/v1/auth_device/verify HTTP/1.1", form, VerifyBody("c%261")},
      {"POST /api/v1/gateways/hb HTTP/1.1", bearer, R"({"hb":"é"})"},
      {"POST /api/v1/gateways/report HTTP/1.1", bearer, R"({"data":[1, 2]})"},
      {"GET /api/v1/devices/gw1 HTTP/1.1", bearer, ""},
      {"GET /api/v1/devices/0a1b HTTP/1.1", bearer, ""},
      {"GET /firmware.conf HTTP/1.1", {"cache-control: no-chache", "Content-Type: application/json"}, ""},
  };
  const json requests = Control().Requests();
  ASSERT_EQ(requests.size(), expected.size()) << requests.dump(1);
  for (std::size_t index = 0; index < expected.size(); ++index) {
    const auto& request = requests[index];
    EXPECT_EQ(request.at("request_line"), expected[index].request_line);
    EXPECT_TRUE(InOrder(request.at("headers"), expected[index].headers)) << request.dump(1);
    EXPECT_EQ(request.at("body"), expected[index].body) << expected[index].request_line;
  }
  for (const auto& line : requests.back().at("headers")) {
    EXPECT_EQ(line.get<std::string>().rfind("Authorization", 0), std::string::npos) << "no token to the firmware host";
  }
}

TEST_F(ServerAPITest, AlreadyAuthorisedCallsBackAtOnceWithoutRequests) {
  auto server = MakeServer();
  bool result = false;
  EXPECT_TRUE(server->Authentication("gw1", [&](bool ok) { result = ok; }));
  EXPECT_TRUE(result);
  EXPECT_TRUE(Control().Requests().empty());
  EXPECT_TRUE(log_.Contains("Already authenticated."));
}

// 400 repeats the verification once a period with the same code; a second call while
// polling is refused; approval stores both tokens and calls back with true.
TEST_F(ServerAPITest, PendingVerificationPollsWithTheSameCodeUntilApproved) {
  auto server = MakeServer(Unauthorised());
  std::atomic<int> calls{0};
  std::atomic<bool> result{false};
  ASSERT_TRUE(server->Authentication("gw1", [&](bool ok) {
    result = ok;
    ++calls;
  }));
  ASSERT_TRUE(WaitUntil([&] { return cloud_.RequestsTo("/auth_device/verify").size() >= 2; }));
  EXPECT_TRUE(server->Authenticating());
  EXPECT_FALSE(server->Authentication("gw1", [](bool) {})) << "already polling";
  Control().Call("POST", "/auth", json{{"approved", true}, {"access_token", "tok-B"}, {"refresh_token", "ref-B"}});
  ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
  EXPECT_TRUE(result);
  EXPECT_FALSE(server->Authenticating());
  EXPECT_EQ(server->AccessToken(), "tok-B");
  EXPECT_EQ(settings_->AccessToken(), "tok-B");
  EXPECT_EQ(settings_->RefreshToken(), "ref-B");

  const auto verifies = cloud_.RequestsTo("/auth_device/verify");
  EXPECT_EQ(cloud_.RequestsTo("/auth_device/request").size(), 1u);
  for (const auto& verify : verifies) EXPECT_EQ(verify.at("body"), VerifyBody("code-1"));
  EXPECT_EQ(verifies.back().at("status"), 201);
}

TEST_F(ServerAPITest, ExpiredCodeFetchesANewOneBeforeTheNextVerification) {
  auto server = MakeServer(Unauthorised());
  Control().Call("POST", "/auth", json{{"verify", {408}}, {"approved", true}});
  std::atomic<bool> done{false};
  ASSERT_TRUE(server->Authentication("gw1", [&](bool) { done = true; }));
  ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
  std::vector<std::string> sequence;
  for (const auto& request : Control().Requests()) {
    sequence.push_back(request.at("target").get<std::string>() + " " + request.at("body").get<std::string>());
  }
  EXPECT_EQ(sequence, (std::vector<std::string>{
                          "/api/v1/auth_device/request device_id=gw1",
                          "/api/v1/auth_device/verify " + VerifyBody("code-1"),
                          "/api/v1/auth_device/request device_id=gw1",
                          "/api/v1/auth_device/verify " + VerifyBody("code-2"),
                      }));
}

TEST_F(ServerAPITest, FailedCodeRequestEndsTheAttemptWithoutCallback) {
  auto server = MakeServer(Unauthorised());
  Control().Call("POST", "/auth", json{{"request_status", 500}});
  std::atomic<int> calls{0};
  ASSERT_TRUE(server->Authentication("gw1", [&](bool) { ++calls; }));
  ASSERT_TRUE(WaitUntil([&] { return cloud_.RequestsTo("/auth_device/request").size() == 1; }));
  Control().Call("POST", "/auth", json{{"request_status", 200}, {"approved", true}});
  // The ended attempt leaves the way open for the next one.
  ASSERT_TRUE(WaitUntil([&] { return server->Authentication("gw1", [&](bool) { ++calls; }); }));
  ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
  EXPECT_TRUE(cloud_.RequestsTo("/auth_device/verify").size() == 1);
}

TEST_F(ServerAPITest, MalformedAnswersGiveFailureResults) {
  auto server = MakeServer(Unauthorised());
  Control().Call("POST", "/faults", json{{"path", "/auth_device/"}, {"status", 201}, {"body", "{\"code\":"}, {"count", 2}});
  EXPECT_EQ(server->AuthenticationRequest("gw1"), (std::pair<bool, std::string>{false, ""}));
  EXPECT_EQ(server->AuthenticationVerify("gw1", "c"), (std::pair<bool, int>{false, 201}));
  EXPECT_EQ(server->AccessToken(), "");
  EXPECT_TRUE(log_.Contains("jSON Parsing Error : "));
}

// Refused connection: the report goes back to the front and is retried; the heartbeat is lost.
TEST_F(ServerAPITest, RefusedConnectionKeepsTheReportInFrontAndDropsTheHeartbeat) {
  auto server = MakeServer();
  Control().Call("POST", "/refuse", json{{"refuse", true}});
  server->Report("r1");
  server->HeartBeat("h1");
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 1u);
  server->Report("r2");
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 2u);
  EXPECT_TRUE(log_.Contains("Failed to connect() to host."));

  Control().Call("POST", "/refuse", json{{"refuse", false}});
  server->PostPending();
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 0u);
  EXPECT_EQ(BodiesTo("/gateways/report"), (std::vector<std::string>{"r1", "r2"}));
  EXPECT_TRUE(BodiesTo("/gateways/hb").empty());
}

TEST_F(ServerAPITest, ClientErrorConsumesTheReport) {
  auto server = MakeServer();
  Control().Call("POST", "/faults", json{{"path", "/gateways/report"}, {"status", 400}, {"body", "oops"}, {"count", 1}});
  server->Report("r1");
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 0u);
  server->PostPending();
  EXPECT_EQ(BodiesTo("/gateways/report"), (std::vector<std::string>{"r1"}));
  EXPECT_TRUE(log_.Contains("Server Error ( 400 ) : oops"));
  EXPECT_EQ(server->Counters().refused, 1u);
}

// The observer hears each request's outcome: delivered when the server answered it for good
// (took or refused it), not when it goes again.
TEST_F(ServerAPITest, TheDeliveryObserverHearsEachOutcome) {
  auto server = MakeServer();
  std::vector<bool> heard;
  server->ObserveDeliveries([&](bool delivered) { heard.push_back(delivered); });
  const struct {
    const char* name;
    json fault;  // posted to /faults; null: none
    bool delivered;
  } cases[] = {
      {"taken", nullptr, true},
      {"refused", {{"path", "/gateways/report"}, {"status", 400}, {"count", 1}}, true},
      {"server error", {{"path", "/gateways/report"}, {"status", 503}, {"count", 1}}, false},
      {"no answer", {{"path", "/gateways/report"}, {"drop", true}}, false},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    heard.clear();
    if (!entry.fault.is_null()) Control().Call("POST", "/faults", entry.fault);
    Advance(10min);  // past any back-off
    server->Report("r");
    server->PostPending();
    EXPECT_EQ(heard, std::vector<bool>{entry.delivered});
    Control().Call("DELETE", "/faults");
    Advance(10min);
    Drain(*server);
  }
}

TEST_F(ServerAPITest, TheReportBeyondTheCapacityOverwritesTheOldest) {
  auto values = Authorised();
  values.report_capacity = 500;
  auto server = MakeServer(values);
  for (int index = 1; index <= 501; ++index) server->Report("r" + std::to_string(index));
  EXPECT_EQ(server->PendingReports(), 500u);
  server->PostPending();
  server->PostPending();
  EXPECT_EQ(BodiesTo("/gateways/report"), (std::vector<std::string>{"r2", "r3"}));
}

// A lone pending report, and any report not of the readings' shape, goes out as it came.
TEST_F(ServerAPITest, AReportThatIsNotMergedIsPostedByteForByte) {
  const std::string spaced = R"({ "nodes" : [ {"id":"n1", "vs":[{"k":"temp","v":"21.50","ts":1.0e3}]} ] })";
  const std::vector<std::string> others{R"({"nodes":[{"id":"n2","vs":[]}],"gw":"x"})", R"({"nodes":[]})", "[1]",
                                        "not json"};
  auto server = MakeServer();
  server->Report(spaced);
  server->PostPending();
  for (const auto& other : others) {
    server->Report(other);
    server->Report(spaced);
  }
  Drain(*server);
  std::vector<std::string> expected{spaced};
  for (const auto& other : others) {
    expected.push_back(other);
    expected.push_back(spaced);
  }
  // Each of the others stops a merge: the one before it and after it go out alone.
  EXPECT_EQ(BodiesTo("/gateways/report"), expected);
}

// A backlog goes out as one readings document: every reading once, in order.
TEST_F(ServerAPITest, ABacklogGoesOutAsOneDocumentWithEveryReading) {
  auto server = MakeServer();
  std::vector<std::string> expected;
  for (int index = 0; index < 40; ++index) {
    const std::string id = "n" + std::to_string(index % 7);
    server->Report(Readings(id, {index, index + 1000}));
    expected.push_back(id + ":" + std::to_string(index));
    expected.push_back(id + ":" + std::to_string(index + 1000));
  }
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 0u);
  const auto requests = cloud_.RequestsTo("/gateways/report");
  ASSERT_EQ(requests.size(), 1u);
  const json body = json::parse(requests[0].at("body").get<std::string>());
  EXPECT_EQ(body.size(), 1u);
  EXPECT_EQ(body.at("nodes").size(), 40u);
  EXPECT_EQ(ReceivedReadings(requests), expected);
  const auto counters = server->Counters();
  EXPECT_EQ(counters.received, 40u);
  EXPECT_EQ(counters.delivered, 40u);
  EXPECT_EQ(counters.overwritten + counters.refused, 0u);
}

// Requests stay within their bounds of reports and bytes, and together carry everything.
TEST_F(ServerAPITest, ARequestStaysWithinItsBounds) {
  struct Case {
    std::string name;
    std::size_t max_reports;
    std::size_t max_bytes;
  };
  const std::size_t large_readings = 3000;  // about 90 KiB
  const std::string large = Readings("big", std::vector<int>(large_readings, 7));
  for (const auto& test : std::vector<Case>{{"reports", 4, 64 * 1024}, {"bytes", 500, 300}}) {
    Control().Call("DELETE", "/requests");
    auto options = Options();
    options.batch_max_reports = test.max_reports;
    options.batch_max_bytes = test.max_bytes;
    auto server = MakeServerWith(options);
    std::vector<std::string> expected;
    for (int index = 0; index < 30; ++index) {
      server->Report(Readings("n", {index}));
      expected.push_back("n:" + std::to_string(index));
    }
    server->Report(large);  // larger than the byte bound by itself: alone, unchanged
    expected.insert(expected.end(), large_readings, "big:7");
    Drain(*server);
    const auto requests = cloud_.RequestsTo("/gateways/report");
    EXPECT_EQ(ReceivedReadings(requests), expected) << test.name;
    EXPECT_EQ(requests.back().at("body"), large) << test.name;
    for (std::size_t index = 0; index + 1 < requests.size(); ++index) {
      const std::string body = requests[index].at("body");
      EXPECT_LE(body.size(), test.max_bytes) << test.name;
      EXPECT_LE(json::parse(body).at("nodes").size(), test.max_reports) << test.name;
    }
    EXPECT_GT(requests.size(), 2u) << test.name;
  }
}

TEST_F(ServerAPITest, BatchingOffPostsOneReportPerRequest) {
  auto values = Authorised();
  values.report_batching = false;
  auto server = MakeServer(values);
  const std::vector<std::string> reports{Readings("a", {1}), Readings("b", {2}), Readings("a", {3})};
  for (const auto& report : reports) server->Report(report);
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 2u);
  Drain(*server);
  EXPECT_EQ(BodiesTo("/gateways/report"), reports);
}

// 5xx and 429 keep the batch; reports wait 1 s, then 2 s, ... while heartbeats go on, and a
// success resets the wait.
TEST_F(ServerAPITest, ServerErrorsAndThrottlingBackOffAndLoseNothing) {
  auto options = Options();
  const auto delivered_at = std::chrono::system_clock::time_point(1700000000s);
  options.wall_clock = [&] { return delivered_at; };
  auto server = MakeServerWith(options);
  for (const int status : {503, 429, 500}) {
    Control().Call("POST", "/faults", json{{"path", "/gateways/report"}, {"status", status}, {"count", 1}});
  }
  server->Report(Readings("n", {1}));
  server->Report(Readings("n", {2}));
  const auto reports = [&] { return cloud_.RequestsTo("/gateways/report").size(); };
  // (wait before the pass, the status of the request it sends)
  const std::vector<std::pair<std::chrono::milliseconds, int>> passes{
      {0ms, 503}, {999ms, 0}, {1ms, 429}, {1s, 0}, {1s, 500}, {3999ms, 0}, {1ms, 200}};
  for (std::size_t index = 0; index < passes.size(); ++index) {
    const auto [wait, status] = passes[index];
    Advance(wait);
    server->HeartBeat("h" + std::to_string(index));
    const std::size_t before = reports();
    server->PostPending();
    EXPECT_EQ(cloud_.RequestsTo("/gateways/hb").size(), index + 1) << "heartbeats keep their pace";
    if (status == 0) {
      EXPECT_EQ(reports(), before) << "pass " << index << " waits";
      continue;
    }
    ASSERT_EQ(reports(), before + 1) << "pass " << index;
    EXPECT_EQ(cloud_.RequestsTo("/gateways/report").back().at("status"), status);
    EXPECT_EQ(server->PendingReports(), status == 200 ? 0u : 2u);
    EXPECT_EQ(server->LastDelivery().has_value(), status == 200) << "only a taken report counts as delivered";
  }
  EXPECT_EQ(ReceivedReadings(cloud_.RequestsTo("/gateways/report")).size(), 8u) << "the same batch four times";
  EXPECT_TRUE(log_.Contains("Server Error ( 429 )"));
  EXPECT_EQ(server->Counters().delivered, 2u);
  EXPECT_EQ(server->LastDelivery(), delivered_at);

  Control().Call("POST", "/faults", json{{"path", "/gateways/report"}, {"status", 502}, {"count", 1}});
  server->Report(Readings("n", {3}));
  server->PostPending();
  Advance(1s);
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 0u) << "the wait starts again at one second after a success";
}

// A 4xx to a merged request: its reports are sent again in halves until the refused one
// goes out alone and is dropped; the others arrive once each, in order.
TEST_F(ServerAPITest, ARefusedReportInABatchIsDroppedAlone) {
  Control().Call("POST", "/faults",
                 json{{"path", "/gateways/report"}, {"body_contains", "poison"}, {"status", 422}, {"body", "bad"}});
  auto server = MakeServer();
  std::vector<std::string> expected;
  for (int index = 0; index < 11; ++index) {
    const bool poisoned = index == 6;
    server->Report(Readings(poisoned ? "poison" : "n", {index}));
    if (!poisoned) expected.push_back("n:" + std::to_string(index));
  }
  Drain(*server);
  EXPECT_EQ(server->PendingReports(), 0u);
  std::vector<json> taken;
  std::size_t alone = 0;
  for (const auto& request : cloud_.RequestsTo("/gateways/report")) {
    if (request.at("status") == 200) taken.push_back(request);
    if (request.at("body") == Readings("poison", {6})) ++alone;
  }
  EXPECT_EQ(ReceivedReadings(taken), expected);
  EXPECT_EQ(alone, 1u) << "sent alone once, then dropped";
  const auto counters = server->Counters();
  EXPECT_EQ(counters.refused, 1u);
  EXPECT_EQ(counters.delivered, 10u);
  const std::string text = log_.Text();
  const std::string dropped = "Server Error ( 422 ) : bad";
  EXPECT_NE(text.find(dropped), std::string::npos);
  EXPECT_EQ(text.find(dropped), text.rfind(dropped)) << "one error line, for the dropped report\n" << text;
}

// Reports dropped from the full buffer (by number or by bytes) are counted and logged at
// most once a period, with the number since the last line.
TEST_F(ServerAPITest, OverwritesAreCountedAndLoggedOnceAPeriod) {
  auto values = Authorised();
  values.report_capacity = 3;
  auto options = Options();
  options.buffer_max_bytes = 100;
  auto server = MakeServerWith(options, values);
  const std::string line = "Report buffer full, reports overwritten since the last notice: ";
  const auto lines = [&] {
    const std::string text = log_.Text();
    std::vector<std::string> found;
    for (std::size_t at = text.find(line); at != std::string::npos;
         at = text.find(line, at + 1)) {
      found.push_back(text.substr(at, text.find('\n', at) - at));
    }
    return found;
  };
  for (int index = 0; index < 5; ++index) server->Report("r" + std::to_string(index));
  EXPECT_EQ(lines(), (std::vector<std::string>{line + "1"})) << "the first at once";
  server->Report(std::string(60, 'x'));   // pushes out r2 by number
  server->Report(std::string(60, 'y'));   // pushes out r3, r4 and the x by bytes
  server->Report(std::string(101, 'z'));  // larger than the buffer: dropped itself
  EXPECT_EQ(server->Counters().overwritten, 7u);
  EXPECT_EQ(server->PendingReports(), 1u);
  Advance(59s);
  server->PostPending();
  EXPECT_EQ(lines().size(), 1u) << "not before the period is over";
  Advance(1s);
  server->PostPending();
  EXPECT_EQ(lines(), (std::vector<std::string>{line + "1", line + "6"}));
  Advance(60s);
  server->PostPending();
  EXPECT_EQ(lines().size(), 2u) << "nothing new, no line";
  const auto counters = server->Counters();
  EXPECT_EQ(counters.received, 8u);
  EXPECT_EQ(counters.delivered, 1u);
}

// The worker sends at most one report a period (the daemon's one second).
TEST_F(ServerAPITest, WorkerDeliversOneReportAndOneHeartbeatPerSecond) {
  auto server = MakeServer(Authorised(), true);
  server->HeartBeat("h1");
  server->Report("r1");
  server->Report("r2");
  ASSERT_TRUE(WaitUntil([&] { return BodiesTo("/gateways/report").size() == 1; }));
  const auto first = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return BodiesTo("/gateways/report").size() == 2; }));
  EXPECT_GE(std::chrono::steady_clock::now() - first, 700ms);
  EXPECT_EQ(BodiesTo("/gateways/hb"), (std::vector<std::string>{"h1"}));
  EXPECT_EQ(BodiesTo("/gateways/report"), (std::vector<std::string>{"r1", "r2"}));
}

TEST_F(ServerAPITest, PLCInfoReturnsThePlcsMemberOrNothing) {
  auto server = MakeServer();
  Control().Call("PUT", "/scenario",
                 json{{"devices",
                       {{"with", {{"plcs", {{{"id", 7}, {"name", "press"}}}}, {"other", 1}}},
                        {"without", {{"sensor", json::object()}}},
                        {"broken", "{\"plcs\":"},
                        {"array", "[1,2]"}}}});
  EXPECT_EQ(server->PLCInfo("with"), R"([{"id":7,"name":"press"}])");
  EXPECT_EQ(server->PLCInfo("without"), "");
  EXPECT_EQ(server->PLCInfo("broken"), "");
  EXPECT_EQ(server->PLCInfo("array"), "");
  EXPECT_EQ(server->PLCInfo("unknown"), "") << "404";
}

TEST_F(ServerAPITest, APlcListNestedTooDeeplyIsRefusedWithoutExhaustingASmallStack) {
  auto server = MakeServer();
  const std::string deep = "{\"plcs\":" + std::string(10000, '[') + std::string(10000, ']') + "}";
  const std::string fine = R"({"plcs":[{"id":7,"name":"p","plc_addresses":[{"device_id":"a","addr":"[{\"x"}]}]})";
  Control().Call("PUT", "/scenario", json{{"devices", {{"deep", deep}, {"fine", fine}}}});
  std::string deep_list = "unset";
  std::string fine_list;
  testing_support::RunWithStackOf(testing_support::kRouterThreadStack, [&] {
    deep_list = server->PLCInfo("deep");
    fine_list = server->PLCInfo("fine");
  });
  EXPECT_EQ(deep_list, "");
  EXPECT_TRUE(log_.Contains("PLC list refused: nested deeper than 32 levels"));
  EXPECT_EQ(json::parse(fine_list)[0].at("plc_addresses")[0].at("addr"), "[{\"x");
}

TEST_F(ServerAPITest, DeviceBeaconFoldsReadsTheSensorSettings) {
  auto server = MakeServer();
  const json types = json::array({{{"sensor_type", "t"}, {"fold", 3}}, {{"sensor_type", "t"}, {"fold", 9}},
                                  {{"sensor_type", "h"}, {"fold", 0}}});
  Control().Call("PUT", "/scenario",
                 json{{"devices",
                       {{"null-ble", {{"sensor", {{"ble_enabled", nullptr}, {"sensor_types", types}}}}},
                        {"ble-on", {{"sensor", {{"ble_enabled", true}}}}},
                        {"not-array", {{"sensor", {{"ble_enabled", false}, {"sensor_types", {{"t", 1}}}}}}},
                        {"no-sensor", {{"plcs", json::array()}}},
                        {"bad-fold", {{"sensor", {{"sensor_types", {{{"sensor_type", "t"}, {"fold", 300}}}}}}}},
                        {"bad-type", {{"sensor", {{"sensor_types", {{{"sensor_type", 5}, {"fold", 1}}}}}}}},
                        {"broken", "{"}}}});
  using Result = std::tuple<bool, bool, json>;
  const std::vector<std::pair<std::string, Result>> cases{
      {"null-ble", {true, false, json{{"t", 3}, {"h", 0}}}},
      {"ble-on", {true, true, json()}},
      {"not-array", {true, false, json()}},
      {"no-sensor", {false, false, json()}},
      {"bad-fold", {false, false, json()}},
      {"bad-type", {false, false, json()}},
      {"broken", {false, false, json()}},
      {"unknown", {false, false, json()}},
  };
  for (const auto& [device, expected] : cases) EXPECT_EQ(server->DeviceBeaconFolds(device), expected) << device;
}

TEST_F(ServerAPITest, FirmwareConfigurationDocuments) {
  auto server = MakeServer();
  const json document{{"url", "https://files.example.com"}, {"sensor", json::array()}, {"gateway", json::array()}};
  Control().Call("PUT", "/scenario", json{{"firmware_conf", document}});
  json config;
  EXPECT_TRUE(server->FirmwareConfigTest(config));
  EXPECT_EQ(config, document);

  Control().Call("PUT", "/scenario", json{{"firmware_conf", "not json"}});
  EXPECT_FALSE(server->FirmwareConfigTest(config));
  Control().Call("POST", "/refuse", json{{"refuse", true}});
  EXPECT_FALSE(server->FirmwareConfigTest(config));
  EXPECT_TRUE(log_.Contains("Failed to connect() to host."));
}

TEST_F(ServerAPITest, RequestsGiveUpAfterTheTimeOutWithCode28) {
  ServerAPIOptions options;
  options.default_base_url = cloud_.BaseURL();
  options.request_timeout = 1s;
  options.start_worker = false;
  ServerAPI server(NewSettings(Authorised()), options);
  Control().Call("POST", "/faults", json{{"path", "/gateways/report"}, {"delay_ms", 4000}});
  const curl::header_list headers;
  EXPECT_EQ(server.Post(cloud_.BaseURL() + "/gateways/report", headers, "{}").second, 28);
  server.Report("r1");
  server.PostPending();
  EXPECT_EQ(server.PendingReports(), 1u) << "timed out: the server never answered, the report is kept";
}

TEST_F(ServerAPITest, ConfiguredURLWinsOverTheDefault) {
  auto values = Authorised();
  values.url = cloud_.BaseURL();
  ServerAPIOptions options;
  options.default_base_url = "https://127.0.0.1:1/nowhere";
  options.start_worker = false;
  ServerAPI server(NewSettings(values), options);
  EXPECT_TRUE(server.PostHeartBeat("{}"));
  EXPECT_EQ(BodiesTo("/api/v1/gateways/hb").size(), 1u);
}

// Form values are percent-encoded; plain ones go out unchanged.
TEST_F(ServerAPITest, FormValuesAreEscaped) {
  auto values = Authorised();
  values.client_id = "id+1";
  values.client_secret = "s&e=c%r t";
  auto server = MakeServer(values);
  server->AuthenticationRequest("gw/1");
  server->AuthenticationVerify("gw1", "a=b&c");
  EXPECT_EQ(BodiesTo("/auth_device/"),
            (std::vector<std::string>{"device_id=gw%2F1",
                                      "device_id=gw1&code=a%3Db%26c&client_id=id%2B1&client_secret=s%26e%3Dc%25r%20t"}));
}

// Any transfer that ends without an HTTP answer keeps the report at the front; the
// heartbeat is not counted as delivered.
TEST_F(ServerAPITest, TransportFailuresKeepTheReport) {
  struct Case {
    std::string name;
    json fault;  // posted to /faults
  };
  const std::vector<Case> cases{
      {"dropped without answer", json{{"path", "/gateways/"}, {"drop", true}, {"count", 2}}},
      {"timed out", json{{"path", "/gateways/"}, {"delay_ms", 3000}, {"count", 2}}},
  };
  for (const auto& test : cases) {
    auto server = MakeServerAt(cloud_.BaseURL(), Authorised(), false, 1s);
    Control().Call("DELETE", "/requests");
    Control().Call("POST", "/faults", test.fault);
    server->Report("r1");
    EXPECT_FALSE(server->PostHeartBeat("h1")) << test.name;
    server->PostPending();
    EXPECT_EQ(server->PendingReports(), 1u) << test.name;
    EXPECT_TRUE(log_.Contains("Transfer failed ( ")) << test.name;
    server->PostPending();
    EXPECT_EQ(server->PendingReports(), 0u) << test.name;
    const auto reports = cloud_.RequestsTo("/gateways/report");
    ASSERT_FALSE(reports.empty()) << test.name;
    EXPECT_EQ(reports.back().at("body"), "r1");
    EXPECT_EQ(reports.back().at("status"), 200) << test.name;
  }

  auto unresolved = MakeServerAt("https://no-such-host.invalid/api/v1");
  unresolved->Report("r1");
  unresolved->PostPending();
  unresolved->PostPending();
  EXPECT_EQ(unresolved->PendingReports(), 1u) << "an unresolved host is retried, not dropped";
  EXPECT_FALSE(unresolved->PostHeartBeat("h1"));
  EXPECT_TRUE(log_.Contains("Couldn't resolve host."));
}

// A rejected token: the report stays, one line says why, the device authorisation runs
// again at the worker's pace, and the new pair carries the report.
TEST_F(ServerAPITest, RejectedTokenKeepsReportsAndAuthorisesAgain) {
  auto server = MakeServer(Authorised(), true);
  std::atomic<int> authorised{0};
  ASSERT_TRUE(server->Authentication("gw1", [&](bool ok) { authorised += ok ? 1 : 0; }));
  ASSERT_EQ(authorised.load(), 1);
  Control().Call("POST", "/auth", json{{"reject_tokens", {"tok-A"}}});
  const auto rejected_at = std::chrono::steady_clock::now();
  server->Report("r1");
  ASSERT_TRUE(WaitUntil([&] { return cloud_.RequestsTo("/auth_device/verify").size() >= 2; }));
  const auto refused = cloud_.RequestsTo("/gateways/report");
  EXPECT_FALSE(refused.empty());
  for (const auto& report : refused) EXPECT_EQ(report.at("body"), "r1");
  EXPECT_TRUE(server->TokenRejected());
  EXPECT_FALSE(server->Authentication("gw1", [&](bool ok) { authorised += ok ? 1 : 0; })) << "already authorising";
  EXPECT_EQ(authorised.load(), 1) << "no 'already authenticated' while the token is rejected";
  const std::string line = "Access token rejected by the server (401)";
  const std::string text = log_.Text();
  EXPECT_NE(text.find(line), std::string::npos);
  EXPECT_EQ(text.find(line), text.rfind(line)) << "logged once";
  EXPECT_EQ(settings_->AccessToken(), "tok-A") << "kept until a new pair arrives";

  Control().Call("POST", "/auth", json{{"approved", true}, {"access_token", "tok-B"}, {"refresh_token", "ref-B"}});
  // (The ring is empty also while a report is in flight: wait for the server's answer.)
  ASSERT_TRUE(WaitUntil([&] {
    const auto reports = cloud_.RequestsTo("/gateways/report");
    return !reports.empty() && reports.back().at("status") == 200;
  }));
  EXPECT_EQ(server->PendingReports(), 0u);
  const auto elapsed = std::chrono::steady_clock::now() - rejected_at;
  EXPECT_EQ(authorised.load(), 2);
  EXPECT_FALSE(server->TokenRejected());
  EXPECT_EQ(settings_->AccessToken(), "tok-B");
  EXPECT_EQ(settings_->RefreshToken(), "ref-B");
  const auto reports = cloud_.RequestsTo("/gateways/report");
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back().at("body"), "r1");
  EXPECT_TRUE(InOrder(reports.back().at("headers"), {"Authorization: Bearer tok-B"}));
  // One attempt a second while authorising, not a tight loop.
  EXPECT_LE(static_cast<double>(reports.size()), std::chrono::duration<double>(elapsed).count() + 2);
  EXPECT_EQ(cloud_.RequestsTo("/auth_device/request").size(), 1u);
}

// An idle worker sleeps until there is something to send, then keeps its pace.
TEST_F(ServerAPITest, IdleWorkerSleepsUntilAReportArrives) {
  const auto before = testing_support::ProcessThreads();
  auto server = MakeServer(Authorised(), true);
  const auto worker = testing_support::ThreadsSince(before);
  ASSERT_FALSE(worker.empty());
  std::this_thread::sleep_for(200ms);  // let it reach its wait
  const long sleeps = testing_support::Sleeps(worker);
  std::this_thread::sleep_for(3000ms);  // the observation window: nothing to do
  EXPECT_LE(testing_support::Sleeps(worker) - sleeps, 1) << "woke without work";

  server->Report("r1");
  ASSERT_TRUE(WaitUntil([&] { return BodiesTo("/gateways/report").size() == 1; }));
}

// With verification on, the peer must present a certificate of the configured CA; off,
// any certificate is taken as before.
TEST_F(ServerAPITest, CertificateVerificationFollowsTheSettings) {
  testing_support::ScratchDirectory other;
  testing_support::MakeCertificate(other.Path());
  Control().Call("PUT", "/scenario", json{{"firmware_conf", json::object()}});
  for (const auto& test :
       testing_support::TlsVerificationCases(cloud_.Directory() + "/cert.pem", other.Path() + "/cert.pem")) {
    auto values = Authorised();
    values.tls_verify = test.verify;
    values.ca_file = test.ca_file;
    auto server = MakeServerAt("https://localhost:" + std::to_string(cloud_.Port()) + "/api/v1", values);
    server->Report("r");
    server->PostPending();
    EXPECT_EQ(server->PendingReports(), test.accepted ? 0u : 1u) << test.name;
    const std::size_t queries = cloud_.RequestsTo("/devices/gw1").size();
    server->PLCInfo("gw1");
    EXPECT_EQ(cloud_.RequestsTo("/devices/gw1").size() - queries, test.accepted ? 1u : 0u) << test.name;
  }
}
