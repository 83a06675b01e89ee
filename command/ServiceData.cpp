#include "command/ServiceData.h"


#include "platform/IniFile.h"
#include "platform/Mutex.h"
#include "support/AddressParse.h"

namespace {

constexpr char kIniFile[] = "Velnor.ini";
constexpr char kSection[] = "SERVICE";
constexpr char kKey[] = "PORT";
constexpr std::size_t kValueSize = 256;

struct SharedSettings {
  platform::Mutex mutex;
  CServiceData data VELNOR_GUARDED_BY(mutex);
};

SharedSettings& Settings() {
  static SharedSettings settings;
  return settings;
}

}  // namespace

CServiceData GetServiceData() {
  SharedSettings& settings = Settings();
  platform::MutexLock lock(settings.mutex);
  return settings.data;
}

void SetServiceData(const CServiceData& data) {
  SharedSettings& settings = Settings();
  platform::MutexLock lock(settings.mutex);
  settings.data = data;
}

bool LoadServiceData() {
  CServiceData settings;
  settings.portText = platform::ReadIniString(kSection, kKey, "8000", kValueSize, kIniFile);
  settings.port = ParseNumberInRange(settings.portText.c_str(), 1, 65535);
  SetServiceData(settings);
  return settings.port != 0;
}

bool SaveServiceData() { return platform::WriteIniString(kSection, kKey, GetServiceData().portText, kIniFile); }
