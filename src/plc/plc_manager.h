#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "mailbox/depesche_poster.h"
#include "nvram/plc_info.h"
#include "plc/plc.h"

class NVRAM;
class ServerAPI;

// Where the manager keeps and fetches its list, and its periods; the defaults are the daemon's.
struct PLCManagerOptions {
  std::chrono::milliseconds first_fetch{std::chrono::seconds(20)};
  std::chrono::milliseconds fetch_period{std::chrono::seconds(300)};
  NVRAM* store = nullptr;     // null: the process's configuration store
  ServerAPI* cloud = nullptr;  // null: the process's cloud client
  PLCOptions plc;             // a null report goes to `cloud`
};

// Keeps the configured PLCs and their pollers in step with the server: the stored PLCs are
// recreated at start-up, then a worker thread fetches the gateway's PLC list 20 s after the
// start and every 300 s, and adds, updates and removes PLCs and their stored records. The
// operations are virtual so the application can be tested with a double.
class PLCManager : public mailbox::DepescheSender {
 public:
  explicit PLCManager(std::shared_ptr<mailbox::DepeschePoster> application);
  PLCManager(std::shared_ptr<mailbox::DepeschePoster> application, PLCManagerOptions options);
  // Ends the worker at once (also during its wait), then stops every PLC.
  virtual ~PLCManager();
  PLCManager(const PLCManager&) = delete;
  PLCManager& operator=(const PLCManager&) = delete;

  // Hands new folds for the poller named `device_id` to every PLC.
  virtual void UpdateFolds(const std::string& device_id, const nlohmann::json& folds);
  // Applies one server list (a JSON array text). An error ends the update at that entry,
  // with an error line; what was applied before it stays.
  void UpdatePLCList(const std::string& text);

  std::vector<std::uint32_t> Ids() const;
  std::shared_ptr<PLC> Find(std::uint32_t id) const;

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;

 private:
  // The stores handed in, or the process's, reached when used (not at construction).
  NVRAM& Store() const;
  ServerAPI& Cloud() const;
  void LoadStored();
  void Worker();
  // Waits for `period` unless the manager is being destroyed; false when it is.
  bool Pause(std::chrono::milliseconds period);
  void ApplyRecord(const PLCInfo& info);
  void AddPLC(const PLCInfo& info);
  void RemoveUnlisted(const std::vector<PLCInfo>& records);
  void StoreRecord(const PLCInfo& info);

  PLCManagerOptions options_;
  mutable std::mutex plcs_lock_;  // the map; the worker writes it, UpdateFolds reads it
  std::unordered_map<std::uint32_t, std::shared_ptr<PLC>> plcs_;
  std::set<std::uint32_t> stored_ids_;  // ids with a stored record; worker thread only
  std::mutex pause_lock_;
  std::condition_variable pause_signal_;
  bool stopping_ = false;
  std::thread worker_;
};
