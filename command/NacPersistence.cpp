#include "command/NacPersistence.h"

#include "registry/NacDataList.h"
#include "support/AdminReport.h"
#include "support/Settings.h"

void PersistNacEntries() {
  if (!settings::NacPersistOn()) return;
  if (GetNacDataList().Save(CNacDataList::kFileName) != 0) {
    ReportFailure(3, "I failed in saving of NAC data: %s.", CNacDataList::kFileName);
  }
}
