#include <stdexcept>

#include "server/configuration_store_settings.h"

// Built only while the configuration store library is not part of the tree.
std::shared_ptr<CloudSettings> ConfigurationStoreSettings() {
  throw std::logic_error("the configuration store is not built; pass CloudSettings explicitly");
}
