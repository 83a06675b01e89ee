#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "command/CommandReply.h"

// The shows send their listings a piece at a time: a few thousand records are copied under
// the registry's lock, their lines formatted and sent, then the next piece is copied. A
// reader that stops reading holds one piece, not a copy of the whole registry, and the
// lock is never held for more than one piece. Between pieces the registry may change; a
// registry that does not gives the lines a whole snapshot would give.
inline constexpr std::size_t kShowPieceRecords = 2048;

// copy() fills the next piece (emptied first) and gives whether records remain after it;
// format(text) appends the piece's lines to text and gives false when the listing ends
// within it. 0, or -1 when a send failed. A piece without memory ends the listing with
// "show error".
template <class Copy, class Format>
[[nodiscard]] std::int32_t SendInPieces(int socket, Copy copy, Format format) {
  std::string text;
  for (bool more = true; more;) {
    text.clear();
    try {
      more = copy();
      if (!format(text)) more = false;
    } catch (const std::bad_alloc&) {
      return ReplyWith(socket, "show error\r\n", 0);
    }
    if (!text.empty() && SendReply(socket, text) != 0) return -1;
  }
  return 0;
}

// The listing of a registry's live records, in list order, one line each: line appends a
// record's line and gives false for a record that ends the listing (it adds nothing then).
template <class Record, class List>
[[nodiscard]] std::int32_t SendListing(int socket, List& list, bool (*line)(const Record& record, std::string& out)) {
  std::vector<Record> piece;
  std::optional<std::int64_t> after;
  const auto copy = [&] {
    piece.clear();
    piece.reserve(kShowPieceRecords);
    return list.CopyLivePiece(after, kShowPieceRecords, piece);
  };
  const auto format = [&](std::string& text) {
    for (const Record& record : piece) {
      if (!line(record, text)) return false;
    }
    return true;
  };
  return SendInPieces(socket, copy, format);
}
