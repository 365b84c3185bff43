// The mesh receive dispatch, fed a sequence of received records so that announcements, reports,
// acknowledgements, firmware requests and leaves of the same nodes meet. Each record is
//   [source selector] [length] [data...]
// with the source one of four node addresses. Every record must be dropped or handled without
// a crash; each report handed to the cloud must be valid JSON, and each queued message non-empty.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/fnv1a.h"
#include "mesh/receive_dispatch.h"
#include "packet_fuzz_support.h"

namespace {

// A cloud that knows every other device (with folds that start kind watchdogs), a firmware
// image of four blocks, and queues that only check what they are given.
class CheckingOutlet : public DispatchOutlet {
 public:
  void Report(const std::string& report) override {
    fuzz_support::Require(nlohmann::json::accept(report), "report is valid JSON");
  }
  // Answered at once, as the fetcher does from its cache.
  void RequestDeviceSettings(const std::string& device_id, bool with_beacon) override {
    if (Fnv1a(device_id) % 2 == 0 || dispatch == nullptr) return;
    dispatch->ApplyDeviceSettings(device_id, {true, nlohmann::json{{"temp", 1}, {"hum", 0}}}, with_beacon);
  }
  bool FirmwareBlock(std::uint16_t /*address*/, int type, int index, ota::Block& block) override {
    if (type != 1 || index < 0 || index >= 4) return false;
    block.fill(static_cast<std::uint8_t>(index));
    return true;
  }
  void Enqueue(const MeshMessage& message) override {
    fuzz_support::Require(!message.data.empty(), "queued message has data");
  }
  void Subscribe(const std::string& device_id) override {
    fuzz_support::Require(!device_id.empty(), "subscription has a device id");
  }

  ReceiveDispatch* dispatch = nullptr;
};

constexpr std::uint16_t kFirstSource = 0x0100;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::StartSilentLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One watchdog worker for every input (a thread per input would slow the run a hundredfold);
  // with real seconds no watchdog fires while an input runs, and each input's nodes are gone
  // (their timers cancelled) when it ends.
  static const WatchdogTiming timing{std::make_shared<timer::TimerWorker>(), std::chrono::seconds(1)};
  static CheckingOutlet outlet;
  NodeRegistry nodes;
  ReceiveDispatch dispatch(nodes, outlet, timing);
  outlet.dispatch = &dispatch;
  std::size_t position = 0;
  while (position + 2 <= size) {
    const auto source = static_cast<std::uint16_t>(kFirstSource + (data[position] & 0x03));
    const std::size_t length = std::min<std::size_t>(data[position + 1], size - position - 2);
    const std::uint8_t* record = data + position + 2;
    dispatch.Dispatch(MeshMessage{MeshMessage::kReceived, source, std::vector<std::uint8_t>(record, record + length)});
    position += 2 + length;
  }
  outlet.dispatch = nullptr;
  return 0;
}
