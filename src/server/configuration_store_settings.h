#pragma once

#include <memory>

#include "server/cloud_settings.h"

// The cloud settings of the configuration store (Singleton<NVRAM>): what the daemon uses.
std::shared_ptr<CloudSettings> ConfigurationStoreSettings();
