#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "mailbox/depesche_poster.h"

// Keeps the configured PLCs and their pollers in step with the server. The operations are
// virtual so the application can be tested with a double.
class PLCManager : public mailbox::DepescheSender {
 public:
  explicit PLCManager(std::shared_ptr<mailbox::DepeschePoster> application);
  virtual ~PLCManager();
  PLCManager(const PLCManager&) = delete;
  PLCManager& operator=(const PLCManager&) = delete;

  // Hands new folds for the poller named `device_id` to every PLC.
  virtual void UpdateFolds(const std::string& device_id, const nlohmann::json& folds);

 protected:
  std::shared_ptr<mailbox::DepeschePoster> application_;
};
