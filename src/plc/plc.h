#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "nvram/plc_info.h"
#include "plc/plc_link.h"
#include "plc/plc_qos.h"
#include "plc/plc_status.h"
#include "plc/poll_periods.h"
#include "plc/read_groups.h"
#include "timer/timer_queue.h"
#include "xgt/fenet/client.h"

// How a PLC reaches its device and where its readings go; the defaults are the daemon's.
struct PLCOptions {
  xgt::fenet::ClientOptions client;
  PollPeriods periods;
  // Takes each reading's document (the manager hands in the cloud client's report queue);
  // null: readings are read and logged, and go nowhere.
  std::function<void(const std::string& json)> report;
};

// One polled PLC: its FEnet client (one kept connection) and one poller per configured value.
// It polls on one timer thread of its own: each time values fall due, those due within the
// group window are read together, up to 16 of one data type a request, and each reading is
// reported on its own. While the PLC does not answer, nothing is sent to it until its link's
// pause has passed. PLCs do not wait for one another. The poller list is locked, since the
// manager changes it while the PLC polls.
class PLC {
 public:
  // Throws std::runtime_error "Unsupported PLC Vendor." / "Unsupported PLC Protocol.", or for
  // a base or slot outside 0 to 15.
  PLC(const PLCInfo& info, PLCOptions options);
  // Stops polling; returns once a read in flight has ended.
  virtual ~PLC() = default;
  PLC(const PLC&) = delete;
  PLC& operator=(const PLC&) = delete;

  // Applies a changed record: host, base and slot from the next read, and the address list.
  // Throws like the constructor (before changing anything).
  bool UpdateParams(const PLCInfo& info);
  // Enters every valid text's address and poller; removes the pollers of ids not listed.
  void ParseFENetMemoryAddresses(const std::vector<std::string>& list);
  // A known poller's fold goes back to 1; an unknown id gets a new poller of fold 1.
  void UpdateMemoryList(const std::string& id, const std::string& key);
  // Sets the fold (the last of `folds`; 10 for none) of the poller named `id`; false when
  // this PLC has no such poller.
  bool UpdateFolds(const std::string& id, const nlohmann::json& folds);

  // Its id, name, host and how its reads have gone, taken under its lock.
  PlcStatus Status() const;
  // (id, fold) of every poller, in the order of creation.
  std::vector<std::pair<std::string, int>> Pollers() const;
  const std::shared_ptr<xgt::fenet::Client>& Client() const { return client_; }
  const std::string& Vendor() const { return vendor_; }
  const std::string& Proto() const { return proto_; }

 private:
  using Clock = PLCQoS::Clock;

  static void CheckSupported(const PLCInfo& info);
  // Each of these is called with pollers_lock_ held.
  std::shared_ptr<PLCQoS> FindPoller(const std::string& id) const;
  std::vector<ReadGroup> DueGroups(Clock::time_point now) const;
  void Arm();
  void ApplyReadings(const ReadGroup& group, const xgt::fenet::ReadOutcome& outcome, Clock::time_point round_start);
  void ApplyRefusal(const ReadGroup& group, const std::string& reason, Clock::time_point now);

  void OnTimer(bool cancelled);
  // One round on the timer thread: reads what is due, group by group, until the PLC fails.
  void PollDue();

  const std::uint32_t id_;
  const std::string name_;  // "PLC <id>"
  const PLCOptions options_;
  std::string vendor_;
  std::string proto_;
  std::shared_ptr<xgt::fenet::Client> client_;
  mutable std::mutex pollers_lock_;  // the members below
  std::string label_;  // the cloud's name for the PLC
  std::vector<std::shared_ptr<PLCQoS>> pollers_;
  PlcLink link_;
  bool polling_ = false;  // a round is under way; it arms the next timer when it ends
  std::optional<std::pair<std::uint64_t, Clock::time_point>> armed_;  // the pending timer and its time
  // Last, so it ends first: its destruction waits for a running round, which uses the above.
  timer::TimerQueue timer_;
};

// The fold a folds value sets: its last element (an array's elements, an object's values or
// a number itself), 10 when it has none. Nothing, with an error line, for an element that is
// not a whole number of at least 1.
std::optional<int> FoldOf(const nlohmann::json& folds);
