// Address texts, pollers and one PLC against the stand-in PLC in process, with periods
// shortened: fold unit 300 ms instead of a minute, pauses after failures from 60 ms to 240 ms
// instead of 2 s to 60 s, grouping window 50 ms instead of 1 s.
#include "plc/plc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "plc/address_text.h"
#include "plc/plc_server.h"
#include "plc/read_groups.h"
#include "support/stack_size.h"
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
    options.client.answer_timeout = 1s;
    options.periods.fold_unit = 300ms;
    options.periods.retry = 60ms;
    options.periods.longest_retry = 240ms;
    options.periods.group_window = 50ms;
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

  json Requests() { return plc_server_.Control({{"cmd", "requests"}}).at("requests"); }
  json Status() { return plc_server_.Control({{"cmd", "status"}}); }

  testing_support::LogCapture log_;
  sim::plc::PlcServer plc_server_{ServerOptions()};
  Reports reports_;
};

// The id of the index-th value: 48 hexadecimal digits.
std::string ValueId(int index) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", 0xbe0c0000u + static_cast<unsigned>(index));
  std::string id;
  for (int copy = 0; copy < 6; ++copy) id += text;
  return id;
}

// Threads of this process.
std::size_t ThreadCount() {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
}

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

TEST(AddressText, TheMatcherAgreesWithTheAddressPatternAndLongTextsCostNoStack) {
  // The expression the address texts have always been matched against.
  const std::regex pattern("([0-9A-Fa-f]{48})\\.([a-zA-Z0-9_-]+)\\.([a-zA-Z])\\.([a-zA-Z])\\.([0-9]+)[\\.]?([0-9]+)?");
  const std::string id = "0123456789abcdefABCDEF0123456789abcdef0123456789";
  const std::vector<std::string> probes{
      id + ".temp.W.D.100", id + ".door.X.M.10.3", id + ".door.X.M.103", id + ".door.X.M.10.", id + ".k.w.d.0",
      id + ".x_1-2.D.D.4.7", id + ".-.Q.z.007.0012", id + ".temp.W.D.100.3.4", id + ".temp.W.D..3", id + ".temp.W.D.",
      id + ".temp.W.D", id + ".temp.WW.D.100", id + ".temp.W.DD.100", id + ".temp.1.D.100", id + "..W.D.100",
      id + ".te mp.W.D.100", id + ".te.mp.W.D.100", id + ".temp.W.D.100 ", id + ".temp.W.D.1a", id + ".temp.W.D.-1",
      id.substr(1) + ".temp.W.D.100", id + "0.temp.W.D.100", "g" + id.substr(1) + ".temp.W.D.100", id + "temp.W.D.100",
      id + ".temp.W.D.100\n", id + ".t\xc3\xa9.W.D.100", id + ".temp.\xc3.D.100", id + std::string(".temp.W.D.1\0", 12),
      " " + id + ".temp.W.D.100", "", ".", id, id + ".", id + ".temp.W.D.100.", id + ".temp.W.D.100..",
  };
  for (const auto& probe : probes) {
    std::smatch groups;
    const bool matched = std::regex_match(probe, groups, pattern);
    const auto parts = MatchAddressText(probe);
    ASSERT_EQ(parts.has_value(), matched) << probe;
    if (!matched) continue;
    EXPECT_EQ(parts->id, groups[1].str()) << probe;
    EXPECT_EQ(parts->key, groups[2].str()) << probe;
    EXPECT_EQ(std::string(1, parts->type_letter), groups[3].str()) << probe;
    EXPECT_EQ(std::string(1, parts->device_letter), groups[4].str()) << probe;
    EXPECT_EQ(parts->address_digits, groups[5].str()) << probe;
    EXPECT_EQ(parts->bit_digits.has_value(), groups[6].matched) << probe;
    if (groups[6].matched) {
      EXPECT_EQ(*parts->bit_digits, groups[6].str()) << probe;
    }
  }
  // Texts of any length, on a router's thread stack: one pass, no recursion.
  testing_support::LogCapture log;
  testing_support::RunWithStackOf(testing_support::kRouterThreadStack, [&] {
    for (const std::size_t length : {480u, 40000u, 1u << 20}) {
      const std::string long_part(length, '7');
      EXPECT_TRUE(ParseAddressText(id + "." + std::string(length, 'k') + ".W.D.100")) << length;
      EXPECT_FALSE(ParseAddressText(id + ".temp.W.D." + long_part)) << length;  // too large a number
      EXPECT_FALSE(ParseAddressText(id + ".door.X.M.100." + long_part)) << length;  // too large a bit
      EXPECT_FALSE(MatchAddressText(std::string(length, 'a'))) << length;
    }
  });
}

TEST(GroupReads, SixteenOfATypeToARequestInTheOrderGivenAndLoneValuesApart) {
  using xgt::fenet::DataType;
  std::vector<DueRead> due;
  for (std::uint32_t word = 0; word < 33; ++word) {
    due.push_back({"w" + std::to_string(word), {"k", 'D', DataType::kWord, word, 0}, word == 5});
    if (word == 2) due.push_back({"bit", {"b", 'M', DataType::kBit, 1, 3}, false});
  }
  const auto groups = GroupReads(due);
  std::vector<std::pair<std::string, std::size_t>> shape;  // first id, size
  for (const auto& group : groups) shape.emplace_back(group.ids.front(), group.ids.size());
  EXPECT_EQ(shape, (std::vector<std::pair<std::string, std::size_t>>{
                       {"w0", 16}, {"bit", 1}, {"w5", 1}, {"w17", 16}}));
  EXPECT_EQ(groups[0].ids[15], "w16");  // w5 read alone, so the first request ends at w16
  EXPECT_EQ(groups[3].ids.back(), "w32");
  for (const auto& group : groups) {
    for (const auto& address : group.addresses) EXPECT_EQ(address.type, group.addresses.front().type);
  }
  EXPECT_TRUE(GroupReads({}).empty());
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

TEST_F(PLCTest, ARefusingPlcCostsOneErrorLineAndOneWhenItAnswersAgainThenTheFoldResumes) {
  plc_server_.Control({{"cmd", "power"}, {"on", false}});
  PLC plc(Info({kTemp + ".temp.W.D.100"}), Options());
  ASSERT_TRUE(WaitUntil([&] { return Count(log_.Text(), "Read 1 value(s) of PLC 1") >= 5; }));
  std::string text = log_.Text();
  EXPECT_EQ(Count(text, "ERROR"), 1u) << text;
  EXPECT_EQ(Count(text, "PLC 1 is not answering: Cannot connect PLC [127.0.0.1] (Connection refused)"), 1u) << text;
  EXPECT_EQ(reports_.Size(), 0u);
  plc_server_.Control({{"cmd", "power"}, {"on", true}});
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 3; }));
  text = log_.Text();
  EXPECT_EQ(Count(text, "ERROR"), 1u) << text;
  EXPECT_EQ(Count(text, "PLC 1 answers again after "), 1u) << text;
  EXPECT_TRUE(log_.Contains(" read(s) failed meanwhile"));
  const auto times = reports_.Times();
  EXPECT_GE(times[2] - times[1], 250ms);  // back at the fold, not the retry period
}

TEST_F(PLCTest, AnUnansweringPlcIsAskedAgainAfterPausesDoublingToTheLongestAndAllItsValuesReadOnItsFirstAnswer) {
  plc_server_.Control({{"cmd", "mode"}, {"mode", "silent"}});
  std::vector<std::string> texts;
  for (int index = 0; index < 20; ++index) texts.push_back(ValueId(index) + ".v" + std::to_string(index) + ".W.D.100");
  auto options = Options();
  options.client.answer_timeout = 100ms;
  options.periods.retry = 200ms;
  options.periods.longest_retry = 800ms;
  PLC plc(Info(texts), options);
  // Each attempt: 100 ms without an answer, then the pause: 200, 400, 800, 800, ... ms. Timers
  // never end early, so the lower bounds are exact (less 10 ms for the request's way); the
  // upper bounds are generous, the machine being shared.
  ASSERT_TRUE(WaitUntil([&] { return Requests().size() >= 6; }, 20s));
  const auto requests = Requests();
  std::vector<std::int64_t> gaps;
  for (std::size_t index = 1; index < requests.size(); ++index) {
    gaps.push_back(requests[index].at("mono_ms").get<std::int64_t>() - requests[index - 1].at("mono_ms").get<std::int64_t>());
  }
  const std::int64_t pauses[] = {200, 400, 800, 800, 800};
  for (std::size_t index = 0; index < 5; ++index) {
    EXPECT_GE(gaps[index], 100 + pauses[index] - 10) << index;
    EXPECT_LE(gaps[index], 100 + pauses[index] + 2000) << index;
  }
  // Every attempt is one request for the first 16 values; the other 4 wait with them.
  for (const auto& request : requests) EXPECT_EQ(request.at("variables").size(), 16u);
  EXPECT_EQ(Count(log_.Text(), "ERROR"), 1u) << log_.Text();
  EXPECT_TRUE(log_.Contains("PLC 1 is not answering: PLC [127.0.0.1] did not answer (timed out)"));

  plc_server_.Control({{"cmd", "mode"}, {"mode", "normal"}});
  const auto answering = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 20; }, 10s));
  // Within one pause and one attempt (generous bounds).
  EXPECT_LT(reports_.Times()[19] - answering, 3s);
  EXPECT_EQ(Count(log_.Text(), "PLC 1 answers again after "), 1u);
}

TEST_F(PLCTest, ValuesDueTogetherAreReadSixteenOfATypeToARequestOnOneConnectionAndReportedOneByOne) {
  std::vector<std::string> texts;
  for (int index = 0; index < 17; ++index) {
    texts.push_back(ValueId(index) + ".w" + std::to_string(index) + ".W.D." + std::to_string(index == 16 ? 100 : index));
  }
  texts.push_back(kDoor + ".door.X.M.10.3");
  PLC plc(Info(texts), Options());
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 2 * 18; }));
  const auto requests = Requests();
  ASSERT_GE(requests.size(), 6u);
  std::multiset<std::size_t> sizes;
  for (std::size_t index = 0; index < 3; ++index) sizes.insert(requests[index].at("variables").size());
  EXPECT_EQ(sizes, (std::multiset<std::size_t>{16, 1, 1}));  // 16 words, the 17th word, the bit
  EXPECT_EQ(Status().at("accepted"), 1u);

  std::map<std::string, std::string> readings;  // id -> key=value
  for (const auto& text : reports_.Texts()) {
    const auto node = json::parse(text).at("nodes");
    ASSERT_EQ(node.size(), 1u);
    const auto value = node[0].at("vs");
    ASSERT_EQ(value.size(), 1u);
    EXPECT_TRUE(value[0].at("ts").is_number());
    readings[node[0].at("id")] = value[0].at("k").get<std::string>() + "=" + value[0].at("v").get<std::string>();
  }
  EXPECT_EQ(readings.size(), 18u);
  EXPECT_EQ(readings[ValueId(16)], "w16=215");
  EXPECT_EQ(readings[ValueId(3)], "w3=0");
  EXPECT_EQ(readings[kDoor], "door=1");
}

TEST_F(PLCTest, ARefusedRequestIsReadOneValueAtATimeSoABadAddressFailsOnlyItself) {
  // Word 40000 lies outside the stand-in's memory: it refuses any request naming it.
  PLC plc(Info({ValueId(0) + ".good0.W.D.100", ValueId(1) + ".bad.W.D.40000", ValueId(2) + ".good2.W.D.101"}),
          Options());
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 6; }));
  std::set<std::string> ids;
  for (const auto& text : reports_.Texts()) ids.insert(json::parse(text).at("nodes")[0].at("id"));
  EXPECT_EQ(ids, (std::set<std::string>{ValueId(0), ValueId(2)}));
  const std::string text = log_.Text();
  EXPECT_EQ(Count(text, "ERROR"), 1u) << text;
  EXPECT_TRUE(log_.Contains("PLC 1: PLC [127.0.0.1] refused the read of %DW40000: error state 0xFFFF, code 0x0004 (" +
                            ValueId(1) + ")"))
      << text;
  EXPECT_FALSE(log_.Contains("not answering"));
  // First the three together, then one by one; later the good two share a request again.
  const auto requests = Requests();
  EXPECT_EQ(requests[0].at("variables").size(), 3u);
  EXPECT_EQ(requests[1].at("variables").size(), 1u);
  bool shared_again = false;
  for (const auto& request : requests) {
    shared_again = shared_again || request.at("variables") == json::array({"%DW100", "%DW101"});
  }
  EXPECT_TRUE(shared_again);
}

TEST_F(PLCTest, APlcPollsOnOneThreadOfItsOwnAlsoForAHostName) {
  const auto before = ThreadCount();
  auto info = Info({kTemp + ".temp.W.D.100"});
  info.ip_address = "localhost";
  PLC plc(info, Options());
  ASSERT_TRUE(WaitUntil([&] { return reports_.Size() >= 2; }));
  EXPECT_EQ(ThreadCount(), before + 1);
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

TEST_F(PLCTest, TheStatusTellsIdleFailingAndAnsweringWithTheReadsAndTheLastError) {
  const auto made = std::chrono::steady_clock::now();
  const PLC idle(Info({}), Options());
  const PlcStatus untouched = idle.Status();
  EXPECT_EQ(untouched.id, 1u);
  EXPECT_EQ(untouched.name, "line");
  EXPECT_EQ(untouched.host, "127.0.0.1");
  EXPECT_EQ(untouched.reads.state, PlcState::kIdle);
  EXPECT_GE(untouched.reads.since, made);
  EXPECT_EQ(untouched.reads.reads_ok + untouched.reads.reads_failed, 0u);
  EXPECT_EQ(untouched.reads.last_error, "");

  plc_server_.Control({{"cmd", "power"}, {"on", false}});
  PLC plc(Info({kTemp + ".temp.W.D.100"}), Options());
  ASSERT_TRUE(WaitUntil([&] { return plc.Status().reads.reads_failed >= 2; }));
  const PlcStatus failing = plc.Status();
  EXPECT_EQ(failing.reads.state, PlcState::kFailing);
  EXPECT_EQ(failing.reads.reads_ok, 0u);
  EXPECT_EQ(failing.reads.last_error, "Cannot connect PLC [127.0.0.1] (Connection refused)");

  plc_server_.Control({{"cmd", "power"}, {"on", true}});
  ASSERT_TRUE(WaitUntil([&] { return plc.Status().reads.reads_ok >= 2; }));
  const PlcStatus answering = plc.Status();
  EXPECT_EQ(answering.reads.state, PlcState::kAnswering);
  EXPECT_GT(answering.reads.since, failing.reads.since);
  EXPECT_GE(answering.reads.reads_failed, failing.reads.reads_failed);
  EXPECT_EQ(answering.reads.last_error, failing.reads.last_error);  // the latest error stays on show

  // A PLC that answers with an error state answers all the same; the refusal counts as failed.
  PLCInfo refusing = Info({ValueId(1) + ".bad.W.D.40000"});
  refusing.id = 2;
  const PLC refused(refusing, Options());
  ASSERT_TRUE(WaitUntil([&] { return refused.Status().reads.reads_failed >= 1; }));
  EXPECT_EQ(refused.Status().reads.state, PlcState::kAnswering);
  EXPECT_NE(refused.Status().reads.last_error.find("refused the read of %DW40000"), std::string::npos)
      << refused.Status().reads.last_error;
}
