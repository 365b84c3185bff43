// Bus message conversion: JSON text to blobmsg, the wire encoding and back, as every
// configuration call and event does.

#include <benchmark/benchmark.h>

#include <string>

#include "ipc/blobmsg.h"
#include "ipc/blobmsg_json.h"

namespace {

const std::string kWanStatus =
    R"({"up":true,"pending":false,"available":true,"uptime":1234,"l3_device":"eth1","proto":"dhcp",)"
    R"("ipv4-address":[{"address":"192.168.1.23","mask":24}],"dns-server":["192.168.1.1"],)"
    R"("route":[{"target":"0.0.0.0","mask":0,"nexthop":"192.168.1.1"}],"data":{"leasetime":43200}})";

void JsonToWire(benchmark::State& state) {
  for (auto _ : state) {
    const auto members = ipc::blobmsg::FromJson(kWanStatus);
    benchmark::DoNotOptimize(ipc::blobmsg::Encode(*members));
  }
}
BENCHMARK(JsonToWire);

void WireToJson(benchmark::State& state) {
  const auto wire = ipc::blobmsg::Encode(*ipc::blobmsg::FromJson(kWanStatus));
  for (auto _ : state) {
    ipc::blobmsg::Members members;
    std::string error;
    ipc::blobmsg::Decode(wire.data(), wire.size(), members, error);
    benchmark::DoNotOptimize(ipc::blobmsg::ToJson(members));
  }
}
BENCHMARK(WireToJson);

}  // namespace
