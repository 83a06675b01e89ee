#include "command/ServiceData.h"

#include <mutex>

#include "platform/IniFile.h"
#include "support/AddressParse.h"

namespace {

constexpr char kIniFile[] = "Velnor.ini";
constexpr char kSection[] = "SERVICE";
constexpr char kKey[] = "PORT";
constexpr std::size_t kValueSize = 256;

std::mutex& SettingsMutex() {
  static std::mutex mutex;
  return mutex;
}

CServiceData& Settings() {
  static CServiceData settings;  // guarded by SettingsMutex()
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

bool LoadServiceData() {
  CServiceData settings;
  settings.portText = platform::ReadIniString(kSection, kKey, "8000", kValueSize, kIniFile);
  settings.port = ParseNumberInRange(settings.portText.c_str(), 1, 65535);
  SetServiceData(settings);
  return settings.port != 0;
}

bool SaveServiceData() { return platform::WriteIniString(kSection, kKey, GetServiceData().portText, kIniFile); }
