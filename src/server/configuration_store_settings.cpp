#include "server/configuration_store_settings.h"

#include "common/singleton.h"
#include "nvram/nvram.h"

namespace {

// Reads and writes through to the process-wide configuration store.
class NVRAMCloudSettings : public CloudSettings {
 public:
  std::string AccessToken() const override { return Store().AccessToken(); }
  std::string RefreshToken() const override { return Store().RefreshToken(); }
  void StoreTokens(const std::string& access_token, const std::string& refresh_token) override {
    Store().AccessToken(access_token);
    Store().RefreshToken(refresh_token);
  }
  std::string ClientID() const override { return Store().ClientID(); }
  std::string ClientSecret() const override { return Store().ClientSecret(); }
  std::string URL() const override { return Store().URL(); }
  std::string Host() const override { return Store().Host(); }
  std::string DeviceID() const override { return Store().DeviceID(); }
  bool TlsVerify() const override { return Store().TlsVerify(); }
  std::string CAFile() const override { return Store().CAFile(); }

 private:
  static NVRAM& Store() { return Singleton<NVRAM>::Instance(); }
};

}  // namespace

std::shared_ptr<CloudSettings> ConfigurationStoreSettings() { return std::make_shared<NVRAMCloudSettings>(); }
