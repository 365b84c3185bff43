#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "mailbox/depesche_poster.h"
#include "mutex/stop_signal.h"
#include "nvram/plc_info.h"
#include "plc/plc.h"
#include "plc/plc_component.h"

class PlcSettings;
class CloudClient;

// The services the manager uses; the application hands in the process's (the configuration
// store and the cloud client), which outlive it.
struct PlcServices {
  PlcSettings& settings;  // the stored PLC records and the gateway's id
  CloudClient& cloud;     // the PLC list, and the readings' report queue
};

// The manager's periods and the PLCs' options; the defaults are the daemon's.
struct PLCManagerOptions {
  std::chrono::milliseconds first_fetch{std::chrono::seconds(20)};
  std::chrono::milliseconds fetch_period{std::chrono::seconds(300)};
  PLCOptions plc;  // a null report goes to the cloud client's report queue
};

// Keeps the configured PLCs and their pollers in step with the server: the stored PLCs are
// recreated at start-up, then a worker thread fetches the gateway's PLC list 20 s after the
// start and every 300 s, and adds, updates and removes PLCs and their stored records.
class PLCManager : public PlcComponent, public mailbox::DepescheSender {
 public:
  PLCManager(std::shared_ptr<mailbox::DepeschePoster> application, PlcServices services,
             PLCManagerOptions options = {});
  // Ends the worker at once (also during its wait), then stops every PLC.
  ~PLCManager() override;
  PLCManager(const PLCManager&) = delete;
  PLCManager& operator=(const PLCManager&) = delete;

  // Hands new folds for the poller named `device_id` to every PLC.
  void UpdateFolds(const std::string& device_id, const nlohmann::json& folds) override;
  // Applies one server list (a JSON array text). An error ends the update at that entry,
  // with an error line; what was applied before it stays. An entry the gateway refuses on its
  // own (a field beyond its bound) costs one error line and that entry only. A record that
  // did not change is not written again.
  void UpdatePLCList(const std::string& text);
  // Each PLC's snapshot is taken under its own lock, after the map's lock is released.
  std::vector<PlcStatus> Status() const override;

  std::vector<std::uint32_t> Ids() const;
  std::shared_ptr<PLC> Find(std::uint32_t id) const;

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;

 private:
  void LoadStored();
  void Worker();
  void ApplyRecord(const PLCInfo& info);
  void AddPLC(const PLCInfo& info);
  void RemoveUnlisted(const std::set<std::uint32_t>& listed);
  void StoreRecord(const PLCInfo& info);

  const PlcServices services_;
  PLCManagerOptions options_;
  mutable std::mutex plcs_lock_;  // the map; the worker writes it, UpdateFolds reads it
  std::unordered_map<std::uint32_t, std::shared_ptr<PLC>> plcs_;
  std::map<std::uint32_t, PLCInfo> stored_;  // the stored records, as last written; worker thread only
  mutex::StopSignal stop_;  // ends the worker's pauses at destruction
  std::thread worker_;
};
