#include "platform/posix/posix_control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace kolibra {
namespace {

constexpr int kListenBacklog = 16;
constexpr int kAcceptsPerWake = 64;
constexpr int64_t kAcceptRetryMs = 1000;
// What a client may still send after its request is read and thrown away
// before the connection closes, so that closing does not reset the
// connection before the client has read its answer.
constexpr std::size_t kDrainLimit = 65536;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

void Drain(int fd) {
  char buf[4096];
  std::size_t total = 0;
  while (total < kDrainLimit) {
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
}

// The connected client's user, for the channel's per-client limit; empty
// when the system does not tell.
std::string PeerUser(int fd) {
#ifdef SO_PEERCRED
  struct ucred cred {};
  socklen_t size = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && size == sizeof cred) {
    return "uid " + std::to_string(cred.uid);
  }
#else
  (void)fd;
#endif
  return {};
}

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

PosixControlChannel::PosixControlChannel(PosixEventLoop& loop) : ControlChannelCore(loop), loop_(loop) {}

PosixControlChannel::~PosixControlChannel() { Close(); }

ControlOpenResult PosixControlChannel::Open(const std::string& path, Handler handler,
                                            const ControlChannelOptions& options) {
  Close();
  const uid_t me = geteuid();
  struct stat st;
  // Only this user may add or remove names in the folder, so no one else can
  // put another endpoint in the socket's place.
  const std::string folder = FolderOf(path);
  if (stat(folder.c_str(), &st) != 0) return {ControlOpenStatus::kUnsafeFolder, LastOsError()};
  if (!S_ISDIR(st.st_mode) || st.st_uid != me || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return {ControlOpenStatus::kUnsafeFolder, Status::Ok()};
  }
  // A folder its group may enter shares the socket with the socket's group
  // (the process's, or the folder's when it is setgid); others never reach it.
  const mode_t mode = (st.st_mode & S_IXGRP) != 0 ? 0660 : 0600;
  sockaddr_un addr;
  if (!FillAddress(path, addr)) return {ControlOpenStatus::kPathTooLong, Status::Ok()};

  // The caller holds the folder's single-instance lock: a socket of this
  // user under the name is left by a copy that ended without removing it.
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode) || st.st_uid != me) return {ControlOpenStatus::kNameTaken, Status::Ok()};
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return {ControlOpenStatus::kFailed, LastOsError()};
  } else if (errno != ENOENT) {
    return {ControlOpenStatus::kFailed, LastOsError()};
  }

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return {ControlOpenStatus::kFailed, LastOsError()};
  // No wider than its mode from the moment the name exists (the process is
  // single-threaded).
  const mode_t oldMask = umask(0777 & ~mode);
  const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  umask(oldMask);
  if (bound != 0) {
    const int err = errno;
    close(fd);
    return {err == EADDRINUSE ? ControlOpenStatus::kNameTaken : ControlOpenStatus::kFailed, OsError(err)};
  }
  errno = 0;
  if (chmod(path.c_str(), mode) != 0 || lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) ||
      st.st_uid != me || (st.st_mode & 0777) != mode || listen(fd, kListenBacklog) != 0) {
    // A call that failed says why; a socket that is not as made has no reason to give.
    const Status cause = errno != 0 ? LastOsError() : Status::Ok();
    unlink(path.c_str());
    close(fd);
    return {ControlOpenStatus::kFailed, cause};
  }

  listenFd_ = fd;
  path_ = path;
  socketDev_ = st.st_dev;
  socketIno_ = st.st_ino;
  Begin(std::move(handler), options);
  listenWatch_ = loop_.Watch(fd, POLLIN, [this](short) { OnAccept(); });
  return {ControlOpenStatus::kOpen, Status::Ok()};
}

void PosixControlChannel::Close() {
  acceptPaused_ = false;
  DropAll();
  if (listenFd_ < 0) return;
  loop_.Unwatch(listenWatch_);
  close(listenFd_);
  listenFd_ = -1;
  // Removes the name only while it is still this channel's socket.
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && st.st_dev == socketDev_ && st.st_ino == socketIno_) {
    unlink(path_.c_str());
  }
}

void PosixControlChannel::OnAccept() {
  for (int i = 0; i < kAcceptsPerWake && listenFd_ >= 0; ++i) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The waiting connection stays in the queue and would wake the loop
        // at once, again and again: stop listening for a while.
        acceptPaused_ = true;
        acceptRetryAt_ = loop_.NowMs() + kAcceptRetryMs;
        loop_.SetWatchEvents(listenWatch_, 0);
      }
      break;
    }
    const std::string client = PeerUser(fd);
    if (Full(client)) {
      if (!options_.busyReply.empty()) {
        ssize_t ignored = send(fd, options_.busyReply.data(), options_.busyReply.size(),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)ignored;
      }
      Drain(fd);
      close(fd);
      continue;
    }
    const ConnId id = AddConn(client);
    Socket& s = sockets_[id];
    s.fd = fd;
    s.watch = loop_.Watch(fd, POLLIN, [this, id](short) { OnConnReady(id); });
  }
  ArmDeadlineTimer();
}

void PosixControlChannel::OnConnReady(ConnId id) {
  const Conn* c = Find(id);
  if (c == nullptr) return;
  if (c->phase == Phase::kReading) {
    ReadRequest(id);
  } else if (c->phase == Phase::kWriting) {
    WriteReply(id);
  }
}

void PosixControlChannel::ReadRequest(ConnId id) {
  const int fd = sockets_.at(id).fd;
  char buf[1024];
  for (;;) {
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      // Closed or broken before a whole request: nothing to answer.
      Drop(id);
      return;
    }
    if (!TakeRequestBytes(id, std::string_view(buf, static_cast<std::size_t>(n)))) return;
  }
}

void PosixControlChannel::RequestQueued(ConnId id) { loop_.SetWatchEvents(sockets_.at(id).watch, 0); }

void PosixControlChannel::WriteReply(ConnId id) {
  const std::string& out = Find(id)->out;
  Socket& s = sockets_.at(id);
  while (s.sent < out.size()) {
    const ssize_t n = send(s.fd, out.data() + s.sent, out.size() - s.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      loop_.SetWatchEvents(s.watch, POLLOUT);
      return;
    }
    if (n <= 0) {
      Drop(id);
      return;
    }
    s.sent += static_cast<std::size_t>(n);
  }
  Drain(s.fd);
  Drop(id);
}

void PosixControlChannel::ReleaseConn(ConnId id) {
  auto it = sockets_.find(id);
  if (it == sockets_.end()) return;
  loop_.Unwatch(it->second.watch);
  close(it->second.fd);
  sockets_.erase(it);
  // A descriptor came free.
  if (acceptPaused_) ResumeAccept();
}

void PosixControlChannel::ResumeAccept() {
  if (listenFd_ < 0) return;
  acceptPaused_ = false;
  loop_.SetWatchEvents(listenWatch_, POLLIN);
}

int64_t PosixControlChannel::RetryAt() const {
  return acceptPaused_ ? acceptRetryAt_ : ControlChannelCore::RetryAt();
}

void PosixControlChannel::Retry(int64_t now) {
  if (acceptPaused_ && now >= acceptRetryAt_) ResumeAccept();
}

ControlCallStatus CheckControlEndpoint(const ControlEndpointFacts& facts, uid_t me,
                                       const std::vector<gid_t>& groups) {
  if (facts.socketUid == me) return ControlCallStatus::kOk;
  // Only the endpoint's user may have put it there.
  if (facts.folderUid != facts.socketUid || (facts.folderMode & (S_IWGRP | S_IWOTH)) != 0) {
    return ControlCallStatus::kUnsafeFolder;
  }
  if (me == 0) return ControlCallStatus::kOk;
  bool member = false;
  for (gid_t g : groups) member = member || g == facts.socketGid;
  const mode_t groupRw = S_IRGRP | S_IWGRP;
  return member && (facts.socketMode & groupRw) == groupRw ? ControlCallStatus::kOk
                                                           : ControlCallStatus::kNotOwner;
}

std::string ControlEndpointName(const std::string& path) { return path; }

ControlCallResult SendControlRequest(const std::string& path, std::string_view line, int64_t timeoutMs) {
  ControlCallResult result;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    // A folder this user may not enter is another user's.
    result.status = errno == ENOENT   ? ControlCallStatus::kNoServer
                    : errno == EACCES ? ControlCallStatus::kNotOwner
                                      : ControlCallStatus::kFailed;
    result.cause = LastOsError();
    return result;
  }
  if (!S_ISSOCK(st.st_mode)) {
    result.status = ControlCallStatus::kNoServer;
    return result;
  }
  // Another user's endpoint is a driver this user may call only when shared
  // with one of its groups, from a folder that only that user writes.
  ControlEndpointFacts facts{st.st_uid, st.st_gid, st.st_mode, 0, 0};
  if (st.st_uid != getuid()) {
    struct stat folder;
    if (stat(FolderOf(path).c_str(), &folder) != 0) {
      result.cause = LastOsError();
      return result;
    }
    facts.folderUid = folder.st_uid;
    facts.folderMode = folder.st_mode;
  }
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)) + 1);
  const int count = getgroups(static_cast<int>(groups.size()) - 1, groups.data() + 1);
  groups.resize(static_cast<std::size_t>(std::max(count, 0)) + 1);
  groups[0] = getgid();
  result.status = CheckControlEndpoint(facts, getuid(), groups);
  if (result.status != ControlCallStatus::kOk) return result;
  result.status = ControlCallStatus::kFailed;
  sockaddr_un addr;
  if (!FillAddress(path, addr)) return result;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    result.cause = LastOsError();
    return result;
  }
  const int64_t deadline = MonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);

  // A blocking connect waits for room in a full backlog at most this long.
  struct timeval tv;
  tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    close(fd);
    result.status = (err == ECONNREFUSED || err == ENOENT) ? ControlCallStatus::kNoServer
                    : (err == EAGAIN || err == ETIMEDOUT || err == EINPROGRESS)
                        ? ControlCallStatus::kTimedOut
                        : ControlCallStatus::kFailed;
    result.cause = OsError(err);
    return result;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

  std::string request(line);
  request += '\n';
  std::size_t sent = 0;
  std::string reply;
  ControlCallStatus status = ControlCallStatus::kOk;
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) {
      status = ControlCallStatus::kTimedOut;
      break;
    }
    const bool sending = sent < request.size();
    pollfd p{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
    const int r = poll(&p, 1, static_cast<int>(left > 60000 ? 60000 : left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      status = ControlCallStatus::kFailed;
      result.cause = LastOsError();
      break;
    }
    if (r == 0) continue;
    if (sending) {
      const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // The server may answer and close before taking the whole request (a
      // request too long): read what it said.
      if (n < 0) {
        sent = request.size();
        continue;
      }
      sent += static_cast<std::size_t>(n);
      continue;
    }
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      status = reply.empty() ? ControlCallStatus::kFailed : ControlCallStatus::kOk;
      result.cause = LastOsError();
      break;
    }
    if (n == 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
    if (reply.size() > kMaxControlReplyBytes) {
      status = ControlCallStatus::kFailed;
      break;
    }
  }
  close(fd);
  // A connection closed before any answer carries none.
  if (status == ControlCallStatus::kOk && reply.empty()) status = ControlCallStatus::kFailed;
  result.status = status;
  result.reply = std::move(reply);
  return result;
}

}  // namespace kolibra
