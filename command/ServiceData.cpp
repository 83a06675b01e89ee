#include "command/ServiceData.h"

#include <mutex>

namespace {

std::mutex& SettingsMutex() {
  static std::mutex mutex;
  return mutex;
}

CServiceData& Settings() {
  static CServiceData settings;
  return settings;
}

}  // namespace

CServiceData GetServiceData() {
  std::lock_guard lock(SettingsMutex());
  return Settings();
}

void SetServiceData(const CServiceData& data) {
  std::lock_guard lock(SettingsMutex());
  Settings() = data;
}
