#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "command/CommandId.h"

// The registry changes that wait for the controller's walk. A session flags which command
// changed a registry; at most one "VELNORCMD:WM_PROTOCOL_RECV" waits for the controller at a
// time, and its walk takes everything flagged by then. The count of changes not yet walked
// holds the sessions back once it passes kBound, so a piped batch cannot outrun the walks.
//
// Threads: the sessions' workers flag and read the count; the controller's thread takes and
// reports its walks. Everything is guarded by one mutex.
class PendingWalks {
 public:
  // Changes flagged and not yet walked beyond which a session waits before its next line.
  static constexpr std::size_t kBound = 4096;

  // Whether the controller walks the registry of this command at all.
  static bool Walks(CommandId id) { return id >= CommandId::kNac && id <= CommandId::kQuarantine; }

  // Records one change of the command's registry, of the kind its handler's result tells
  // (command_event). True when no message is outstanding: the caller must post one, and it
  // counts as outstanding from here on.
  [[nodiscard]] bool Flag(CommandId id, std::int32_t result);
  // The message of the last Flag could not be posted: the next change posts one again.
  void PostFailed();
  // A command whose changes wait with no message outstanding, which then counts as
  // outstanding: the caller must post one for it. None when nothing is missing.
  [[nodiscard]] std::optional<CommandId> Unannounced();

  // A registry that changed, and whether its changes both added and withdrew records: a
  // record may then carry both flags, which takes a walk for each.
  struct Flagged {
    CommandId id;
    bool adds = false;
    bool withdraws = false;
    bool operator==(const Flagged&) const = default;
  };
  struct Batch {
    std::vector<Flagged> flagged;  // distinct ids, in the order they were first flagged
    std::size_t changes = 0;
  };
  // The controller's part when the message arrives: everything flagged so far. A change
  // made from here on brings a new message.
  Batch Take();
  // The walks of a batch have run.
  void Walked(std::size_t changes);

  // Changes flagged and not yet walked.
  std::size_t Waiting() const;
  // Whether a session must hold back its next line.
  bool Full() const { return Waiting() > kBound; }

 private:
  mutable std::mutex mutex_;
  std::vector<Flagged> flagged_;  // guarded by mutex_
  std::size_t changes_ = 0;     // guarded by mutex_: changes flagged since the last Take
  std::size_t waiting_ = 0;     // guarded by mutex_: flagged_ and those of batches still walking
  bool outstanding_ = false;    // guarded by mutex_
};
