// The firmware documents from fixed snapshots: their shape, the ages read against the
// snapshot's time, null for what is not known, and the state of each download.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "status/firmware_documents.h"

using nlohmann::json;

namespace {

constexpr std::int64_t kNow = 1'700'000'000;

ota::FirmwareStatus Snapshot() {
  ota::FirmwareStatus status;
  status.taken_at = kNow;
  status.checked = kNow - 600;
  status.system_version = "21.2.1";
  status.packages = {{"quellaron-app", "1.0.0-1"}, {"tool", ""}};
  status.images = {{1, "1.0.0-1", 7}, {3, "3.1.0-0", 4096}};
  status.waiting = {{1, "1.0.0-2", 8}};
  status.offered = {{"sensor", "1", "fw_2.bin", "1.0.0-2", std::nullopt}, {"gateway", "APP", "tool_1.ipk", "1", 2048}};
  status.downloads = {{"tool_1.ipk", kNow - 5, std::nullopt, false},
                      {"fw_2.bin", kNow - 590, kNow - 580, true},
                      {"gone.bin", kNow - 595, kNow - 594, false}};
  status.sessions = {{0x0101, 1, 3, 7, kNow - 20}, {0x0102, 2, 0, std::nullopt, kNow + 3}};
  return status;
}

TEST(FirmwareDocumentsTest, TheDocumentHoldsWhatIsInstalledOfferedFetchedAndRead) {
  const json expected{
      {"installed",
       {{"system", "21.2.1"},
        {"packages", {{"quellaron-app", "1.0.0-1"}, {"tool", nullptr}}},
        {"devices", {{{"type", 1}, {"version", "1.0.0-1"}, {"blocks", 7}},
                     {{"type", 3}, {"version", "3.1.0-0"}, {"blocks", 4096}}}}}},
      {"waiting", {{{"type", 1}, {"version", "1.0.0-2"}, {"blocks", 8}}}},
      {"checked", 600},
      {"offered",
       {{{"target", "sensor"}, {"type", "1"}, {"name", "fw_2.bin"}, {"version", "1.0.0-2"}, {"size", nullptr}},
        {{"target", "gateway"}, {"type", "APP"}, {"name", "tool_1.ipk"}, {"version", "1"}, {"size", 2048}}}},
      {"downloads",
       {{{"name", "tool_1.ipk"}, {"state", "downloading"}, {"started", 5}, {"ended", nullptr}},
        {{"name", "fw_2.bin"}, {"state", "done"}, {"started", 590}, {"ended", 580}},
        {{"name", "gone.bin"}, {"state", "failed"}, {"started", 595}, {"ended", 594}}}},
      {"sessions",
       {{{"address", 257}, {"type", 1}, {"block", 3}, {"blocks", 7}, {"last_request", 20}},
        // Its image gone meanwhile; a request after the snapshot's time reads as just now.
        {{"address", 258}, {"type", 2}, {"block", 0}, {"blocks", nullptr}, {"last_request", 0}}}}};
  EXPECT_EQ(status::FirmwareDocument(Snapshot()), expected);
}

TEST(FirmwareDocumentsTest, BeforeAnyCheckEverythingIsEmptyOrNull) {
  const json expected{{"installed", {{"system", nullptr}, {"packages", json::object()}, {"devices", json::array()}}},
                      {"waiting", json::array()},
                      {"checked", nullptr},
                      {"offered", json::array()},
                      {"downloads", json::array()},
                      {"sessions", json::array()}};
  EXPECT_EQ(status::FirmwareDocument(ota::FirmwareStatus{}), expected);
  EXPECT_EQ(status::FirmwareSummary(ota::FirmwareStatus{}), (json{{"downloading", false}, {"sessions", 0}}));
}

TEST(FirmwareDocumentsTest, TheSummaryTellsADownloadInProgressAndCountsTheSessions) {
  ota::FirmwareStatus status = Snapshot();
  EXPECT_EQ(status::FirmwareSummary(status), (json{{"downloading", true}, {"sessions", 2}}));
  status.downloads.front().ended = kNow;
  status.sessions.pop_back();
  EXPECT_EQ(status::FirmwareSummary(status), (json{{"downloading", false}, {"sessions", 1}}));
}

}  // namespace
