#include "plc/plc.h"

#include <cmath>
#include <stdexcept>
#include <unordered_set>

#include "log/log.h"
#include "plc/address_text.h"

namespace {

constexpr int kNewPollerFold = 1;
constexpr int kDefaultFold = 10;
constexpr int kMaxFold = 366 * 24 * 60;  // a year of minutes

}  // namespace

std::optional<int> FoldOf(const nlohmann::json& folds) {
  int fold = kDefaultFold;
  const auto take = [&fold](const nlohmann::json& value) {
    const double minutes = value.is_number() ? std::trunc(value.get<double>()) : 0;
    if (minutes < 1 || minutes > kMaxFold) {
      LOG_ERROR << "Fold is not a number of minutes from 1 to " << kMaxFold << ": " << value.dump();
      return false;
    }
    fold = static_cast<int>(minutes);
    return true;
  };
  if (folds.is_array() || folds.is_object()) {
    // The last fold wins on purpose: the cloud sends a list and has always meant its last entry.
    for (const auto& value : folds) {
      if (!take(value)) return std::nullopt;
    }
  } else if (!take(folds)) {
    return std::nullopt;
  }
  return fold;
}

PLC::PLC(const PLCInfo& info, PLCOptions options)
    : options_(std::move(options)), vendor_(info.vendor), proto_(info.proto) {
  CheckSupported(info);
  client_ = std::make_shared<xgt::fenet::Client>(info.ip_address, static_cast<std::uint8_t>(info.base),
                                                 static_cast<std::uint8_t>(info.slot), options_.client);
  worker_ = std::make_shared<timer::TimerWorker>();
  ParseFENetMemoryAddresses(info.plc_addresses);
}

PLC::~PLC() {
  std::vector<std::shared_ptr<PLCQoS>> doomed;
  {
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    doomed.swap(pollers_);
  }
  doomed.clear();  // each waits for its read in flight, outside the lock
}

void PLC::CheckSupported(const PLCInfo& info) {
  if (info.vendor != "ls") throw std::runtime_error("Unsupported PLC Vendor.");
  if (info.proto != "fenet") throw std::runtime_error("Unsupported PLC Protocol.");
}

bool PLC::UpdateParams(const PLCInfo& info) {
  CheckSupported(info);
  vendor_ = info.vendor;
  proto_ = info.proto;
  client_->SetParams(static_cast<std::uint8_t>(info.base), static_cast<std::uint8_t>(info.slot), info.ip_address);
  ParseFENetMemoryAddresses(info.plc_addresses);
  return true;
}

void PLC::ParseFENetMemoryAddresses(const std::vector<std::string>& list) {
  std::unordered_set<std::string> listed;
  for (const auto& text : list) {
    const auto entry = ParseAddressText(text);
    if (!entry) continue;
    client_->AddMemoryAddress(entry->id, entry->address);
    UpdateMemoryList(entry->id, entry->address.key);
    listed.insert(entry->id);
  }
  client_->KeepMemoryAddresses(listed);
  std::vector<std::shared_ptr<PLCQoS>> doomed;
  {
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    for (auto poller = pollers_.begin(); poller != pollers_.end();) {
      if (listed.count((*poller)->Name()) != 0) {
        ++poller;
        continue;
      }
      LOG_ERROR << "Delete : " << (*poller)->Name();
      doomed.push_back(std::move(*poller));
      poller = pollers_.erase(poller);
    }
  }
  doomed.clear();  // outside the lock: each waits for its read in flight
}

void PLC::UpdateMemoryList(const std::string& id, const std::string& /*key*/) {
  const std::lock_guard<std::mutex> guard(pollers_lock_);
  if (const auto poller = FindPoller(id)) {
    LOG_VERBOSE << "Find : " << id;
    // Kept on purpose: a refreshed list has always put its pollers back to one minute; the
    // cloud's next fold sets the period again.
    poller->SetFold(kNewPollerFold);
    return;
  }
  pollers_.push_back(std::make_shared<PLCQoS>(
      id, kNewPollerFold, [this](const std::string& name) { return ReadMemory(name); }, worker_, options_.periods));
  LOG_VERBOSE << "New : " << id;
}

bool PLC::UpdateFolds(const std::string& id, const nlohmann::json& folds) {
  const std::lock_guard<std::mutex> guard(pollers_lock_);
  const auto poller = FindPoller(id);
  if (!poller) return false;
  LOG_VERBOSE << "Find : " << id;
  if (const auto fold = FoldOf(folds)) poller->SetFold(*fold);
  return true;
}

bool PLC::ReadMemory(const std::string& id) {
  LOG_VERBOSE << "Read " << id;
  const auto [ok, document] = client_->ReadMemory(id);
  if (!ok) return false;
  const std::string text = document.dump();
  LOG_VERBOSE << text;
  if (options_.report) options_.report(text);
  return true;
}

std::vector<std::pair<std::string, int>> PLC::Pollers() const {
  const std::lock_guard<std::mutex> guard(pollers_lock_);
  std::vector<std::pair<std::string, int>> pollers;
  for (const auto& poller : pollers_) pollers.emplace_back(poller->Name(), poller->Fold());
  return pollers;
}

std::shared_ptr<PLCQoS> PLC::FindPoller(const std::string& id) const {
  for (const auto& poller : pollers_) {
    if (poller->Name() == id) return poller;
  }
  return nullptr;
}
