// The FEnet client against the stand-in PLC in process: the bytes it sends, the documents it
// makes, every way a read can fail (one error line each, never a crash), the kept connection
// and reads of several variables in one request.
#include "xgt/fenet/client.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "plc/plc_server.h"
#include "sim-cloud/stand_in_cloud.h"
#include "support/wait.h"
#include "xgt/fenet/value_text.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string kId(48, 'a');

sim::plc::ServerOptions LoopbackPlc(std::uint8_t slot) {
  sim::plc::ServerOptions options;
  options.listen.port(0);
  options.slot = slot;
  options.setup = json{{"values", {{"DW100", 1234}, {"DW7", 0xFB2E}, {"MX10.3", 1}, {"DD20", 70000}}}};
  return options;
}

class FenetClientTest : public ::testing::Test {
 protected:
  FenetClientTest() { plc_.Start(); }

  xgt::fenet::ClientOptions Options() const {
    xgt::fenet::ClientOptions options;
    options.port = std::to_string(plc_.Port());
    options.answer_timeout = 500ms;
    options.clock = [] { return std::int64_t{1700000000}; };
    return options;
  }
  std::unique_ptr<xgt::fenet::Client> MakeClient(std::uint8_t slot = 1) {
    return std::make_unique<xgt::fenet::Client>("127.0.0.1", 0, slot, Options());
  }
  json Requests() { return plc_.Control({{"cmd", "requests"}}).at("requests"); }
  std::uint64_t Accepted() { return plc_.Control({{"cmd", "status"}}).at("accepted"); }
  std::size_t ErrorLines() const {
    const std::string text = log_.Text();
    std::size_t count = 0;
    for (std::size_t at = text.find("ERROR"); at != std::string::npos; at = text.find("ERROR", at + 1)) ++count;
    return count;
  }

  testing_support::LogCapture log_;
  sim::plc::PlcServer plc_{LoopbackPlc(1)};
};

}  // namespace

TEST(ValueText, ScaledKeysReadHundredthsOfTheLowSignedWordOthersTheWholeValue) {
  struct Case {
    const char* key;
    std::uint64_t value;
    const char* text;
  };
  const Case cases[] = {
      {"PH", 0xFB2E, "-12.340000"},       {"AT", 2550, "25.500000"},
      {"EC", 0x1234FB2E, "-12.340000"},  // only the low 16 bits count
      {"temp", 0xFB2E, "64302"},          {"ph", 1234, "1234"},  // keys are case-sensitive
      {"door", 18446744073709551615ull, "18446744073709551615"},
  };
  for (const auto& c : cases) EXPECT_EQ(xgt::fenet::ValueText(c.key, c.value), c.text) << c.key;
}

TEST_F(FenetClientTest, AWordReadSendsTheExactRequestAndMakesTheReportDocument) {
  auto client = MakeClient();
  client->AddMemoryAddress(kId, {"temp", 'D', xgt::fenet::DataType::kWord, 100, 0});
  const auto [ok, document] = client->ReadMemory(kId);
  ASSERT_TRUE(ok);
  EXPECT_EQ(document.dump(), R"({"nodes":[{"id":")" + kId + R"(","vs":[{"k":"temp","ts":1700000000,"v":"1234"}]}]})");
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].at("problems"), json::array());
  // Header: company id, PLC info, CPU info, source 0x33, invoke id, length 16, position 0x01, checksum;
  // then read command, word type, reserved, one block, name length 6, "%DW100".
  EXPECT_EQ(requests[0].at("frame"),
            "4c5349532d58475400000000003300001000" "0100"
            "540002000000010006002544573130" "30");
}

TEST_F(FenetClientTest, ReadsBitsDoubleWordsAndScaledKeysAndReportsTheAddressText) {
  auto client = MakeClient();
  const auto bit = client->ReadMemory(xgt::MemoryAddress{"door", 'M', xgt::fenet::DataType::kBit, 10, 3});
  ASSERT_TRUE(bit.first);
  EXPECT_EQ(bit.second, (json{{"address", "M10.3"}, {"value", 1}}));
  const auto dword = client->ReadMemory(xgt::MemoryAddress{"flow", 'D', xgt::fenet::DataType::kDoubleWord, 20, 0});
  ASSERT_TRUE(dword.first);
  EXPECT_EQ(dword.second.at("value"), 70000);
  client->AddMemoryAddress(kId, {"PH", 'D', xgt::fenet::DataType::kWord, 7, 0});
  EXPECT_EQ(client->ReadMemory(kId).second.at("nodes")[0].at("vs")[0].at("v"), "-12.340000");
  for (const auto& request : Requests()) EXPECT_EQ(request.at("problems"), json::array()) << request.dump();
  EXPECT_EQ(Requests()[0].at("variable"), "%MX103");
}

// The stand-in's record tells when each read came and what it answered, so a benchmark can
// count the readings the PLC gave and match them with what reached the cloud.
TEST_F(FenetClientTest, TheStandInRecordsWhenEachReadCameAndTheValueItAnswered) {
  const auto monotonic_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  auto client = MakeClient();
  const auto before = monotonic_ms();
  ASSERT_TRUE(client->ReadMemory(xgt::MemoryAddress{"flow", 'D', xgt::fenet::DataType::kDoubleWord, 20, 0}).first);
  plc_.Control({{"cmd", "mode"}, {"mode", "error"}});
  EXPECT_FALSE(client->ReadMemory(xgt::MemoryAddress{"flow", 'D', xgt::fenet::DataType::kDoubleWord, 20, 0}).first);
  const auto after = monotonic_ms();

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].at("value"), 70000);
  EXPECT_FALSE(requests[1].contains("value")) << "an error answer reads nothing";
  for (const auto& request : requests) {
    EXPECT_GE(request.at("mono_ms").get<std::int64_t>(), before);
    EXPECT_LE(request.at("mono_ms").get<std::int64_t>(), after);
  }
}

TEST_F(FenetClientTest, EveryFaultOfThePlcFailsTheReadWithOneErrorLine) {
  struct Case {
    json command;
    const char* line;
  };
  const Case cases[] = {
      {{{"cmd", "mode"}, {"mode", "error"}, {"error_code", 0x12}}, "error state 0xFFFF, code 0x0012"},
      {{{"cmd", "mode"}, {"mode", "silent"}}, "did not answer (timed out)"},
      {{{"cmd", "mode"}, {"mode", "short"}}, "did not answer"},
      {{{"cmd", "mode"}, {"mode", "oversized"}}, "announced a frame of 60000 bytes"},
      {{{"cmd", "mode"}, {"mode", "mismatch"}}, "does not match the read"},
      {{{"cmd", "power"}, {"on", false}}, "Cannot connect PLC [127.0.0.1]"},
  };
  auto client = MakeClient();
  const xgt::MemoryAddress address{"temp", 'D', xgt::fenet::DataType::kWord, 100, 0};
  for (const auto& c : cases) {
    ASSERT_TRUE(plc_.Control(c.command).at("ok")) << c.command.dump();
    const auto errors_before = ErrorLines();
    const auto [ok, result] = client->ReadMemory(address);
    EXPECT_FALSE(ok) << c.command.dump();
    EXPECT_TRUE(result.is_null());
    EXPECT_EQ(ErrorLines(), errors_before + 1) << c.command.dump() << "\n" << log_.Text();
    EXPECT_TRUE(log_.Contains(c.line)) << c.line;
    plc_.Control({{"cmd", "mode"}, {"mode", "normal"}});
    plc_.Control({{"cmd", "power"}, {"on", true}});
    EXPECT_TRUE(client->ReadMemory(address).first) << "after " << c.command.dump();
  }
}

TEST_F(FenetClientTest, AWrongSlotIsRefusedByTheModuleAndSetParamsAppliesToTheNextRead) {
  auto client = MakeClient(2);
  const xgt::MemoryAddress address{"temp", 'D', xgt::fenet::DataType::kWord, 100, 0};
  EXPECT_FALSE(client->ReadMemory(address).first);
  EXPECT_EQ(Requests()[0].at("problems")[0], "FEnet position is 0x2, this module sits at 0x1");
  client->SetParams(0, 1, "127.0.0.1");
  EXPECT_TRUE(client->ReadMemory(address).first);
  // 0.0.0.0, a PLC without address, would reach this host (and the stand-in) if connected to.
  client->SetParams(0, 1, "0.0.0.0");
  EXPECT_FALSE(client->ReadMemory(address).first);
  EXPECT_TRUE(log_.Contains("Cannot connect PLC [0.0.0.0]"));
  EXPECT_EQ(Requests().size(), 2u);
  client->SetParams(0, 1, "no-such-host.invalid");
  EXPECT_FALSE(client->ReadMemory(address).first);
  EXPECT_TRUE(log_.Contains("Cannot connect PLC [no-such-host.invalid]"));
}

TEST_F(FenetClientTest, AnUnknownIdFailsAndAddressesAreReplacedOrForgotten) {
  auto client = MakeClient();
  EXPECT_FALSE(client->ReadMemory(kId).first);
  client->AddMemoryAddress(kId, {"temp", 'D', xgt::fenet::DataType::kWord, 100, 0});
  client->AddMemoryAddress(kId, {"PH", 'D', xgt::fenet::DataType::kWord, 7, 0});
  EXPECT_EQ(client->FindMemoryAddress(kId)->key, "PH");
  client->KeepMemoryAddresses({});
  EXPECT_FALSE(client->FindMemoryAddress(kId));
  EXPECT_FALSE(client->WriteMemory());
}

TEST_F(FenetClientTest, OneConnectionCarriesManyReadsAndAnyFailureMakesTheNextReadConnectAgain) {
  auto client = MakeClient();
  const xgt::MemoryAddress address{"temp", 'D', xgt::fenet::DataType::kWord, 100, 0};
  for (int read = 0; read < 20; ++read) ASSERT_TRUE(client->ReadMemory(address).first);
  EXPECT_EQ(Accepted(), 1u);
  EXPECT_EQ(Requests().size(), 20u);

  // A PLC that closes the idle connection (a restart) costs no failed read: the next read
  // notices and connects again.
  plc_.Control({{"cmd", "restart"}, {"off_ms", 0}});
  ASSERT_TRUE(testing_support::WaitUntil([&] { return plc_.Control({{"cmd", "status"}}).at("power") == true; }));
  EXPECT_TRUE(client->ReadMemory(address).first) << log_.Text();
  EXPECT_EQ(Accepted(), 2u);

  const json failures[] = {
      {{"cmd", "mode"}, {"mode", "error"}},    {{"cmd", "mode"}, {"mode", "silent"}},
      {{"cmd", "mode"}, {"mode", "short"}},    {{"cmd", "mode"}, {"mode", "oversized"}},
      {{"cmd", "mode"}, {"mode", "mismatch"}},
  };
  for (const auto& failure : failures) {
    plc_.Control(failure);
    EXPECT_FALSE(client->ReadMemory(address).first) << failure.dump();
    plc_.Control({{"cmd", "mode"}, {"mode", "normal"}});
    const auto accepted = Accepted();
    EXPECT_TRUE(client->ReadMemory(address).first) << failure.dump();
    EXPECT_TRUE(client->ReadMemory(address).first) << failure.dump();
    EXPECT_EQ(Accepted(), accepted + 1) << "one new connection after " << failure.dump();
  }

  // A new host gets a new connection.
  client->SetParams(0, 1, "localhost");
  const auto accepted = Accepted();
  EXPECT_TRUE(client->ReadMemory(address).first);
  EXPECT_EQ(Accepted(), accepted + 1);
}

TEST_F(FenetClientTest, TheWholeAnswerHasOneDeadline) {
  auto client = MakeClient();  // 500 ms for the answer
  const xgt::MemoryAddress address{"temp", 'D', xgt::fenet::DataType::kWord, 100, 0};
  // The header after 300 ms and the rest 300 ms later: each part in time, the whole too late.
  plc_.Control({{"cmd", "mode"}, {"mode", "split"}});
  plc_.Control({{"cmd", "delay"}, {"ms", 300}});
  EXPECT_FALSE(client->ReadMemory(address).first);
  EXPECT_TRUE(log_.Contains("header bytes but not the")) << log_.Text();
  plc_.Control({{"cmd", "delay"}, {"ms", 100}});
  EXPECT_TRUE(client->ReadMemory(address).first) << log_.Text();
}

TEST_F(FenetClientTest, OneRequestReadsUpToSixteenVariablesOfOneType) {
  auto client = MakeClient();
  std::vector<xgt::MemoryAddress> addresses;
  for (std::uint32_t word = 0; word < 16; ++word) {
    addresses.push_back({"w" + std::to_string(word), 'D', xgt::fenet::DataType::kWord, word, 0});
  }
  addresses[7].address = 100;  // 1234 in the stand-in's memory
  const auto outcome = client->Read(addresses);
  ASSERT_EQ(outcome.status, xgt::fenet::ReadOutcome::Status::kRead) << outcome.reason;
  ASSERT_EQ(outcome.values.size(), 16u);
  EXPECT_EQ(outcome.values[7], 1234u);
  EXPECT_EQ(outcome.values[0], 0u);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].at("variables").size(), 16u);
  EXPECT_EQ(requests[0].at("variables")[7], "%DW100");
  EXPECT_EQ(requests[0].at("problems"), json::array());

  addresses.push_back({"w16", 'D', xgt::fenet::DataType::kWord, 16, 0});
  EXPECT_THROW(client->Read(addresses), std::invalid_argument);
  EXPECT_THROW(client->Read({{"a", 'D', xgt::fenet::DataType::kWord, 1, 0}, {"b", 'M', xgt::fenet::DataType::kBit, 1, 0}}),
               std::invalid_argument);

  // One address outside the PLC's memory: the PLC refuses the whole request.
  addresses.pop_back();
  addresses[3].address = 40000;
  const auto refused = client->Read(addresses);
  EXPECT_EQ(refused.status, xgt::fenet::ReadOutcome::Status::kRefused);
  EXPECT_NE(refused.reason.find("refused the read of %DW0 and 15 more: error state 0xFFFF, code 0x0004"),
            std::string::npos)
      << refused.reason;
}
