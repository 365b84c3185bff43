#include "ota/ota_manager.h"

OTAManager::OTAManager() = default;

OTAManager::~OTAManager() = default;

void OTAManager::StartTimers() {}
