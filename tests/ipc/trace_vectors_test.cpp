// The recorded conversations of the platform's own broker and tools, byte for byte.
#include <gtest/gtest.h>

#include <functional>

#include "ipc/blobmsg_json.h"
#include "ipc/message.h"
#include "ipc/trace_file.h"

namespace {

using ipc::AttributeId;
using ipc::Message;
using ipc::MessageType;
using ipc_test::ReadTrace;
using ipc_test::TraceMessage;

const std::vector<std::string> kTraces = {
    "01-connect-hello.txt",        "02-lookup-invoke-uci-get.txt", "03-invoke-unknown-object.txt",
    "04-event-listen-send.txt",    "05-invoke-typed-argument.txt", "06-add-object-with-signature.txt",
    "07-invoke-unknown-method.txt", "08-uci-get-missing-section.txt", "09-invoke-empty-argument.txt",
    "10-event-value-types.txt"};

const TraceMessage& Nth(const std::vector<TraceMessage>& trace, int number) {
  for (const auto& message : trace) {
    if (message.number == number) return message;
  }
  throw std::runtime_error("no message " + std::to_string(number));
}

Message DecodeOrFail(const std::vector<std::uint8_t>& bytes) {
  std::string error;
  auto message = ipc::Decode(bytes.data(), bytes.size(), error);
  if (!message) throw std::runtime_error(error);
  return *message;
}

ipc::blobmsg::Members DataOf(const std::vector<TraceMessage>& trace, int number) {
  const Message message = DecodeOrFail(Nth(trace, number).bytes);
  ipc::blobmsg::Members members;
  std::string error;
  const auto* data = message.Raw(AttributeId::kData);
  if (data == nullptr || !ipc::blobmsg::Decode(data->data(), data->size(), members, error)) {
    throw std::runtime_error("no data: " + error);
  }
  return members;
}

Message Invoke(std::uint16_t seq, std::uint32_t object, const std::string& method, const std::string& json) {
  Message message(MessageType::kInvoke, seq, object);
  auto data = ipc::blobmsg::FromJson(json.empty() ? "{}" : json);
  if (!data) throw std::runtime_error("bad JSON in test");
  message.AddU32(AttributeId::kObjId, object)
      .AddString(AttributeId::kMethod, method)
      .AddRaw(AttributeId::kData, ipc::blobmsg::Encode(*data));
  return message;
}

}  // namespace

TEST(TraceVectors, EveryRecordedMessageDecodesAndEncodesBackToTheSameBytes) {
  int messages = 0;
  for (const auto& name : kTraces) {
    for (const auto& recorded : ReadTrace(name)) {
      SCOPED_TRACE(name + " [" + std::to_string(recorded.number) + "]");
      ASSERT_FALSE(recorded.bytes.empty());
      const Message message = DecodeOrFail(recorded.bytes);
      EXPECT_EQ(ipc::Encode(message), recorded.bytes);
      for (const auto id : {AttributeId::kData, AttributeId::kSignature}) {
        const auto* payload = message.Raw(id);
        if (payload == nullptr) continue;
        ipc::blobmsg::Members members;
        std::string error;
        ASSERT_TRUE(ipc::blobmsg::Decode(payload->data(), payload->size(), members, error)) << error;
        EXPECT_EQ(ipc::blobmsg::Encode(members), *payload);
      }
      ++messages;
    }
  }
  EXPECT_EQ(messages, 84);
}

TEST(TraceVectors, RequestsBuiltFromJsonMatchTheRecordedBytes) {
  struct Case {
    std::string trace;
    int number;
    std::function<Message()> build;
  };
  const std::vector<Case> cases = {
      {"01-connect-hello.txt", 2, [] { return Message(MessageType::kLookup, 1, 0); }},
      {"02-lookup-invoke-uci-get.txt", 2,
       [] { return Message(MessageType::kLookup, 1, 0).AddString(AttributeId::kObjPath, "uci"); }},
      {"02-lookup-invoke-uci-get.txt", 5,
       [] { return Invoke(2, 0x833aa7d6, "get", R"({"config":"ferrowick","section":"sys"})"); }},
      {"05-invoke-typed-argument.txt", 5,
       [] {
         return Invoke(2, 0x833aa7d6, "get",
                       R"({"config":"ferrowick","section":"mesh","extra":{"enabled":true,"count":42,"ratio":0.25,"list":[1,"two",false],"nested":{"k":"v"}}})");
       }},
      {"07-invoke-unknown-method.txt", 5, [] { return Invoke(2, 0x833aa7d6, "nosuchmethod", R"({"config":"ferrowick"})"); }},
      {"09-invoke-empty-argument.txt", 5, [] { return Invoke(2, 0x833aa7d6, "configs", ""); }},
      {"04-event-listen-send.txt", 2, [] { return Message(MessageType::kAddObject, 1, 0); }},
      {"04-event-listen-send.txt", 8,
       [] {
         return Invoke(1, 1, "send", R"({"id":"network.interface","data":{"action":"ifup","interface":"wan"}})");
       }},
      {"10-event-value-types.txt", 8,
       [] {
         return Invoke(1, 1, "send",
                       "{\"id\":\"test.types\",\"data\":{\"i\":7,\"neg\":-3,\"big\":5000000000,\"d\":-1.25,\"b\":false,"
                       "\"nul\":null,\"e\":{},\"ea\":[],\"s\":\"tab\\there \\\"q\\\" \xc3\xa9\"}}");
       }},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.trace + " [" + std::to_string(test.number) + "]");
    EXPECT_EQ(ipc::Encode(test.build()), Nth(ReadTrace(test.trace), test.number).bytes);
  }
}

TEST(TraceVectors, RepliesAndEventsPrintAsThePlatformPrintsThem) {
  const auto uci_get = ReadTrace("02-lookup-invoke-uci-get.txt");
  EXPECT_EQ(ipc::blobmsg::ToJson(DataOf(uci_get, 8)),
            R"({"values":{".anonymous":false,".type":"sys",".name":"sys","url":"https://cloud.example.test/api/v1","first_boot":"1"}})");
  EXPECT_EQ(ipc::blobmsg::ToIndentedJson(DataOf(uci_get, 8)),
            "{\n\t\"values\": {\n\t\t\".anonymous\": false,\n\t\t\".type\": \"sys\",\n\t\t\".name\": \"sys\",\n"
            "\t\t\"url\": \"https://cloud.example.test/api/v1\",\n\t\t\"first_boot\": \"1\"\n\t}\n}");
  EXPECT_EQ(ipc::blobmsg::ToIndentedJson(DataOf(ReadTrace("09-invoke-empty-argument.txt"), 8)),
            "{\n\t\"configs\": [\n\t\t\"ferrowick\"\n\t]\n}");
  EXPECT_EQ(ipc::blobmsg::ToJson(DataOf(ReadTrace("04-event-listen-send.txt"), 9)),
            R"({"action":"ifup","interface":"wan"})");
  EXPECT_EQ(ipc::blobmsg::ToJson(DataOf(ReadTrace("10-event-value-types.txt"), 9)),
            "{\"i\":7,\"neg\":-3,\"big\":5000000000,\"d\":-1.250000,\"b\":false,\"nul\":null,\"e\":{},\"ea\":[],"
            "\"s\":\"tab\\there \\\"q\\\" \xc3\xa9\"}");
}
