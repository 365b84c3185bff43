#pragma once

// Doubles of the application's components and platform, recording every call in one
// journal so tests can check the calls and their order.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app.h"
#include "ble/provisioning_component.h"
#include "hci/hci_controller.h"
#include "mesh/mesh_component.h"
#include "plc/plc_component.h"

namespace app_doubles {

class Journal {
 public:
  // The observer the application handed the cloud client, for tests to tell deliveries.
  std::function<void(bool)> observe_deliveries;

  void Record(std::string call) {
    const std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::move(call));
  }
  std::vector<std::string> Calls() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }
  void Clear() {
    const std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::string> calls_;
};

// The real components keep the application alive for the whole process; doubles get a
// non-owning pointer instead, so each test's application (and its threads) ends with it.
inline std::shared_ptr<mailbox::DepeschePoster> Unowned(const std::shared_ptr<mailbox::DepeschePoster>& poster) {
  return std::shared_ptr<mailbox::DepeschePoster>(std::shared_ptr<void>(), poster.get());
}

class MeshDouble : public MeshComponent {
 public:
  MeshDouble(std::shared_ptr<Journal> journal, bool starts) : journal_(std::move(journal)), starts_(starts) {}
  bool Initialize() override {
    journal_->Record("mesh.Initialize");
    return starts_;
  }
  void Deinitialize() override { journal_->Record("mesh.Deinitialize"); }
  void UpdateBeacon(const std::string& id, const bool& enable) override {
    journal_->Record("mesh.UpdateBeacon " + id + " " + (enable ? "true" : "false"));
  }
  void UpdateFolds(const std::string& id, const nlohmann::json& folds) override {
    journal_->Record("mesh.UpdateFolds " + id + " " + folds.dump());
  }
  mesh::MeshStatus Status() const override { return {}; }

 private:
  std::shared_ptr<Journal> journal_;
  bool starts_;
};

class BleDouble : public ProvisioningComponent {
 public:
  BleDouble(std::shared_ptr<Journal> journal, bool starts) : journal_(std::move(journal)), starts_(starts) {}
  bool Initialize() override {
    journal_->Record("ble.Initialize");
    return starts_;
  }
  void Deinitialize() override { journal_->Record("ble.Deinitialize"); }
  void PutWirelessAPList(const nlohmann::json& results) override {
    journal_->Record("ble.PutWirelessAPList " + results.dump());
  }
  void WirelessScanFailed() override { journal_->Record("ble.WirelessScanFailed"); }
  void PutWirelessConnectionEvent(bool connected, const std::string& address) override {
    journal_->Record(std::string("ble.PutWirelessConnectionEvent ") + (connected ? "true" : "false") + " " + address);
  }
  void OpenProvisioningWindow() override { journal_->Record("ble.OpenProvisioningWindow"); }

 private:
  std::shared_ptr<Journal> journal_;
  bool starts_;
};

class PlcDouble : public PlcComponent {
 public:
  explicit PlcDouble(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}
  void UpdateFolds(const std::string& id, const nlohmann::json& folds) override {
    journal_->Record("plc.UpdateFolds " + id + " " + folds.dump());
  }
  std::vector<PlcStatus> Status() const override { return {}; }

 private:
  std::shared_ptr<Journal> journal_;
};

// The HCI command counter, read from a script of readings (the last one repeats).
class FakeHci : public HciController {
 public:
  explicit FakeHci(std::deque<Reading> readings) : readings_(std::move(readings)) {}
  Reading ReadCommandCount(int /*device*/) override {
    const std::lock_guard<std::mutex> guard(lock_);
    ++reads_;
    if (readings_.size() > 1) {
      const auto next = readings_.front();
      readings_.pop_front();
      return next;
    }
    return readings_.front();
  }
  VendorAnswer SendVendorCommand(std::uint16_t, const std::vector<std::uint8_t>&, std::size_t,
                                 std::chrono::milliseconds) override {
    return {VendorStatus::open_failed, {}};
  }
  int Reads() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return reads_;
  }

 private:
  mutable std::mutex lock_;
  std::deque<Reading> readings_;
  int reads_ = 0;
};

// An application whose posts are recorded as well as queued.
class SpyApp : public App {
 public:
  using App::App;
  void Post(const mailbox::Depesche& message) override {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      posted_.push_back(message.id);
    }
    App::Post(message);
  }
  std::vector<std::uint32_t> Posted() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return posted_;
  }
  void ClearPosted() {
    const std::lock_guard<std::mutex> guard(lock_);
    posted_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::uint32_t> posted_;
};

}  // namespace app_doubles
