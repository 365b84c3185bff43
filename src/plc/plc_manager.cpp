#include "plc/plc_manager.h"

PLCManager::PLCManager(std::shared_ptr<mailbox::DepeschePoster> application) : application_(std::move(application)) {}

PLCManager::~PLCManager() = default;

void PLCManager::UpdateFolds(const std::string& /*device_id*/, const nlohmann::json& /*folds*/) {}
