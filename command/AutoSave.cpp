#include "command/AutoSave.h"

#include "registry/GwDataList.h"
#include "registry/GwrouteFile.h"
#include "registry/NacDataList.h"
#include "registry/PcDataList.h"
#include "registry/QuarantineDataList.h"
#include "support/AdminReport.h"

namespace {

// The registries in CommandId order, from kNac.
struct RegistryFile {
  const char* dataName;
  const char* fileName;
  int (*save)();
};

constexpr RegistryFile kFiles[] = {
    {CNacDataList::kDataName, CNacDataList::kFileName, [] { return GetNacDataList().Save(CNacDataList::kFileName); }},
    {CGwDataList::kDataName, CGwDataList::kFileName, [] { return GetGwDataList().Save(CGwDataList::kFileName); }},
    {"GWROUTE", kGwrouteFileName, [] { return SaveGwroutes(GetGwDataList(), kGwrouteFileName); }},
    {CPcDataList::kDataName, CPcDataList::kFileName, [] { return GetPcDataList().Save(CPcDataList::kFileName); }},
    {CQuarantineDataList::kDataName, CQuarantineDataList::kFileName,
     [] { return GetQuarantineDataList().Save(CQuarantineDataList::kFileName); }},
};

// Saves one registry; a failure is logged as a failed save of NAC entries always was.
bool SaveOne(const RegistryFile& file) {
  bool saved = false;
  try {
    saved = file.save() == 0;
  } catch (...) {
    // No memory for a line: the previous file stays, as on any failed save.
  }
  if (!saved) ReportFailure(3, "I failed in saving of %s data: %s.", file.dataName, file.fileName);
  return saved;
}

}  // namespace

AutoSave::Ticket AutoSave::Note(std::optional<CommandId> changed) {
  if (!changed || !On()) return {};
  const auto index = static_cast<std::size_t>(*changed) - static_cast<std::size_t>(CommandId::kNac);
  if (index >= kRegistries) return {};
  std::lock_guard lock(mutex_);
  dirty_[index] = true;
  return {++changes_, static_cast<std::uint8_t>(index)};
}

AutoSave::Outcome AutoSave::Ensure(const Ticket& ticket, const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex_);
  const std::size_t index = ticket.registry;
  for (;;) {
    if (savedUpTo_[index] >= ticket.change) return Outcome::kSaved;
    // A save that covered the change has run and did not write this registry.
    if (triedUpTo_[index] >= ticket.change) return Outcome::kFailed;
    if (stop.load()) return Outcome::kStopped;
    if (saving_) {
      saved_.wait(lock);
    } else {
      SaveChanged(lock);
    }
  }
}

void AutoSave::SaveChanged(std::unique_lock<std::mutex>& lock) {
  // Everything noted by now is in memory: the save covers it.
  const std::uint64_t upTo = changes_;
  const std::array<bool, kRegistries> due = dirty_;
  dirty_.fill(false);
  saving_ = true;
  lock.unlock();
  std::array<bool, kRegistries> written{};
  for (std::size_t i = 0; i < kRegistries; ++i) written[i] = !due[i] || SaveOne(kFiles[i]);
  lock.lock();
  for (std::size_t i = 0; i < kRegistries; ++i) {
    // A registry that had not changed since its last save holds every change up to here.
    triedUpTo_[i] = upTo;
    if (written[i]) {
      savedUpTo_[i] = upTo;
    } else {
      dirty_[i] = true;  // the next save tries it again
    }
  }
  saving_ = false;
  saved_.notify_all();
}

void AutoSave::Wake() {
  // Under the lock, so that a waiter between its look at the flag and its wait is not missed.
  std::lock_guard lock(mutex_);
  saved_.notify_all();
}

AutoSave& GetAutoSave() {
  static AutoSave saver;
  return saver;
}
