// The REST client with a report spool: readings kept through an outage and a restart, the
// buffer a window onto the spool, and storage that fails while it runs.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "server/server_api.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/memory_cloud_settings.h"
#include "support/tmpfs_mount.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

class ServerSpoolTest : public ::testing::Test {
 protected:
  // A client of the stand-in, without a worker unless asked for, its spool in `directory`
  // (flushed every second), its buffer (the window onto the spool) holding `window` reports.
  std::unique_ptr<ServerAPI> MakeServer(const std::string& directory, std::size_t window, bool worker = false) {
    MemoryCloudSettings::Values values;
    values.access_token = "tok-A";
    values.refresh_token = "ref-A";
    values.client_secret = "secret-S";
    values.device_id = "gw1";
    values.report_capacity = window;
    values.spool.directory = directory;
    values.spool.flush_seconds = 1;
    settings_ = std::make_unique<MemoryCloudSettings>(values);
    ServerAPIOptions options;
    options.default_base_url = cloud_.BaseURL();
    options.start_worker = worker;
    return std::make_unique<ServerAPI>(*settings_, options);
  }

  static std::string Reading(int index) {
    return json{{"nodes", json::array({{{"id", "n"}, {"vs", json::array({{{"v", std::to_string(index)}}})}}})}}.dump();
  }
  static void Drain(ServerAPI& server) {
    for (int pass = 0; pass < 1000 && server.PendingReports() > 0; ++pass) server.PostPending();
  }
  // The values the cloud took, in the order it took them, and the largest request's count.
  std::vector<int> Received(std::size_t* largest = nullptr) const {
    std::vector<int> values;
    for (const auto& request : cloud_.RequestsTo("/gateways/report")) {
      if (request.at("status") != 200) continue;
      const json nodes = json::parse(request.at("body").get<std::string>()).at("nodes");
      if (largest != nullptr) *largest = std::max(*largest, nodes.size());
      for (const auto& node : nodes) values.push_back(std::stoi(node.at("vs")[0].at("v").get<std::string>()));
    }
    return values;
  }
  static std::vector<int> Range(int first, int last) {
    std::vector<int> values;
    for (int value = first; value <= last; ++value) values.push_back(value);
    return values;
  }

  testing_support::StandInCloud cloud_;
  testing_support::LogCapture log_;
  testing_support::ScratchDirectory spool_;
  std::unique_ptr<MemoryCloudSettings> settings_;
};

}  // namespace

// Readings that come while the cloud is away wait in the spool, not in memory: a restart
// finds them, and they reach the cloud once each and in order, in requests no larger than
// the buffer. The spool holds readings only, never a token or a secret.
TEST_F(ServerSpoolTest, AnOutageSpooledAcrossARestartIsDeliveredOnceInOrder) {
  const auto started = std::chrono::system_clock::now();
  auto server = MakeServer(spool_.Path(), 50);
  cloud_.Control().Call("POST", "/refuse", json{{"refuse", true}});
  for (int index = 1; index <= 1000; ++index) server->Report(Reading(index));
  server->PostPending();
  server->PostPending();
  EXPECT_EQ(server->PendingReports(), 1000u);
  const auto status = server->SpoolStatus();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->active);
  EXPECT_EQ(status->pending, 1000u);
  EXPECT_EQ(status->appended, 1000u);
  ASSERT_TRUE(status->oldest.has_value());
  EXPECT_GE(*status->oldest, std::chrono::time_point_cast<std::chrono::seconds>(started));
  EXPECT_GT(status->bytes, 1000 * Reading(1000).size());
  EXPECT_EQ(server->Counters().overwritten, 0u) << "a full buffer overwrites nothing: the spool is the backlog";

  server.reset();
  cloud_.Control().Call("POST", "/refuse", json{{"refuse", false}});
  server = MakeServer(spool_.Path(), 50);
  Drain(*server);
  std::size_t largest = 0;
  EXPECT_EQ(Received(&largest), Range(1, 1000));
  EXPECT_LE(largest, 50u) << "each request is filled from a window of the buffer's size";
  EXPECT_EQ(server->SpoolStatus()->pending, 0u);
  EXPECT_EQ(server->Counters().delivered, 1000u);

  server.reset();
  for (const auto& file : std::filesystem::directory_iterator(spool_.Path())) {
    std::ifstream in(file.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    for (const std::string secret : {"tok-A", "ref-A", "secret-S"}) {
      EXPECT_EQ(bytes.str().find(secret), std::string::npos) << file.path();
    }
  }
}

// Storage that fills up while the daemon runs turns the spool off with one line; readings
// go on through memory, and those spooled before wait on storage for the next start.
TEST_F(ServerSpoolTest, StorageThatFillsUpLeavesTheReadingsInMemory) {
  testing_support::TmpfsMount small(spool_.Path() + "/small", "size=64k");
  if (!small.Mounted()) GTEST_SKIP() << small.Error();
  auto server = MakeServer(small.Path(), 4000);
  server->Report(Reading(1));
  server->PostPending();
  cloud_.Control().Call("POST", "/refuse", json{{"refuse", true}});
  for (int index = 2; index <= 2000; ++index) server->Report(Reading(index));
  const auto status = server->SpoolStatus();
  EXPECT_FALSE(status->active);
  EXPECT_EQ(log_.Count("Report spool off: "), 1u) << log_.Text();

  cloud_.Control().Call("POST", "/refuse", json{{"refuse", false}});
  Drain(*server);
  // Everything after the last reading spooled (or from it, when the spool failed just after
  // writing it) went through memory.
  const auto spooled = static_cast<int>(status->appended);
  const std::vector<int> received = Received();
  ASSERT_GE(received.size(), 2u);
  const int first_in_memory = received[1];
  EXPECT_TRUE(first_in_memory == spooled || first_in_memory == spooled + 1) << first_in_memory << " " << spooled;
  std::vector<int> expected{1};
  for (int value : Range(first_in_memory, 2000)) expected.push_back(value);
  EXPECT_EQ(received, expected);
  EXPECT_EQ(server->PendingReports(), 0u);
}

// The worker's deliveries reach storage with the next flush: a crash after it (the files as
// they are) sends nothing again.
TEST_F(ServerSpoolTest, TheDeliveryMarkReachesStorageWithinAFlushInterval) {
  auto server = MakeServer(spool_.Path(), 4000, true);
  for (int index = 1; index <= 5; ++index) server->Report(Reading(index));
  ASSERT_TRUE(WaitUntil([&] { return Received() == Range(1, 5); }));
  const auto left_after_a_crash = [&] {
    testing_support::ScratchDirectory crash;
    for (const auto& file : std::filesystem::directory_iterator(spool_.Path())) {
      std::filesystem::copy_file(file.path(), crash.Path() + "/" + file.path().filename().string());
    }
    ReportSpoolOptions options;
    options.directory = crash.Path();
    return ReportSpool::Open(options)->Status().pending;
  };
  EXPECT_TRUE(WaitUntil([&] { return left_after_a_crash() == 0; }, 5s));
  EXPECT_GE(server->SpoolStatus()->syncs, 1u);
}
