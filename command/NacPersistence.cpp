#include "command/NacPersistence.h"

#include "command/AutoSave.h"
#include "registry/NacDataList.h"
#include "support/AdminReport.h"
#include "support/Settings.h"

void PersistNacEntries() {
  // The prompt's save takes the change along with the others of its batch.
  if (!settings::NacPersistOn() || GetAutoSave().On()) return;
  if (GetNacDataList().Save(CNacDataList::kFileName) != 0) {
    ReportFailure(3, "I failed in saving of NAC data: %s.", CNacDataList::kFileName);
  }
}
