#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <span>

#include "command/CommandEvent.h"
#include "command/CommandHandler.h"
#include "command/CommandReply.h"
#include "support/Syslog.h"

// The frame every command family shares.

struct SubCommand {
  const char* name;
  CommandHandler handler;
};

// Runs the sub-command that word 1 names, in table order: the family word alone runs
// show, a word that names none gets the family's usage text. byLeadingPart lets any
// leading part of a name select it.
[[nodiscard]] std::int32_t RunFamily(int socket, int wordCount, char** words, std::span<const SubCommand> subCommands,
                                     CommandHandler show, const char* usage, bool byLeadingPart = false);

// The add of a registry: a new record that fill takes from the words, stored with its
// added flag. 1, or 0 after the refusal's reply (the usage text when fill refuses,
// "duplication of data" when the registry does, "memory throw" without memory, logged
// with makeFailureText); -1 when that reply could not be sent.
template <class List, class Record>
[[nodiscard]] std::int32_t AddRecord(int socket, int wordCount, char** words, List& list,
                                     bool (*fill)(int wordCount, char** words, Record& record), const char* usage,
                                     const char* makeFailureText) {
  std::unique_ptr<Record> record;
  try {
    record = std::make_unique<Record>();
  } catch (const std::bad_alloc&) {
    SyslogSend(2, "%s", makeFailureText);
    return ReplyWith(socket, "memory throw\r\n", 0);
  }
  if (!fill(wordCount, words, *record)) return ReplyWith(socket, usage, 0);
  record->added = 1;
  if (list.AddUnique(record.get()) != 0) return ReplyWith(socket, "duplication of data\r\n", 0);
  record.release();
  return command_event::kAdd;
}

// save, load and clear of a registry with a file: each takes exactly the two words.
// save: 0, with "save error" when the file could not be written. load: 3 whether or not
// the file could be read (a failed load has still withdrawn the old records, so the
// controller must hear of it), with "load error" when not. clear: every record withdrawn, 4.
template <class List>
[[nodiscard]] std::int32_t SaveRegistry(int socket, int wordCount, List& list, const char* file, const char* usage) {
  if (wordCount != 2) return ReplyWith(socket, usage, 0);
  if (list.Save(file) != 0) return ReplyWith(socket, "save error\r\n", 0);
  return 0;
}

template <class List>
[[nodiscard]] std::int32_t LoadRegistry(int socket, int wordCount, List& list, const char* file, const char* usage) {
  if (wordCount != 2) return ReplyWith(socket, usage, 0);
  if (list.Load(file) != 0) return ReplyWith(socket, "load error\r\n", command_event::kLoad);
  return command_event::kLoad;
}

template <class List>
[[nodiscard]] std::int32_t ClearRegistry(int socket, int wordCount, List& list, const char* usage) {
  if (wordCount != 2) return ReplyWith(socket, usage, 0);
  list.MarkAllDeleted(1);
  return command_event::kClear;
}
