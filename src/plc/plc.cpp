#include "plc/plc.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unordered_set>

#include "log/log.h"
#include "plc/address_text.h"
#include "xgt/fenet/reading_document.h"
#include "xgt/fenet/variable_name.h"

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
    : id_(info.id),
      name_("PLC " + std::to_string(info.id)),
      options_(std::move(options)),
      vendor_(info.vendor),
      proto_(info.proto),
      label_(info.name),
      link_(name_, options_.periods) {
  CheckSupported(info);
  client_ = std::make_shared<xgt::fenet::Client>(info.ip_address, static_cast<std::uint8_t>(info.base),
                                                 static_cast<std::uint8_t>(info.slot), options_.client);
  ParseFENetMemoryAddresses(info.plc_addresses);
}

void PLC::CheckSupported(const PLCInfo& info) {
  if (info.vendor != "ls") throw std::runtime_error("Unsupported PLC Vendor.");
  if (info.proto != "fenet") throw std::runtime_error("Unsupported PLC Protocol.");
  for (const auto& [name, value] : {std::pair<const char*, int>{"base", info.base}, {"slot", info.slot}}) {
    if (value < 0 || value > PLCEntryBounds::kLargestPosition) {
      throw std::runtime_error(std::string("PLC ") + name + " " + std::to_string(value) + " is outside 0 to " +
                               std::to_string(PLCEntryBounds::kLargestPosition) + ".");
    }
  }
}

bool PLC::UpdateParams(const PLCInfo& info) {
  CheckSupported(info);
  vendor_ = info.vendor;
  proto_ = info.proto;
  {
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    label_ = info.name;
  }
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
  {
    // Pollers go before their addresses, so every poller a round sees has its address. A read
    // in flight for a removed poller reports nothing: its round finds the poller gone.
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    for (auto poller = pollers_.begin(); poller != pollers_.end();) {
      if (listed.count((*poller)->Name()) != 0) {
        ++poller;
        continue;
      }
      LOG_ERROR << "Delete : " << (*poller)->Name();
      poller = pollers_.erase(poller);
    }
  }
  client_->KeepMemoryAddresses(listed);
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
  pollers_.push_back(std::make_shared<PLCQoS>(id, kNewPollerFold, Clock::now(), options_.periods));
  LOG_VERBOSE << "New : " << id;
  Arm();
}

bool PLC::UpdateFolds(const std::string& id, const nlohmann::json& folds) {
  const std::lock_guard<std::mutex> guard(pollers_lock_);
  const auto poller = FindPoller(id);
  if (!poller) return false;
  LOG_VERBOSE << "Find : " << id;
  if (const auto fold = FoldOf(folds)) poller->SetFold(*fold);
  return true;
}

PlcStatus PLC::Status() const {
  PlcStatus status;
  status.id = id_;
  status.host = client_->Host();
  const std::lock_guard<std::mutex> guard(pollers_lock_);
  status.name = label_;
  status.reads = link_.Record();
  return status;
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

void PLC::Arm() {
  if (polling_ || pollers_.empty()) return;
  auto wake = link_.RetryAt();
  auto earliest = pollers_.front()->Due();
  for (const auto& poller : pollers_) earliest = std::min(earliest, poller->Due());
  wake = std::max(wake, earliest);
  if (armed_ && armed_->second <= wake) return;  // an earlier timer finds nothing due and arms again
  if (armed_) timer_.Cancel(armed_->first);
  const auto delay = std::max(wake - Clock::now(), Clock::duration::zero());
  armed_.emplace(timer_.Add(delay, [this](bool cancelled) { OnTimer(cancelled); }), wake);
}

void PLC::OnTimer(bool cancelled) {
  if (cancelled) return;
  {
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    armed_.reset();
    polling_ = true;
  }
  PollDue();
  const std::lock_guard<std::mutex> guard(pollers_lock_);
  polling_ = false;
  Arm();
}

std::vector<ReadGroup> PLC::DueGroups(Clock::time_point now) const {
  if (now < link_.RetryAt()) return {};
  std::vector<std::shared_ptr<PLCQoS>> due;
  for (const auto& poller : pollers_) {
    if (poller->Due() <= now + options_.periods.group_window) due.push_back(poller);
  }
  // The longest waiting first, so values that failed do not keep others waiting.
  std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->Due() < b->Due(); });
  std::vector<DueRead> reads;
  for (const auto& poller : due) {
    if (auto address = client_->FindMemoryAddress(poller->Name())) {
      reads.push_back({poller->Name(), std::move(*address), poller->ReadAlone()});
    }
  }
  return GroupReads(reads);
}

void PLC::PollDue() {
  const auto round_start = Clock::now();
  std::vector<ReadGroup> groups;
  {
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    groups = DueGroups(round_start);
  }
  for (const auto& group : groups) {
    LOG_VERBOSE << "Read " << group.ids.size() << " value(s) of " << name_;
    const auto outcome = client_->Read(group.addresses);
    const auto now = Clock::now();
    const std::lock_guard<std::mutex> guard(pollers_lock_);
    if (outcome.status == xgt::fenet::ReadOutcome::Status::kUnanswered) {
      // The rest waits with this group until the PLC may be asked again.
      link_.Failed(now, outcome.reason);
      return;
    }
    link_.Answered(now);
    if (outcome.status == xgt::fenet::ReadOutcome::Status::kRead) {
      link_.Read();
      ApplyReadings(group, outcome, round_start);
    } else {
      link_.Refused(outcome.reason);
      ApplyRefusal(group, outcome.reason, now);
    }
  }
}

void PLC::ApplyReadings(const ReadGroup& group, const xgt::fenet::ReadOutcome& outcome, Clock::time_point round_start) {
  const auto ts = client_->Now();
  for (std::size_t index = 0; index < group.ids.size(); ++index) {
    const auto poller = FindPoller(group.ids[index]);
    if (!poller) continue;  // removed during the read
    const auto& address = group.addresses[index];
    if (const auto refusals = poller->Read(round_start)) {
      LOG_INFO << name_ << ": " << xgt::fenet::VariableName(address.device, address.type, address.address, address.bit)
               << " (" << poller->Name() << ") reads again after " << refusals << " refusal(s)";
    }
    const std::string text = xgt::fenet::ReadingDocument(poller->Name(), address.key, ts, outcome.values[index]).dump();
    LOG_VERBOSE << text;
    if (options_.report) options_.report(text);
  }
}

void PLC::ApplyRefusal(const ReadGroup& group, const std::string& reason, Clock::time_point now) {
  for (const auto& id : group.ids) {
    const auto poller = FindPoller(id);
    if (!poller) continue;
    if (group.ids.size() > 1) {
      poller->GroupRefused();  // asked again at once, alone, so one bad address fails no other
    } else if (poller->Refused(now)) {
      LOG_ERROR << name_ << ": " << reason << " (" << id << "); asked again after pauses doubling up to "
                << std::chrono::duration_cast<std::chrono::seconds>(options_.periods.longest_retry).count() << " s";
    }
  }
}
