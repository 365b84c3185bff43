#pragma once

// The firmware update manager, one per process through Singleton<OTAManager>.
class OTAManager {
 public:
  OTAManager();
  virtual ~OTAManager();
  OTAManager(const OTAManager&) = delete;
  OTAManager& operator=(const OTAManager&) = delete;

  // Arms the firmware check and session sweep timers.
  virtual void StartTimers();
};
