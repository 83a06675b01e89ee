#include "platform/SocketEvent.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/SocketError.h"

namespace platform {
namespace detail {

enum class Phase {
  kIdle,        // not connected, nothing to watch
  kConnecting,  // a connect is under way
  kConnected,   // connected stream, or a datagram socket
  kListening,
  kDead,  // the connect failed
};

// Lock order: the registry lock and a state's lock are never held together.
struct SocketEventState {
  std::mutex mutex;
  int fd = -1;
  long mask = 0;
  bool stream = true;
  Phase phase = Phase::kIdle;

  long recorded = 0;
  int errors[FD_MAX_EVENTS] = {};
  bool signalled = false;

  // Whether each event may be recorded again.
  bool readArmed = false;
  bool writeArmed = false;
  bool oobArmed = false;
  bool acceptArmed = false;
  bool closeRecorded = false;
  bool eof = false;    // the peer's end was seen with nothing left to read
  int resetErrno = 0;  // a reset the application's own calls saw (they clear SO_ERROR)

  // Bumped by every change of the above; a wait round prepared under another generation
  // does not interpret its poll results.
  uint64_t generation = 0;
  // The socket reported something that records nothing; it stays out of the poll set until
  // the state changes, so such a report cannot turn into a busy loop.
  bool quiet = false;
  uint64_t quietGeneration = 0;

  // Wake descriptors of the threads waiting on the object now.
  std::vector<int> waiters;

  // exceptFd: the wake descriptor of a waiter that is awake already (it made the change).
  void Changed(int exceptFd = -1) {
    ++generation;
    const uint64_t one = 1;
    for (int fd : waiters) {
      if (fd == exceptFd) continue;
      // A full counter means the waiter is being woken anyway.
      while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
  }

  void Record(int bit, int error) {
    recorded |= 1L << bit;
    errors[bit] = error;
    signalled = true;
  }

  void Clear() {
    recorded = 0;
    std::fill(std::begin(errors), std::end(errors), 0);
    signalled = false;
  }

  void Dissociate() {
    fd = -1;
    mask = 0;
    phase = Phase::kIdle;
    Clear();
    Changed();
  }
};

namespace {

using State = SocketEventState;

struct Registry {
  std::mutex mutex;
  std::unordered_map<int, std::weak_ptr<State>> bySocket;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // outlives every static SocketEvent
  return *registry;
}

std::shared_ptr<State> Find(int fd) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.bySocket.find(fd);
  if (it == registry.bySocket.end()) return nullptr;
  std::shared_ptr<State> state = it->second.lock();
  if (!state) registry.bySocket.erase(it);
  return state;
}

// Drops fd's entry when it belongs to state (any state when null).
void Unregister(int fd, const State* state) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.bySocket.find(fd);
  if (it == registry.bySocket.end()) return;
  std::shared_ptr<State> current = it->second.lock();
  if (state == nullptr || !current || current.get() == state) registry.bySocket.erase(it);
}

int TakeSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

int BytesWaiting(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count;
}

short PollNow(int fd, short events) {
  pollfd pfd{fd, events, 0};
  int rc;
  while ((rc = poll(&pfd, 1, 0)) < 0 && errno == EINTR) {
  }
  return rc > 0 ? pfd.revents : 0;
}

bool IsResetErrno(int err) {
  return err == ECONNRESET || err == ECONNABORTED || err == ETIMEDOUT || err == ENETRESET ||
         err == EHOSTUNREACH;
}

// Where a socket stands when it is selected.
Phase DetectPhase(int fd, int type) {
  if (type != SOCK_STREAM) return Phase::kConnected;
  tcp_info info{};
  socklen_t len = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0) {
    switch (info.tcpi_state) {
      case TCP_LISTEN:
        return Phase::kListening;
      case TCP_SYN_SENT:
      case TCP_SYN_RECV:
        return Phase::kConnecting;
      case TCP_CLOSE:
        // Never connected, or already reset: only the latter has its ends shut.
        return (PollNow(fd, POLLRDHUP) & (POLLRDHUP | POLLERR)) != 0 ? Phase::kConnected
                                                                     : Phase::kIdle;
      default:
        return Phase::kConnected;
    }
  }
  int accepting = 0;
  len = sizeof accepting;
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) == 0 && accepting != 0) {
    return Phase::kListening;
  }
  sockaddr_storage peer{};
  socklen_t peerLen = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0) {
    return Phase::kConnected;
  }
  return Phase::kIdle;
}

struct Interest {
  short pollEvents = 0;
  long watch = 0;  // FD_* bits that this round may record
};

Interest ComputeInterest(const State& s) {
  Interest in;
  if (s.fd < 0 || s.mask == 0) return in;
  if (s.quiet && s.quietGeneration == s.generation) return in;
  switch (s.phase) {
    case Phase::kListening:
      if ((s.mask & FD_ACCEPT) != 0 && s.acceptArmed) {
        in.watch |= FD_ACCEPT;
        in.pollEvents |= POLLIN;
      }
      // A listener's end shows only as POLLHUP or POLLERR, which poll always reports.
      if ((s.mask & FD_CLOSE) != 0 && !s.closeRecorded) in.watch |= FD_CLOSE;
      break;
    case Phase::kConnecting:
      // Watched whatever the mask: completion moves the socket on to connected.
      in.watch |= FD_CONNECT;
      in.pollEvents |= POLLOUT;
      break;
    case Phase::kConnected:
      if ((s.mask & FD_READ) != 0 && s.readArmed && !s.eof) {
        in.watch |= FD_READ;
        in.pollEvents |= POLLIN | POLLRDHUP;
      }
      // While FD_READ waits for a receive, the close waits too: the bytes come first, and
      // watching a shut end that nobody reads would wake the poll for ever.
      if (s.stream && (s.mask & FD_CLOSE) != 0 && !s.closeRecorded &&
          ((s.mask & FD_READ) == 0 || s.readArmed)) {
        in.watch |= FD_CLOSE;
        in.pollEvents |= POLLRDHUP;
      }
      if ((s.mask & FD_WRITE) != 0 && s.writeArmed) {
        in.watch |= FD_WRITE;
        in.pollEvents |= POLLOUT;
      }
      if ((s.mask & FD_OOB) != 0 && s.oobArmed) {
        in.watch |= FD_OOB;
        in.pollEvents |= POLLPRI;
      }
      break;
    case Phase::kIdle:
    case Phase::kDead:
      break;
  }
  return in;
}

// Records what the poll reported on the socket for a round prepared with `watch`; the
// thread that polled (wake descriptor selfFd) needs no wake for what it records.
void Interpret(State& s, short revents, long watch, int selfFd = -1) {
  if (revents == 0) return;
  bool changed = false;
  const bool broken = (revents & (POLLERR | POLLHUP)) != 0;

  if ((revents & POLLNVAL) != 0) {
    // Closed behind our back: nothing more can be learnt from it.
  } else if (s.phase == Phase::kConnecting) {
    if ((watch & FD_CONNECT) != 0 && (revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      int err = TakeSocketError(s.fd);
      if (err == 0 && (revents & POLLHUP) != 0) err = ENOTCONN;
      if (err == 0) {
        s.phase = Phase::kConnected;
        if ((s.mask & FD_CONNECT) != 0) s.Record(FD_CONNECT_BIT, 0);
        s.writeArmed = false;
        if ((s.mask & FD_WRITE) != 0) s.Record(FD_WRITE_BIT, 0);
      } else {
        s.phase = Phase::kDead;
        if ((s.mask & FD_CONNECT) != 0) s.Record(FD_CONNECT_BIT, SocketErrorFromErrno(err));
      }
      changed = true;
    }
  } else if (s.phase == Phase::kListening) {
    if ((watch & FD_CLOSE) != 0 && broken) {
      const int err = TakeSocketError(s.fd);
      s.Record(FD_CLOSE_BIT, err != 0 ? SocketErrorFromErrno(err) : 0);
      s.closeRecorded = true;
      changed = true;
    } else if ((watch & FD_ACCEPT) != 0 && (revents & POLLIN) != 0) {
      s.Record(FD_ACCEPT_BIT, 0);
      s.acceptArmed = false;
      changed = true;
    }
  } else if (s.phase == Phase::kConnected) {
    if (!s.stream) {
      if ((watch & FD_READ) != 0 && (revents & POLLIN) != 0) {
        s.Record(FD_READ_BIT, 0);
        s.readArmed = false;
        changed = true;
      }
    } else if ((watch & (FD_READ | FD_CLOSE)) != 0 &&
               (revents & (POLLIN | POLLRDHUP | POLLERR | POLLHUP)) != 0) {
      const bool ending = (revents & (POLLRDHUP | POLLERR | POLLHUP)) != 0;
      // Readable without a shut end means bytes wait: only an end needs the count.
      const int waiting = ending ? BytesWaiting(s.fd) : 1;
      if (waiting > 0 && (watch & FD_READ) != 0) {
        s.Record(FD_READ_BIT, 0);
        s.readArmed = false;
        changed = true;
      } else if (ending && (waiting == 0 || (s.mask & FD_READ) == 0)) {
        if (waiting == 0 && !s.eof) {
          s.eof = true;
          changed = true;
        }
        if ((watch & FD_CLOSE) != 0) {
          int err = TakeSocketError(s.fd);
          if (err == 0) err = s.resetErrno;
          s.Record(FD_CLOSE_BIT, err != 0 ? SocketErrorFromErrno(err) : 0);
          s.closeRecorded = true;
          changed = true;
        }
      }
    }
    if (broken) {
      // Both directions are shut: no send can succeed, so no FD_WRITE either.
      if (s.writeArmed) {
        s.writeArmed = false;
        changed = true;
      }
    } else if ((watch & FD_WRITE) != 0 && (revents & POLLOUT) != 0) {
      s.Record(FD_WRITE_BIT, 0);
      s.writeArmed = false;
      changed = true;
    }
    if ((watch & FD_OOB) != 0 && (revents & POLLPRI) != 0) {
      s.Record(FD_OOB_BIT, 0);
      s.oobArmed = false;
      changed = true;
    }
  }

  if (changed) {
    s.Changed(selfFd);
  } else {
    s.quiet = true;
    s.quietGeneration = s.generation;
  }
}

// Brings the record up to date without waiting.
void Refresh(State& s) {
  const Interest in = ComputeInterest(s);
  if (in.watch == 0) return;
  const short revents = PollNow(s.fd, in.pollEvents);
  Interpret(s, revents, in.watch);
}

}  // namespace

bool IsSelected(int fd) {
  std::shared_ptr<State> state = Find(fd);
  if (!state) return false;
  std::lock_guard lock(state->mutex);
  return state->fd == fd && state->mask != 0;
}

void NoteAccept(int listenFd) {
  std::shared_ptr<State> state = Find(listenFd);
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (state->fd != listenFd) return;
  state->acceptArmed = true;
  state->Changed();
}

void NoteReceive(int fd, int err) {
  std::shared_ptr<State> state = Find(fd);
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (state->fd != fd) return;
  state->readArmed = true;
  state->oobArmed = true;
  if (IsResetErrno(err)) state->resetErrno = err;
  state->Changed();
}

void NoteSend(int fd, int err) {
  if (err != EAGAIN && err != EWOULDBLOCK && !IsResetErrno(err)) return;
  std::shared_ptr<State> state = Find(fd);
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (state->fd != fd) return;
  if (IsResetErrno(err)) {
    state->resetErrno = err;
  } else {
    state->writeArmed = true;
  }
  state->Changed();
}

void NoteConnect(int fd, int err) {
  if (err != 0 && err != EINPROGRESS) return;
  std::shared_ptr<State> state = Find(fd);
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (state->fd != fd) return;
  if (err == EINPROGRESS) {
    state->phase = Phase::kConnecting;
  } else {
    state->phase = Phase::kConnected;
    if ((state->mask & FD_CONNECT) != 0) state->Record(FD_CONNECT_BIT, 0);
    state->writeArmed = false;
    if ((state->mask & FD_WRITE) != 0) state->Record(FD_WRITE_BIT, 0);
  }
  state->Changed();
}

void NoteClose(int fd) {
  std::shared_ptr<State> state = Find(fd);
  Unregister(fd, nullptr);
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (state->fd == fd) state->Dissociate();
}

}  // namespace detail

using detail::State;

SocketEvent::SocketEvent() : state_(std::make_shared<State>()) {}

SocketEvent::~SocketEvent() { Dissociate(); }

SocketEvent::SocketEvent(SocketEvent&& other) noexcept : state_(std::move(other.state_)) {}

SocketEvent& SocketEvent::operator=(SocketEvent&& other) noexcept {
  if (this != &other) {
    Dissociate();
    state_ = std::move(other.state_);
  }
  return *this;
}

void SocketEvent::Dissociate() {
  if (!state_) return;
  int fd;
  {
    std::lock_guard lock(state_->mutex);
    fd = state_->fd;
    if (fd >= 0) state_->Dissociate();
  }
  if (fd >= 0) detail::Unregister(fd, state_.get());
}

bool SocketEvent::Select(int socketFd, long networkEvents) {
  if (!state_) state_ = std::make_shared<State>();

  int type = 0;
  socklen_t len = sizeof type;
  if (getsockopt(socketFd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
    if (errno == EBADF) errno = ENOTSOCK;  // Windows names a bad handle this way
    return false;
  }
  const int flags = fcntl(socketFd, F_GETFL);
  if (flags < 0 || fcntl(socketFd, F_SETFL, flags | O_NONBLOCK) != 0) return false;

  Dissociate();
  if (networkEvents == 0) {
    // Ends the socket's selection whichever object holds it, as a close does.
    detail::NoteClose(socketFd);
    return true;
  }

  const detail::Phase phase = detail::DetectPhase(socketFd, type);
  std::shared_ptr<State> displaced;
  {
    detail::Registry& registry = detail::TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::weak_ptr<State>& entry = registry.bySocket[socketFd];
    displaced = entry.lock();
    entry = state_;
  }
  // One socket, one selection: the object selected before on it loses it.
  if (displaced && displaced != state_) {
    std::lock_guard lock(displaced->mutex);
    if (displaced->fd == socketFd) displaced->Dissociate();
  }

  State& s = *state_;
  std::lock_guard lock(s.mutex);
  s.fd = socketFd;
  s.mask = networkEvents;
  s.stream = type == SOCK_STREAM;
  s.phase = phase;
  s.Clear();
  s.readArmed = true;
  s.oobArmed = true;
  s.acceptArmed = true;
  s.writeArmed = phase == detail::Phase::kConnected;
  s.closeRecorded = false;
  s.eof = false;
  s.resetErrno = 0;
  s.quiet = false;
  s.Changed();
  return true;
}

NetworkEvents SocketEvent::Enumerate() {
  NetworkEvents out;
  if (!state_) return out;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  detail::Refresh(s);
  out.events = s.recorded;
  std::copy(std::begin(s.errors), std::end(s.errors), std::begin(out.errorCodes));
  s.Clear();
  return out;
}

void SocketEvent::Reset() {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  state_->signalled = false;
}

int SocketEvent::SocketFd() const {
  if (!state_) return -1;
  std::lock_guard lock(state_->mutex);
  return state_->fd;
}

bool SocketEvent::PrepareWait(std::vector<pollfd>& fds, detail::WaitSlot& slot, int wakeFd) {
  if (!state_) return false;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  if (!slot.registered) {
    s.waiters.push_back(wakeFd);
    slot.registered = true;
    slot.wakeFd = wakeFd;
  }
  const detail::Interest in = detail::ComputeInterest(s);
  slot.generation = s.generation;
  slot.interest = static_cast<unsigned>(in.watch);
  if (in.watch != 0) fds.push_back(pollfd{s.fd, in.pollEvents, 0});
  return s.signalled;
}

void SocketEvent::AfterPoll(std::span<const pollfd> fds, detail::WaitSlot& slot) {
  if (!state_ || fds.empty()) return;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  // A changed state makes the poll results stale; the next round polls afresh.
  if (s.generation != slot.generation) return;
  detail::Interpret(s, fds[0].revents, static_cast<long>(slot.interest), slot.wakeFd);
}

bool SocketEvent::TryTake(std::span<const pollfd> fds, detail::WaitSlot& slot) {
  (void)fds;
  (void)slot;
  if (!state_) return false;
  std::lock_guard lock(state_->mutex);
  return state_->signalled;
}

void SocketEvent::EndWait(detail::WaitSlot& slot, int wakeFd) {
  if (!state_ || !slot.registered) return;
  State& s = *state_;
  std::lock_guard lock(s.mutex);
  auto it = std::find(s.waiters.begin(), s.waiters.end(), wakeFd);
  if (it != s.waiters.end()) s.waiters.erase(it);
  slot.registered = false;
}

}  // namespace platform
