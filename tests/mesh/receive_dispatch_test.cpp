// The receive dispatch alone, with an outlet that records what it is handed: text from nodes
// (and kinds from the cloud) that is not valid UTF-8 is carried with replacement characters and
// never throws, whichever path logs or dumps it.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "mesh/receive_dispatch.h"
#include "packet/log_capture.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

constexpr std::uint16_t kSource = 0x0100;
const std::string kDeviceId = "aabbccddeeff";
const std::string kBadKind = "t\xff";          // a lone byte that starts no UTF-8 sequence
const std::string kReplaced = "t\xef\xbf\xbd";  // the same with U+FFFD in its place

// The cloud knows every device, with one fold whose kind is not UTF-8 (a minute: polled 65
// "seconds" after a report of it); what is reported and queued is recorded.
class RecordingOutlet : public DispatchOutlet {
 public:
  void Report(const std::string& report) override {
    const std::lock_guard<std::mutex> guard(lock_);
    reports_.push_back(report);
  }
  // Answered at once, as the fetcher does from its cache.
  void RequestDeviceSettings(const std::string& device_id, bool with_beacon) override {
    if (dispatch != nullptr) dispatch->ApplyDeviceSettings(device_id, {true, json{{kBadKind, 1}}}, with_beacon);
  }
  bool FirmwareBlock(std::uint16_t, int, int, ota::Block&) override { return false; }
  void Enqueue(const MeshMessage& message) override {
    const std::lock_guard<std::mutex> guard(lock_);
    queued_.push_back(message.data);
  }
  void Subscribe(const std::string& /*device_id*/) override {}

  ReceiveDispatch* dispatch = nullptr;

  std::vector<std::string> Reports() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return reports_;
  }
  // Queued sensor data gets (C0 F1 05).
  std::size_t Polls() const {
    const std::lock_guard<std::mutex> guard(lock_);
    std::size_t polls = 0;
    for (const auto& data : queued_) polls += data.size() > 3 && data[0] == 0xC0 && data[1] == 0xF1 ? 1 : 0;
    return polls;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> reports_;
  std::vector<std::vector<std::uint8_t>> queued_;
};

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> prefix, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> bytes(prefix);
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

std::vector<std::uint8_t> Announcement() {
  return {0xC4, 0xF1, 0x05, 0x01, 0x20, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01, 0x01, 1, 2, 3, 4, 0, 0};
}

// A sensor data status with `value` (a JSON object whose strings may hold any bytes) as CBOR.
std::vector<std::uint8_t> SensorData(const json& value) {
  const std::vector<std::uint8_t> body = json::to_cbor(value);
  return Bytes({0xC1, 0xF1, 0x05, static_cast<std::uint8_t>((body.size() - 1) << 1), 0, 0}, body);
}

std::vector<std::uint8_t> FoldAcknowledgement(const json& folds) {
  return Bytes({0xC4, 0xF1, 0x05, 0x02, 0x20, 0x00}, json::to_cbor(folds));
}

TEST(ReceiveDispatchTest, TextThatIsNotUtf8IsReplacedInReportsAndLogsAndNeverThrows) {
  packet_test::LogCapture log;
  const WatchdogTiming timing{std::make_shared<timer::TimerWorker>(), 20ms};
  RecordingOutlet outlet;
  NodeRegistry nodes;
  ReceiveDispatch dispatch(nodes, outlet, timing);
  outlet.dispatch = &dispatch;
  // The node takes the cloud's folds: its kind watchdog and the folds message carry the bad kind.
  ASSERT_NO_THROW(dispatch.Dispatch({MeshMessage::kReceived, kSource, Announcement()}));
  ASSERT_EQ(nodes.CountAt(kSource), 1u);

  struct Case {
    const char* what;
    std::vector<std::uint8_t> data;
    std::string reported_id;  // empty: nothing is reported
    json reported_value;      // the report's value without "ts"
  };
  const std::vector<Case> cases{
      {"a kind that is not UTF-8", SensorData({{"k", kBadKind}, {"v", 1}}), kDeviceId, {{"k", kReplaced}, {"v", "1"}}},
      {"a member name that is not UTF-8", SensorData({{"k", "temp"}, {kBadKind, "x\xc3"}, {"v", 2}}), kDeviceId,
       {{"k", "temp"}, {kReplaced, "x\xef\xbf\xbd"}, {"v", "2"}}},
      {"a channel report, logged whole before its channel is taken",
       SensorData({{"k", kBadKind}, {"v", 3}, {"c", 2}}), kDeviceId + "_2", {{"k", kReplaced}, {"v", "3"}}},
      {"a channel beyond 16 bits does not wrap onto sub-device 1", SensorData({{"k", "temp"}, {"v", 4}, {"c", 65537}}),
       kDeviceId + "_65537", {{"k", "temp"}, {"v", "4"}}},
      {"a fold acknowledgement with a kind that is not UTF-8", FoldAcknowledgement({{kBadKind, 0}}), "", nullptr},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.what);
    const std::size_t before = outlet.Reports().size();
    ASSERT_NO_THROW(dispatch.Dispatch({MeshMessage::kReceived, kSource, entry.data}));
    const auto reports = outlet.Reports();
    if (entry.reported_id.empty()) {
      EXPECT_EQ(reports.size(), before);
      continue;
    }
    ASSERT_EQ(reports.size(), before + 1);
    ASSERT_TRUE(json::accept(reports.back())) << reports.back();
    json node = json::parse(reports.back()).at("nodes").at(0);
    EXPECT_EQ(node.at("id"), entry.reported_id);
    node.at("vs").at(0).erase("ts");
    EXPECT_EQ(node.at("vs").at(0), entry.reported_value);
  }
  EXPECT_NE(log.Text().find(kReplaced), std::string::npos) << "the dumped folds and reports show U+FFFD";

  // The report of the bad kind restarted its watchdog: it polls with the bad kind and logs it.
  dispatch.Dispatch({MeshMessage::kReceived, kSource, SensorData({{"k", kBadKind}, {"v", 5}})});
  EXPECT_TRUE(WaitUntil([&] { return outlet.Polls() >= 1; }, 5s));
}

}  // namespace

namespace {

TEST(ReceiveDispatchTest, AReportCarriesTheTimeItWasDeliveredAndAnAnnouncementAddsOnlyMissingSubDevices) {
  const WatchdogTiming timing{std::make_shared<timer::TimerWorker>(), 20ms};
  RecordingOutlet outlet;
  NodeRegistry nodes;
  ReceiveDispatch dispatch(nodes, outlet, timing);
  // Two of a three-channel device's sub-devices are known, its main node and channel 3 not.
  std::vector<std::shared_ptr<MeshNode>> known;
  for (const std::uint16_t channel : {1, 2}) {
    known.push_back(std::make_shared<MeshNode>(kSource, 0x192, kDeviceId + "_" + std::to_string(channel), "1.0", 0,
                                               [](auto, auto) {}, channel, timing));
    nodes.Add(known.back());
  }
  std::vector<std::uint8_t> announcement = Announcement();
  announcement[12] = 0x92;  // device type 0x192: three channels
  announcement[13] = 0x01;
  dispatch.Dispatch({MeshMessage::kReceived, kSource, announcement});
  EXPECT_EQ(nodes.CountAt(kSource), 4u);
  EXPECT_EQ(nodes.Find(kSource, kDeviceId + "_1"), known[0]) << "a known sub-device is kept as it is";
  EXPECT_EQ(nodes.Find(kSource, kDeviceId + "_2"), known[1]);
  EXPECT_TRUE(nodes.Find(kSource, kDeviceId + "_3"));
  EXPECT_TRUE(nodes.MainNode(kSource));

  dispatch.Dispatch({MeshMessage::kReceived, kSource, SensorData({{"k", "temp"}, {"v", 7}}), 1'700'000'123});
  ASSERT_FALSE(outlet.Reports().empty());
  EXPECT_EQ(json::parse(outlet.Reports().back()).at("nodes")[0].at("vs")[0].at("ts"), 1'700'000'123);
}

}  // namespace
