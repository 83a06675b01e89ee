#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "command/CommandId.h"

// The saves of [SERVICE] AUTOSAVE=enable: every registry change a console command makes is
// on disk before the prompt that follows it goes out. A session notes each change and,
// before that prompt, makes sure that a save begun after the change has completed.
//
// Saves are shared (group commit): a session that finds no save running saves every
// registry changed so far, for itself and for everyone else; one that finds a save running
// waits for it, and leads the next one when that did not cover its change. A piped batch
// so costs one save per block of lines read, not one per line, and only the registries
// that changed are written.
//
// Threads: the sessions' workers. The counts are under one mutex; the files are written
// outside it, by one session at a time.
class AutoSave {
 public:
  // A change that must be saved before a prompt; empty when there is none.
  struct Ticket {
    std::uint64_t change = 0;  // the change's number, from 1
    std::uint8_t registry = 0;
    explicit operator bool() const { return change != 0; }
  };
  enum class Outcome {
    kSaved,    // the change is in its file
    kFailed,   // the save that covered it failed (its session logged it)
    kStopped,  // the waiter's stop flag was set first
  };

  // Set once at start, before the console opens; off, no ticket is ever given.
  void Enable(bool on) { on_.store(on); }
  bool On() const { return on_.load(); }

  // The ticket for a change of the registry of this command (nac, gw, gwroute, pc or
  // quarantine); none for no command or while saving is off.
  Ticket Note(std::optional<CommandId> changed);
  // Waits until the ticket's change is saved, saving it when no save runs. A stop ends the
  // wait, but not a save this caller has begun: that is written to its end.
  [[nodiscard]] Outcome Ensure(const Ticket& ticket, const std::atomic<bool>& stop);
  // Wakes every waiter to look at its stop flag; call after setting it.
  void Wake();

 private:
  static constexpr std::size_t kRegistries = 5;

  // Saves every registry changed so far; called with the lock held, and gives it back
  // while the files are written.
  void SaveChanged(std::unique_lock<std::mutex>& lock);

  std::atomic<bool> on_{false};
  std::mutex mutex_;
  std::condition_variable saved_;
  // The rest is guarded by mutex_.
  std::uint64_t changes_ = 0;
  bool saving_ = false;
  // Per registry: changed since its last save began; every change up to savedUpTo_ is in
  // its file; the last save that tried it covered the changes up to triedUpTo_.
  std::array<bool, kRegistries> dirty_{};
  std::array<std::uint64_t, kRegistries> savedUpTo_{};
  std::array<std::uint64_t, kRegistries> triedUpTo_{};
};

// The process-wide saver of the console's sessions.
AutoSave& GetAutoSave();
