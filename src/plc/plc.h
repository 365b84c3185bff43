#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "nvram/plc_info.h"
#include "plc/plc_qos.h"
#include "plc/poll_periods.h"
#include "timer/timer_worker.h"
#include "xgt/fenet/client.h"

// How a PLC reaches its device and where its readings go; the defaults are the daemon's.
struct PLCOptions {
  xgt::fenet::ClientOptions client;
  PollPeriods periods;
  // Takes each reading's document (the manager hands in the cloud client's report queue);
  // null: readings are read and logged, and go nowhere.
  std::function<void(const std::string& json)> report;
};

// One polled PLC: its FEnet client and one poller per configured value. The pollers share one
// timer worker, so one PLC polls on one thread, its reads one at a time; PLCs do not wait for
// one another. The poller list is locked, since the manager changes it while pollers run.
class PLC {
 public:
  // Throws std::runtime_error "Unsupported PLC Vendor." / "Unsupported PLC Protocol.".
  PLC(const PLCInfo& info, PLCOptions options);
  // Stops every poller; returns once a read in flight has ended.
  virtual ~PLC();
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
  // One poll: reads the value and hands its document to the report queue.
  bool ReadMemory(const std::string& id);

  // (id, fold) of every poller, in the order of creation.
  std::vector<std::pair<std::string, int>> Pollers() const;
  const std::shared_ptr<xgt::fenet::Client>& Client() const { return client_; }
  const std::string& Vendor() const { return vendor_; }
  const std::string& Proto() const { return proto_; }

 private:
  static void CheckSupported(const PLCInfo& info);
  std::shared_ptr<PLCQoS> FindPoller(const std::string& id) const;  // caller holds pollers_lock_

  const PLCOptions options_;
  std::string vendor_;
  std::string proto_;
  std::shared_ptr<xgt::fenet::Client> client_;
  std::shared_ptr<timer::TimerWorker> worker_;  // declared before the pollers, which use it
  mutable std::mutex pollers_lock_;
  std::vector<std::shared_ptr<PLCQoS>> pollers_;
};

// The fold a folds value sets: its last element (an array's elements, an object's values or
// a number itself), 10 when it has none. Nothing, with an error line, for an element that is
// not a whole number of at least 1.
std::optional<int> FoldOf(const nlohmann::json& folds);
