// Address texts, pollers and one PLC against the stand-in PLC in process, with periods
// shortened: fold unit 300 ms instead of a minute, retry 60 ms instead of 2 s.
#include "plc/plc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "plc/address_text.h"
#include "plc/plc_server.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::WaitUntil;

namespace {

const std::string kTemp(48, 'a');
const std::string kDoor(48, 'B');

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class Reports {
 public:
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& text) {
      const std::lock_guard<std::mutex> guard(lock_);
      texts_.push_back(text);
      times_.push_back(std::chrono::steady_clock::now());
    };
  }
  std::size_t Size() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return texts_.size();
  }
  std::vector<std::string> Texts() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return texts_;
  }
  std::vector<std::chrono::steady_clock::time_point> Times() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return times_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> texts_;
  std::vector<std::chrono::steady_clock::time_point> times_;
};

class PLCTest : public ::testing::Test {
 protected:
  PLCTest() { plc_server_.Start(); }

  static sim::plc::ServerOptions ServerOptions() {
    sim::plc::ServerOptions options;
    options.listen.port(0);
    options.setup = json{{"values", {{"DW100", 215}, {"MX10.3", 1}}}};
    return options;
  }
  PLCOptions Options() {
    PLCOptions options;
    options.client.port = std::to_string(plc_server_.Port());
    options.client.read_timeout = 1s;
    options.periods.fold_unit = 300ms;
    options.periods.retry = 60ms;
    options.report = reports_.Sink();
    return options;
  }
  static PLCInfo Info(std::vector<std::string> addresses) {
    PLCInfo info;
    info.id = 1;
    info.name = "line";
    info.ip_address = "127.0.0.1";
    info.plc_addresses = std::move(addresses);
    return info;
  }

  testing_support::LogCapture log_;
  sim::plc::PlcServer plc_server_{ServerOptions()};
  Reports reports_;
};

}  // namespace

TEST(AddressText, ParsesWordsAndBitsAndRefusesBadEntriesOneByOne) {
  testing_support::LogCapture log;
  const auto word = ParseAddressText(kTemp + ".temp.W.D.100");
  ASSERT_TRUE(word);
  EXPECT_EQ(word->id, kTemp);
  EXPECT_EQ(word->address, (xgt::MemoryAddress{"temp", 'D', xgt::fenet::DataType::kWord, 100, 0}));
  const auto bit = ParseAddressText(kDoor + ".door.X.M.10.3");
  ASSERT_TRUE(bit);
  EXPECT_EQ(bit->address, (xgt::MemoryAddress{"door", 'M', xgt::fenet::DataType::kBit, 10, 3}));
  // A bit number after a non-bit type is ignored.
  EXPECT_EQ(ParseAddressText(kTemp + ".x_1-2.D.D.4.7")->address,
            (xgt::MemoryAddress{"x_1-2", 'D', xgt::fenet::DataType::kDoubleWord, 4, 0}));

  struct Refused {
    std::string text;
    const char* error;  // nullptr: skipped silently
  };
  const Refused refused[] = {
      {kTemp.substr(1) + ".temp.W.D.100", nullptr},   // 47 digits
      {kTemp + ".temp.W.D.", nullptr},                 // no address
      {kTemp + ".temp.WW.D.100", nullptr},             // two type letters
      {kTemp + ".te mp.W.D.100", nullptr},             // a space in the key
      {kTemp + ".temp.Q.D.100", "Unknown data type letter 'Q'"},
      {kTemp + ".temp.w.D.100", "Unknown data type letter 'w'"},
      {kTemp + ".temp.W.D.2147483648", "Address number too large"},
      {kTemp + ".temp.W.D.99999999999999999999999", "Address number too large"},
      {kDoor + ".door.X.M.10.16", "Bit number above 15"},
  };
  for (const auto& entry : refused) {
    const auto errors_before = Count(log.Text(), "ERROR");
    EXPECT_FALSE(ParseAddressText(entry.text)) << entry.text;
    EXPECT_EQ(Count(log.Text(), "ERROR"), errors_before + (entry.error != nullptr ? 1 : 0)) << entry.text;
    if (entry.error != nullptr) {
      EXPECT_TRUE(log.Contains(entry.error)) << entry.text;
    }
  }
  EXPECT_TRUE(ParseAddressText(kTemp + ".temp.W.D.2147483647"));
}

TEST(FoldOf, TheLastElementWinsNoneGivesTenAndBadValuesAreRefused) {
  testing_support::LogCapture log;
  EXPECT_EQ(FoldOf(json::array({5, 15})), 15);
  EXPECT_EQ(FoldOf(json::array()), 10);
  EXPECT_EQ(FoldOf(json{{"humi", 3}, {"temp", 7}}), 7);  // values in the object's (sorted) order
  EXPECT_EQ(FoldOf(json(4)), 4);
  EXPECT_EQ(FoldOf(json(2.9)), 2);
  for (const json& bad : {json("5"), json(0), json(-3), json::array({5, nullptr}), json(1e12)}) {
    EXPECT_FALSE(FoldOf(bad)) << bad.dump();
  }
}

TEST_F(PLCTest, UnsupportedVendorOrProtocolIsRefusedWithItsMessage) {
  auto info = Info({});
  info.vendor = "siemens";
  EXPECT_THROW(
      try { PLC plc(info, Options()); } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unsupported PLC Vendor.");
        throw;
      },
      std::runtime_error);
  info.vendor = "ls";
  info.proto = "modbus";
  PLC plc(Info({}), Options());
  EXPECT_THROW(
      try { plc.UpdateParams(info); } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unsupported PLC Protocol.");
        throw;
      },
      std::runtime_error);
}

TEST_F(PLCTest, PollsEveryAddressAtItsFoldAndReportsEachReading) {
  PLC plc(Info({kTemp + ".temp.W.D.100", kDoor + ".door.X.M.10.3", "not an address"}), Options());
  EXPECT_EQ(plc.Pollers(), (std::vector<std::pair<std::string, int>>{{kTemp, 1}, {kDoor, 1}}));
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 4; }));
  std::set<std::string> values;
  for (const auto& text : reports_.Texts()) {
    const auto value = json::parse(text).at("nodes")[0];
    values.insert(value.at("id").get<std::string>() + "=" + value.at("vs")[0].at("v").get<std::string>());
  }
  EXPECT_EQ(values, (std::set<std::string>{kTemp + "=215", kDoor + "=1"}));
  const auto times = reports_.Times();
  EXPECT_GE(times[2] - times[0], 250ms);  // one fold (300 ms) between rounds, not a busy loop
}

TEST_F(PLCTest, ASilentPlcIsRetriedAtTheRetryPeriodWithOneErrorLinePerAttemptThenTheFoldResumes) {
  plc_server_.Control({{"cmd", "power"}, {"on", false}});
  PLC plc(Info({kTemp + ".temp.W.D.100"}), Options());
  ASSERT_TRUE(WaitUntil([&] { return Count(log_.Text(), "Cannot connect PLC [127.0.0.1]") >= 5; }));
  const std::string text = log_.Text();
  EXPECT_EQ(Count(text, "ERROR"), Count(text, "Cannot connect PLC"));  // one line per attempt, nothing else
  EXPECT_EQ(reports_.Size(), 0u);
  plc_server_.Control({{"cmd", "power"}, {"on", true}});
  const auto attempts = Count(log_.Text(), "Cannot connect PLC");
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 3; }));
  const auto times = reports_.Times();
  EXPECT_GE(times[2] - times[1], 250ms);  // back at the fold, not the retry period
  EXPECT_LE(Count(log_.Text(), "Cannot connect PLC"), attempts + 1);  // at most one attempt was under way
}

TEST_F(PLCTest, FoldsReachTheirPollerAndARefreshedListResetsFoldsAndRemovesUnlistedPollers) {
  PLC plc(Info({kTemp + ".temp.W.D.100", kDoor + ".door.X.M.10.3"}), Options());
  EXPECT_TRUE(plc.UpdateFolds(kDoor, json::array({5, 15})));
  EXPECT_FALSE(plc.UpdateFolds(std::string(48, 'c'), json::array({5})));
  EXPECT_TRUE(plc.UpdateFolds(kTemp, json("x")));  // refused: the fold stays
  EXPECT_EQ(plc.Pollers(), (std::vector<std::pair<std::string, int>>{{kTemp, 1}, {kDoor, 15}}));
  plc.ParseFENetMemoryAddresses({kDoor + ".door.X.M.11.0"});
  EXPECT_EQ(plc.Pollers(), (std::vector<std::pair<std::string, int>>{{kDoor, 1}}));
  EXPECT_TRUE(log_.Contains("Delete : " + kTemp));
  EXPECT_FALSE(plc.Client()->FindMemoryAddress(kTemp));
  EXPECT_EQ(plc.Client()->FindMemoryAddress(kDoor)->address, 11u);
}

TEST_F(PLCTest, UpdateParamsSendsTheNextReadToTheNewSlot) {
  PLC plc(Info({kTemp + ".temp.W.D.100"}), Options());
  auto moved = Info({kTemp + ".temp.W.D.100"});
  moved.slot = 3;
  moved.base = 1;
  EXPECT_TRUE(plc.UpdateParams(moved));
  ASSERT_TRUE(WaitUntil([&] { return !plc_server_.Control({{"cmd", "requests"}}).at("requests").empty(); }));
  const auto request = plc_server_.Control({{"cmd", "requests"}}).at("requests")[0];
  EXPECT_EQ(request.at("problems")[0], "FEnet position is 0x13, this module sits at 0x0");
}

TEST_F(PLCTest, APlcRemovedDuringAReadOutlivesTheReadAndReportsNothingAfterwards) {
  plc_server_.Control({{"cmd", "delay"}, {"ms", 400}});
  auto plc = std::make_unique<PLC>(Info({kTemp + ".temp.W.D.100"}), Options());
  ASSERT_TRUE(WaitUntil([&] { return !plc_server_.Control({{"cmd", "requests"}}).at("requests").empty(); }));
  const auto started = std::chrono::steady_clock::now();
  plc.reset();  // the read in flight ends first
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  const auto reports = reports_.Size();
  EXPECT_LE(reports, 1u);
  std::this_thread::sleep_for(400ms);  // no poller left to report
  EXPECT_EQ(reports_.Size(), reports);
}
