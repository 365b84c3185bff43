#include "plc/plc_manager.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "log/log.h"
#include "nvram/plc_settings.h"
#include "server/cloud_client.h"

namespace {

// Unless told otherwise, the PLCs' readings go to the cloud client's report queue.
PLCManagerOptions WithDefaults(PLCManagerOptions options, CloudClient& cloud) {
  if (!options.plc.report) options.plc.report = [&cloud](const std::string& json) { cloud.Report(json); };
  return options;
}

}  // namespace

PLCManager::PLCManager(std::shared_ptr<mailbox::DepeschePoster> application, PlcServices services,
                       PLCManagerOptions options)
    : application_(std::move(application)),
      services_(services),
      options_(WithDefaults(std::move(options), services_.cloud)) {
  LoadStored();
  worker_ = std::thread([this] { Worker(); });
}

PLCManager::~PLCManager() {
  stop_.Stop();
  worker_.join();
  std::unordered_map<std::uint32_t, std::shared_ptr<PLC>> doomed;
  {
    const std::lock_guard<std::mutex> guard(plcs_lock_);
    doomed.swap(plcs_);
  }
}

void PLCManager::LoadStored() {
  for (const auto& info : services_.settings.PLCList()) {
    stored_[info.id] = info;
    try {
      auto plc = std::make_shared<PLC>(info, options_.plc);
      const std::lock_guard<std::mutex> guard(plcs_lock_);
      plcs_[info.id] = std::move(plc);
    } catch (const std::exception& error) {
      // The record stays stored; a later server list updates or deletes it.
      LOG_ERROR << "Stored PLC " << info.id << " skipped: " << error.what();
    }
  }
}

void PLCManager::Worker() {
  if (!stop_.WaitFor(options_.first_fetch)) return;
  do {
    const std::string list = services_.cloud.PLCInfo(services_.settings.DeviceID());
    if (!list.empty()) UpdatePLCList(list);
  } while (stop_.WaitFor(options_.fetch_period));
}

void PLCManager::UpdatePLCList(const std::string& text) {
  LOG_VERBOSE << text;
  try {
    const auto list = nlohmann::json::parse(text);
    if (!list.is_array()) throw std::invalid_argument("PLC list is not an array");
    std::set<std::uint32_t> listed;
    for (const auto& entry : list) {
      try {
        const PLCInfo info = FromServerEntry(entry);
        listed.insert(info.id);
        ApplyRecord(info);
      } catch (const RefusedPLCEntry& refused) {
        // That entry only: a PLC it names keeps running as it was, and stays.
        LOG_ERROR << refused.what();
        listed.insert(refused.Id());
      }
    }
    RemoveUnlisted(listed);
  } catch (const std::exception& error) {
    LOG_ERROR << error.what();
  }
  for (const auto id : Ids()) LOG_VERBOSE << "PLC " << id;
}

void PLCManager::ApplyRecord(const PLCInfo& info) {
  if (const auto plc = Find(info.id)) {
    plc->UpdateParams(info);
    StoreRecord(info);
  } else {
    AddPLC(info);
  }
}

void PLCManager::AddPLC(const PLCInfo& info) {
  auto plc = std::make_shared<PLC>(info, options_.plc);
  {
    const std::lock_guard<std::mutex> guard(plcs_lock_);
    plcs_[info.id] = std::move(plc);
  }
  StoreRecord(info);
}

void PLCManager::StoreRecord(const PLCInfo& info) {
  // Only what changed is written: each write is a commit to the router's flash.
  const auto stored = stored_.find(info.id);
  if (stored == stored_.end()) {
    services_.settings.AddPLC(info);
  } else if (stored->second != info) {
    services_.settings.UpdatePLC(info);
  } else {
    return;
  }
  stored_[info.id] = info;
}

void PLCManager::RemoveUnlisted(const std::set<std::uint32_t>& listed) {
  std::set<std::uint32_t> known;
  for (const auto& entry : stored_) known.insert(entry.first);
  for (const auto id : Ids()) known.insert(id);
  for (const auto id : known) {
    if (listed.count(id) != 0) continue;
    LOG_ERROR << "Delete PLC " << id;
    PLCInfo info;
    info.id = id;
    services_.settings.DeletePLC(info);
    stored_.erase(id);
    std::shared_ptr<PLC> doomed;
    {
      const std::lock_guard<std::mutex> guard(plcs_lock_);
      const auto found = plcs_.find(id);
      if (found == plcs_.end()) continue;
      doomed = std::move(found->second);
      plcs_.erase(found);
    }
    // Released outside the lock: the PLC may wait for a read in flight.
  }
}

void PLCManager::UpdateFolds(const std::string& device_id, const nlohmann::json& folds) {
  std::vector<std::shared_ptr<PLC>> plcs;
  {
    const std::lock_guard<std::mutex> guard(plcs_lock_);
    for (const auto& entry : plcs_) plcs.push_back(entry.second);
  }
  for (const auto& plc : plcs) plc->UpdateFolds(device_id, folds);
}

std::vector<PlcStatus> PLCManager::Status() const {
  std::vector<std::shared_ptr<PLC>> plcs;
  {
    const std::lock_guard<std::mutex> guard(plcs_lock_);
    for (const auto& entry : plcs_) plcs.push_back(entry.second);
  }
  std::vector<PlcStatus> status;
  status.reserve(plcs.size());
  for (const auto& plc : plcs) status.push_back(plc->Status());
  std::sort(status.begin(), status.end(), [](const PlcStatus& a, const PlcStatus& b) { return a.id < b.id; });
  return status;
}

std::vector<std::uint32_t> PLCManager::Ids() const {
  const std::lock_guard<std::mutex> guard(plcs_lock_);
  std::vector<std::uint32_t> ids;
  for (const auto& entry : plcs_) ids.push_back(entry.first);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::shared_ptr<PLC> PLCManager::Find(std::uint32_t id) const {
  const std::lock_guard<std::mutex> guard(plcs_lock_);
  const auto found = plcs_.find(id);
  return found == plcs_.end() ? nullptr : found->second;
}
