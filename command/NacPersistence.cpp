#include "command/NacPersistence.h"

#include <string>

#include "platform/IniFile.h"
#include "registry/NacDataList.h"
#include "support/AdminReport.h"
#include "support/TextScan.h"

bool NacPersistOn() {
  std::string value = platform::ReadIniString("NAC", "PERSIST", "disable", 256, "Velnor.ini");
  StrToLower(value.data());
  return value == "enable";
}

void PersistNacEntries() {
  if (!NacPersistOn()) return;
  if (GetNacDataList().Save(CNacDataList::kFileName) != 0) {
    ReportFailure(3, "I failed in saving of NAC data: %s.", CNacDataList::kFileName);
  }
}
