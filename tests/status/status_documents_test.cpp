// The operator's documents made from snapshots, without a bus: their shape, their values and
// how times are shown.
#include "status/status_documents.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// A fixed moment: steady time 1000 s is Unix time 1 700 000 000.
status::Now FixedNow() {
  status::Now now;
  now.steady = std::chrono::steady_clock::time_point(1000s);
  now.wall = std::chrono::system_clock::time_point(1700000000s);
  return now;
}

PlcStatus Plc(std::uint32_t id, PlcState state, std::chrono::seconds since, std::string error = "") {
  PlcStatus plc;
  plc.id = id;
  plc.name = "line " + std::to_string(id);
  plc.host = "10.0.0." + std::to_string(id);
  plc.reads.state = state;
  plc.reads.since = std::chrono::steady_clock::time_point(since);
  plc.reads.reads_ok = 10 * id;
  plc.reads.reads_failed = id;
  plc.reads.last_error = std::move(error);
  return plc;
}

}  // namespace

TEST(StatusDocuments, TheStatusDocumentCarriesEveryPartWithItsValues) {
  status::GatewayFacts gateway{"0.1.0", 75s, true, true};
  status::CloudFacts cloud;
  cloud.authorised = true;
  cloud.websocket_open = false;
  cloud.last_delivery = std::chrono::system_clock::time_point(1700000123s);
  cloud.pending = 4;
  cloud.reports = ReportCounters{20, 12, 3, 1};
  const json mesh{{"joined", true}, {"address", 1}, {"nodes", 2}};
  const json firmware{{"downloading", false}, {"sessions", 0}};
  const json document = status::StatusDocument(gateway, cloud, mesh, status::PlcSummary({}), firmware);
  const json expected = json::parse(R"({
    "version": "0.1.0", "uptime": 75, "mode": "mesh", "wan": {"up": true},
    "cloud": {"authorised": true, "websocket": "closed", "last_delivery": 1700000123,
              "reports": {"pending": 4, "delivered": 12, "overwritten": 3, "refused": 1}},
    "mesh": {"joined": true, "address": 1, "nodes": 2},
    "plcs": {"configured": 0, "answering": 0},
    "firmware": {"downloading": false, "sessions": 0}})");
  EXPECT_EQ(document, expected) << document.dump(2);

  gateway.mesh_mode = false;
  gateway.wan_up = false;
  cloud = status::CloudFacts{};
  cloud.websocket_open = true;
  const json fresh = status::StatusDocument(gateway, cloud, mesh, status::PlcSummary({}), firmware);
  EXPECT_EQ(fresh.at("mode"), "provisioning");
  EXPECT_EQ(fresh.at("wan").at("up"), false);
  EXPECT_EQ(fresh.at("cloud").at("websocket"), "open");
  EXPECT_TRUE(fresh.at("cloud").at("last_delivery").is_null()) << "no delivery yet";
}

TEST(StatusDocuments, PlcsAreListedWithTheirStateSinceAsUnixTimeAndTheLastErrorOrNull) {
  const std::vector<PlcStatus> plcs = {Plc(1, PlcState::kIdle, 1000s), Plc(2, PlcState::kAnswering, 940s),
                                       Plc(3, PlcState::kFailing, 400s, "PLC [10.0.0.3] did not answer (timed out)")};
  const json document = status::PlcsDocument(plcs, FixedNow());
  const json expected = json::parse(R"doc({"plcs": [
    {"id": 1, "name": "line 1", "host": "10.0.0.1", "state": "idle", "since": 1700000000,
     "reads_ok": 10, "reads_failed": 1, "last_error": null},
    {"id": 2, "name": "line 2", "host": "10.0.0.2", "state": "answering", "since": 1699999940,
     "reads_ok": 20, "reads_failed": 2, "last_error": null},
    {"id": 3, "name": "line 3", "host": "10.0.0.3", "state": "failing", "since": 1699999400,
     "reads_ok": 30, "reads_failed": 3, "last_error": "PLC [10.0.0.3] did not answer (timed out)"}]})doc");
  EXPECT_EQ(document, expected) << document.dump(2);
  EXPECT_EQ(status::PlcSummary(plcs), (json{{"configured", 3}, {"answering", 1}}));
  EXPECT_EQ(status::PlcsDocument({}, FixedNow()), (json{{"plcs", json::array()}}));
}
