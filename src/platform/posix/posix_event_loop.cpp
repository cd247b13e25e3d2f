#include "platform/posix/posix_event_loop.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

namespace kolibra {
namespace {

// The signal handler can only reach plain globals: the pending signal and the
// write end of the owning loop's self-pipe.
volatile sig_atomic_t g_pendingSignal = 0;
volatile int g_signalPipe = -1;
struct sigaction g_oldTerm, g_oldInt, g_oldHup, g_oldPipe;

void OnTerminationSignal(int sig) {
  const int savedErrno = errno;
  g_pendingSignal = sig;
  const int fd = g_signalPipe;
  if (fd >= 0) {
    const char byte = 's';
    ssize_t ignored = write(fd, &byte, 1);  // a full pipe already wakes the loop
    (void)ignored;
  }
  errno = savedErrno;
}

int64_t ClampTimeout(int64_t ms) {
  if (ms < 0) return 0;
  if (ms > INT_MAX) return INT_MAX;
  return ms;
}

}  // namespace

PosixEventLoop::PosixEventLoop() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
}

PosixEventLoop::~PosixEventLoop() {
  if (signalsInstalled_) {
    g_signalPipe = -1;
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGHUP, &g_oldHup, nullptr);
    sigaction(SIGPIPE, &g_oldPipe, nullptr);
    g_pendingSignal = 0;
  }
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
}

bool PosixEventLoop::InstallTerminationSignals() {
  if (signalsInstalled_) return true;
  if (wakeWrite_ < 0 || g_signalPipe >= 0) return false;  // another loop owns them
  struct sigaction sa = {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  g_pendingSignal = 0;
  g_signalPipe = wakeWrite_;
  if (sigaction(SIGTERM, &sa, &g_oldTerm) != 0) return false;
  if (sigaction(SIGINT, &sa, &g_oldInt) != 0) {
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    return false;
  }
  // A closed terminal or SSH session: an orderly shutdown too, not a kill in
  // the middle of a receipt.
  if (sigaction(SIGHUP, &sa, &g_oldHup) != 0) {
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    sigaction(SIGINT, &g_oldInt, nullptr);
    return false;
  }
  struct sigaction ign = {};
  ign.sa_handler = SIG_IGN;
  sigemptyset(&ign.sa_mask);
  sigaction(SIGPIPE, &ign, &g_oldPipe);
  signalsInstalled_ = true;
  return true;
}

int64_t PosixEventLoop::NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

CivilTime PosixEventLoop::Civil(bool local) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t secs = ts.tv_sec;
  struct tm tm = {};
  if (local) {
    localtime_r(&secs, &tm);
  } else {
    gmtime_r(&secs, &tm);
  }
  CivilTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second reads as :59
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

CivilTime PosixEventLoop::LocalTime() { return Civil(true); }
CivilTime PosixEventLoop::UtcTime() { return Civil(false); }

void PosixEventLoop::SleepBlocking(int64_t ms) {
  if (ms <= 0) return;
  struct timespec req;
  req.tv_sec = static_cast<time_t>(ms / 1000);
  req.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  struct timespec rem;
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

void PosixEventLoop::SetTerminateHandler(std::function<void()> onTerminate) {
  onTerminate_ = std::move(onTerminate);
}

PosixEventLoop::WatchId PosixEventLoop::Watch(int fd, short events,
                                              std::function<void(short)> onReady) {
  const WatchId id = nextWatch_++;
  watches_[id] = WatchEntry{fd, events, std::move(onReady)};
  return id;
}

void PosixEventLoop::SetWatchEvents(WatchId id, short events) {
  auto it = watches_.find(id);
  if (it != watches_.end()) it->second.events = events;
}

void PosixEventLoop::Unwatch(WatchId id) { watches_.erase(id); }

bool PosixEventLoop::HandleWakePipe() {
  char buf[64];
  while (read(wakeRead_, buf, sizeof buf) > 0) {
  }
  return true;
}

void PosixEventLoop::Wait(int64_t deadlineMs) {
  EventLoopCore::WaitScope scope(core_);
  while (Pass(deadlineMs) == 0 && NowMs() < deadlineMs) {
  }
}

int PosixEventLoop::Pass(int64_t deadlineMs) {
  const bool termPending = signalsInstalled_ && g_pendingSignal != 0 && !terminating_;
  const bool ready = termPending || core_.CallsReady();
  const int64_t nextDue = core_.NextDue();
  const int64_t until = nextDue < deadlineMs ? nextDue : deadlineMs;
  const int timeout = ready ? 0 : static_cast<int>(ClampTimeout(until - NowMs()));

  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.push_back(pollfd{wakeRead_, POLLIN, 0});
  ids.push_back(0);
  for (const auto& [id, w] : watches_) {
    if (w.events == 0 || w.fd < 0) continue;
    fds.push_back(pollfd{w.fd, w.events, 0});
    ids.push_back(id);
  }
  ++pollCalls_;
  const int n = poll(fds.data(), fds.size(), timeout);
  if (n < 0 && errno != EINTR) {
    // poll() itself failed (out of memory): sleep instead of spinning.
    SleepBlocking(timeout);
  }

  int delivered = 0;
  if (n > 0 && (fds[0].revents & POLLIN)) HandleWakePipe();

  if (signalsInstalled_ && g_pendingSignal != 0 && !terminating_) {
    const int sig = g_pendingSignal;
    g_pendingSignal = 0;
    ++delivered;
    if (!onTerminate_) {
      signal(sig, SIG_DFL);
      raise(sig);
    } else {
      terminating_ = true;
      std::function<void()> fn = onTerminate_;
      fn();
      terminating_ = false;
    }
  }

  if (n > 0) {
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      // The watch may have gone or changed in an earlier handler of this pass.
      auto it = watches_.find(ids[i]);
      if (it == watches_.end() || it->second.fd != fds[i].fd) continue;
      std::function<void(short)> fn = it->second.onReady;
      ++delivered;
      if (fn) fn(fds[i].revents);
    }
  }

  delivered += core_.Deliver();
  return delivered;
}

}  // namespace kolibra
