#pragma once

#include <memory>

#include "platform/WaitSet.h"

namespace platform {

// Network events, with the Windows Sockets values.
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

// Index of each event's error code in NetworkEvents::errorCodes.
inline constexpr int FD_READ_BIT = 0;
inline constexpr int FD_WRITE_BIT = 1;
inline constexpr int FD_OOB_BIT = 2;
inline constexpr int FD_ACCEPT_BIT = 3;
inline constexpr int FD_CONNECT_BIT = 4;
inline constexpr int FD_CLOSE_BIT = 5;
inline constexpr int FD_MAX_EVENTS = 10;

// WSANETWORKEVENTS: the recorded events and, for each, a Windows Sockets error number
// (0 for none).
struct NetworkEvents {
  long events = 0;
  int errorCodes[FD_MAX_EVENTS] = {};
};

namespace detail {
struct SocketEventState;
}

// The event object of WSAEventSelect. Select associates it with one socket and a set of
// network events; from then on the object records those events by the Windows rules and
// is signalled (like a manual-reset event) when it records one. Enumerate hands the record
// over and clears it (WSAEnumNetworkEvents).
//
// The record is kept up to date while a thread waits on the object and when Enumerate is
// called. Events that need a socket call before they can come again (FD_READ after a
// receive, FD_ACCEPT after an accept, FD_WRITE after a send that would block) are re-armed
// by the calls of Socket.h, which also wake a thread waiting on the object at that time;
// a selected socket must be used through those calls and closed with CloseSocket.
//
// Construction cannot fail. Movable; not to be moved or destroyed while a thread waits on
// it. Select is called by one thread at a time; the rest may run on any thread.
//
// Locks: each object's state has one mutex, and a process-wide registry lock maps sockets to
// states for the calls of Socket.h; the two are never held together.
class SocketEvent final : public Waitable {
 public:
  SocketEvent();
  ~SocketEvent() override;
  SocketEvent(SocketEvent&& other) noexcept;
  SocketEvent& operator=(SocketEvent&& other) noexcept;
  SocketEvent(const SocketEvent&) = delete;
  SocketEvent& operator=(const SocketEvent&) = delete;

  // WSAEventSelect. Makes the socket non-blocking, drops the association with any other
  // socket (and any other object's association with this socket), clears the record and
  // re-arms every event. A mask of 0 ends the socket's selection, whichever object held
  // it, and leaves this object associated with nothing. False when socketFd is not a
  // socket or its mode cannot be set; LastSocketError tells why.
  [[nodiscard]] bool Select(int socketFd, long networkEvents);

  // WSAEnumNetworkEvents: the events recorded since the last call, with their error codes;
  // the record is cleared and the object is no longer signalled.
  NetworkEvents Enumerate();

  // WSAResetEvent: no longer signalled; what is recorded stays for Enumerate.
  void Reset();

  // The associated socket, or -1.
  int SocketFd() const;

 private:
  [[nodiscard]] bool PrepareWait(std::vector<pollfd>& fds, detail::WaitSlot& slot, int wakeFd) override;
  void AfterPoll(std::span<const pollfd> fds, detail::WaitSlot& slot) override;
  [[nodiscard]] bool TryTake(std::span<const pollfd> fds, detail::WaitSlot& slot) override;
  void EndWait(detail::WaitSlot& slot, int wakeFd) override;
  void Dissociate();

  std::shared_ptr<detail::SocketEventState> state_;
};

// What the socket calls of Socket.h tell the object selected on a socket. Each does nothing
// when no object is selected on fd.
namespace detail {
bool IsSelected(int fd);
void NoteAccept(int listenFd);
// err: the errno of the call, or 0 when it succeeded.
void NoteReceive(int fd, int err);
void NoteSend(int fd, int err);
void NoteConnect(int fd, int err);
// The socket is about to be closed: the association ends.
void NoteClose(int fd);
}  // namespace detail

}  // namespace platform
