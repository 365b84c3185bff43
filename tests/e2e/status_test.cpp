// The operator's bus object in the sandboxed daemon, through the project's bus CLI: with two
// sensor nodes (one of three channels), the stand-in PLC, a sensor reading a firmware image
// and the cloud taking reports, "ubus call quellaron status", "nodes", "plcs" and "firmware"
// tell what the daemon knows, and no output carries a stored key, token or secret.
// The PLC is polled at the daemon's own periods (its list 20 s after the start, its first
// poll a minute later), so this takes about a minute and a half.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sensor_sandbox.h"

using namespace std::chrono_literals;
using nlohmann::json;
using testing_support::InSandbox;
using testing_support::Subprocess;
using testing_support::WaitUntil;

namespace {

const std::string kImage = "sensor-node_1.0.1-0.bin";

class OperatorStatus : public testing_support::SensorSandbox {
 protected:
  // "ubus call quellaron <method> [arguments]" in the sandbox: its exit status and output.
  std::pair<int, std::string> Call(const std::string& method, const std::string& arguments = "") const {
    std::vector<std::string> command{"/usr/local/bin/ubus", "call", "quellaron", method};
    if (!arguments.empty()) command.push_back(arguments);
    Subprocess cli(InSandbox(daemon_->Pid(), command));
    const auto status = cli.Wait(30s);
    const int code = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    return {code, cli.Output()};
  }
  // The method's document; null (with a failure) when the call fails.
  json Document(const std::string& method) {
    const auto [code, output] = Call(method);
    EXPECT_EQ(code, 0) << output;
    outputs_.push_back(output);
    return code == 0 ? json::parse(output) : json();
  }
  // Every key, token, secret and password stored in the gateway's settings.
  std::vector<std::string> StoredSecrets() const {
    std::ifstream file(Root() + "/etc/config/ferrowick");
    const std::regex option(R"(^\s*option\s+(\S*(key|token|secret|password)\S*)\s+'([^']+)')");
    std::vector<std::string> secrets;
    for (std::string line; std::getline(file, line);) {
      std::smatch match;
      if (std::regex_search(line, match, option)) secrets.push_back(match[3]);
    }
    return secrets;
  }

  std::vector<std::string> outputs_;
};

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

TEST_F(OperatorStatus, TheDocumentsTellWhatTheGatewayKnowsAndNoSecret) {
  const std::int64_t started = UnixNow();
  Start({});
  // A small sensor image, offered before the daemon's first check (10 s after the start), so a
  // sensor reads it block by block while the test runs.
  Cloud().Call("PATCH", "/scenario",
               {{"firmware_files", {{kImage, {{"image", {{"version", "1.0.1-0"}, {"size", 192}}}}}}}});
  std::set<std::string> devices;
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& sensor : Sensors()) {
      for (const auto& device : sensor.at("device_ids")) devices.insert(device.get<std::string>());
    }
    return devices.size() == 5;
  }, 60s)) << Sensors().dump();
  ASSERT_TRUE(WaitUntil(
      [&] {
        const json status = Document("status");
        return status.is_object() && status["cloud"]["reports"]["delivered"] > 0 && status["plcs"]["answering"] == 1 &&
               status["mesh"]["nodes"] == devices.size() && status["firmware"]["sessions"] > 0;
      },
      150s))
      << daemon_->Output();

  const json status = Document("status");
  EXPECT_TRUE(std::regex_match(status.at("version").get<std::string>(), std::regex(R"(\d+\.\d+\.\d+)")));
  EXPECT_GE(status.at("uptime"), 0);
  EXPECT_LE(status.at("uptime"), UnixNow() - started + 1);
  EXPECT_EQ(status.at("mode"), "mesh");
  EXPECT_EQ(status.at("wan"), (json{{"up", true}}));
  const json& cloud = status.at("cloud");
  EXPECT_EQ(cloud.at("authorised"), true);
  EXPECT_EQ(cloud.at("websocket"), "open");
  EXPECT_GE(cloud.at("last_delivery"), started);
  EXPECT_LE(cloud.at("last_delivery"), UnixNow());
  const json& reports = cloud.at("reports");
  EXPECT_GT(reports.at("delivered"), 0);
  EXPECT_GE(reports.at("pending"), 0);
  EXPECT_EQ(reports.at("overwritten"), 0);
  EXPECT_EQ(reports.at("refused"), 0);
  EXPECT_EQ(status.at("plcs"), (json{{"configured", 1}, {"answering", 1}}));
  EXPECT_EQ(status.at("mesh"), (json{{"joined", true}, {"address", 1}, {"nodes", devices.size()}}));
  EXPECT_EQ(status.at("firmware").at("downloading"), false);

  const json nodes = Document("nodes").at("nodes");
  std::set<std::string> listed;
  for (const auto& node : nodes) {
    SCOPED_TRACE(node.dump());
    listed.insert(node.at("id").get<std::string>());
    EXPECT_GT(node.at("address"), 1);
    EXPECT_EQ(node.at("channel") == 0, node.at("id").get<std::string>().find('_') == std::string::npos);
    EXPECT_TRUE(node.at("type").is_number());
    EXPECT_GE(node.at("last_seen"), 0);
    EXPECT_LE(node.at("last_seen"), 60);
    EXPECT_TRUE(node.at("acknowledged").contains("folds") && node.at("acknowledged").contains("beacon"));
    EXPECT_TRUE(node.at("pending_settings").is_boolean());
    EXPECT_TRUE(node.at("last_report").is_object());
    EXPECT_TRUE(node.contains("version") && node.contains("folds"));
  }
  EXPECT_EQ(listed, devices);

  const json firmware = Document("firmware");
  EXPECT_NE(firmware.at("offered").dump().find(kImage), std::string::npos) << firmware.dump();
  EXPECT_NE(firmware.at("downloads").dump().find(kImage), std::string::npos) << firmware.dump();
  EXPECT_TRUE(firmware.at("installed").is_object());
  ASSERT_FALSE(firmware.at("sessions").empty()) << firmware.dump();
  for (const auto& session : firmware.at("sessions")) {
    SCOPED_TRACE(session.dump());
    EXPECT_GT(session.at("address"), 1);
    EXPECT_GE(session.at("block"), 0);
    EXPECT_EQ(session.at("blocks"), 12);  // 192 bytes in blocks of 16
    EXPECT_GE(session.at("last_request"), 0);
    EXPECT_TRUE(session.at("type").is_number());
  }

  const json plcs = Document("plcs").at("plcs");
  ASSERT_EQ(plcs.size(), 1u) << plcs.dump();
  const json& plc = plcs[0];
  EXPECT_EQ(plc.at("id"), 1);
  EXPECT_EQ(plc.at("name"), "line 1");
  EXPECT_EQ(plc.at("host"), "127.0.0.1");
  EXPECT_EQ(plc.at("state"), "answering");
  EXPECT_GE(plc.at("since"), started);
  EXPECT_LE(plc.at("since"), UnixNow());
  EXPECT_GE(plc.at("reads_ok"), 1);
  EXPECT_EQ(plc.at("reads_failed"), 0);
  EXPECT_TRUE(plc.at("last_error").is_null());

  // The bus's own statuses, as the CLI shows them.
  const auto [unknown_code, unknown] = Call("reboot");
  EXPECT_NE(unknown_code, 0);
  EXPECT_NE(unknown.find("Method not found"), std::string::npos) << unknown;
  const auto [argument_code, argument] = Call("status", R"({"verbose":true})");
  EXPECT_NE(argument_code, 0);
  EXPECT_NE(argument.find("Invalid argument"), std::string::npos) << argument;

  const auto secrets = StoredSecrets();
  ASSERT_GE(secrets.size(), 6u) << "tokens, client secret and the mesh keys";
  for (const auto& output : outputs_) {
    for (const auto& secret : secrets) EXPECT_EQ(output.find(secret), std::string::npos) << secret << " in " << output;
  }
}
