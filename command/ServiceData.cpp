#include "command/ServiceData.h"

#include "platform/Mutex.h"
#include "support/Settings.h"

namespace {

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
  CServiceData data;
  data.portText = settings::ReadCommandPortText();
  data.port = settings::CommandPortNumber(data.portText);
  SetServiceData(data);
  return data.port != 0;
}

bool SaveServiceData() { return settings::WriteCommandPortText(GetServiceData().portText); }
