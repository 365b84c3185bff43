// The operator's object on the project's broker: callers get each method's document, the
// bus's statuses for unknown methods and arguments, and the object again after the broker
// has been restarted.
#include "status/status_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "ipc/blobmsg_json.h"
#include "ipc/bus_fixture.h"
#include "ipc/connection.h"
#include "support/wait.h"

using namespace std::chrono_literals;
using testing_support::WaitUntil;

namespace {

class StatusObjectTest : public ::testing::Test {
 protected:
  StatusObjectTest() : object_("quellaron", 30, broker_.Socket()) {}

  std::vector<status::DocumentMethod> Methods() {
    return {{"status", [this] { return nlohmann::json{{"calls", ++calls_}, {"last_delivery", nullptr}}; }},
            {"plcs", [] { return nlohmann::json{{"plcs", nlohmann::json::array()}}; }}};
  }

  // Calls `method` of the object with `arguments` (a JSON object text) on a connection of
  // its own: the bus status and the replies as JSON texts.
  std::pair<int, std::vector<std::string>> Call(const std::string& method, const std::string& arguments = "{}") {
    ipc::Connection caller(broker_.Socket());
    std::uint32_t id = 0;
    const int found = caller.LookupId("quellaron", id, 5s);
    if (found != ipc::kOk) return {found, {}};
    std::vector<std::string> replies;
    const int status = caller.Invoke(id, method, *ipc::blobmsg::FromJson(arguments),
                                     [&](const ipc::blobmsg::Members& reply) { replies.push_back(ipc::blobmsg::ToJson(reply)); },
                                     5s);
    return {status, replies};
  }

  ipc_test::BrokerProcess broker_;
  ipc_test::LogCapture log_;
  std::atomic<int> calls_{0};
  status::StatusObject object_;
};

}  // namespace

TEST_F(StatusObjectTest, EachMethodAnswersWithItsDocumentAndTheBusStatusesOtherwise) {
  ASSERT_TRUE(object_.Provide(Methods()));
  object_.ServerStart();
  struct Case {
    std::string method;
    std::string arguments;
    int status;
    std::vector<std::string> replies;
  };
  const std::vector<Case> cases = {
      {"status", "{}", ipc::kOk, {R"({"calls":1,"last_delivery":null})"}},
      {"plcs", "{}", ipc::kOk, {R"({"plcs":[]})"}},
      // The web front end adds its session to every call.
      {"status", R"({"ubus_rpc_session":"00000000000000000000000000000000"})", ipc::kOk,
       {R"({"calls":2,"last_delivery":null})"}},
      {"status", R"({"verbose":true})", ipc::kInvalidArgument, {}},
      {"reboot", "{}", ipc::kMethodNotFound, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.method + " " + test.arguments);
    const auto [status, replies] = Call(test.method, test.arguments);
    EXPECT_EQ(status, test.status);
    EXPECT_EQ(replies, test.replies);
  }
}

TEST_F(StatusObjectTest, TheObjectAndTheEventsAreBackAfterTheBrokerRestarts) {
  std::atomic<int> events{0};
  ASSERT_TRUE(object_.RegisterEventHandler("button", [&](const char*) { ++events; }));
  ASSERT_TRUE(object_.Provide(Methods()));
  std::atomic<int> reconnections{0};
  object_.SetReconnectedHandler([&] { ++reconnections; });
  object_.ServerStart();
  ASSERT_EQ(Call("plcs").first, ipc::kOk);

  broker_.Kill();
  ASSERT_TRUE(WaitUntil([&] { return log_.Contains("ubus connection lost"); }));
  broker_.Restart();
  ASSERT_TRUE(WaitUntil([&] { return reconnections > 0; }, 20s)) << log_.Text();
  EXPECT_EQ(Call("plcs"), (std::pair<int, std::vector<std::string>>{ipc::kOk, {R"({"plcs":[]})"}}));
  ipc::UBUS sender(30, broker_.Socket());
  ASSERT_TRUE(sender.Event("button", R"({"event":"reset"})"));
  EXPECT_TRUE(WaitUntil([&] { return events > 0; }));
  EXPECT_EQ(reconnections, 1);
}

TEST_F(StatusObjectTest, AnObjectPathTakenByAnotherClientIsRefusedWithAnErrorLine) {
  ipc::Connection other(broker_.Socket());
  std::uint32_t id = 0;
  ASSERT_EQ(other.AddObject("quellaron", {}, id, 5s), ipc::kOk);
  EXPECT_FALSE(object_.Provide(Methods()));
  EXPECT_TRUE(log_.Contains("Cannot add the bus object quellaron: "));
}
