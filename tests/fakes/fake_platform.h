// Fakes of the platform seam: a virtual clock that only moves inside Wait()/SleepBlocking(),
// a scripted serial port and socket, and recorders for what the operator would see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop_core.h"
#include "platform/platform.h"

namespace kolibra::fakes {

// Wait() runs ready calls without moving time, else jumps to the earliest of the deadline, the next
// timer and the next scheduled event and delivers all then due, nesting as the real loop does.
class FakeEventLoop : public EventLoop {
 public:
  FakeEventLoop() { SetLocalTime(CivilTime{2024, 3, 15, 10, 0, 0, 0}, 60); }

  int64_t NowMs() override { return now_; }
  CivilTime LocalTime() override { return Civil(localAtZero_ + now_); }
  CivilTime UtcTime() override { return Civil(localAtZero_ + now_ - utcOffsetMs_); }
  void Wait(int64_t deadlineMs) override;
  void SleepBlocking(int64_t ms) override { now_ += ms > 0 ? ms : 0; }
  TimerId CreateTimer(std::function<void()> onTick) override { return core_.CreateTimer(std::move(onTick)); }
  void SetTimer(TimerId id, int64_t intervalMs, bool enabled) override { core_.SetTimer(id, intervalMs, enabled); }
  bool TimerEnabled(TimerId id) override { return core_.TimerEnabled(id); }
  int64_t TimerInterval(TimerId id) override { return core_.TimerInterval(id); }
  void Post(std::function<void()> fn) override { core_.Post(std::move(fn)); }
  void SetTerminateHandler(std::function<void()> onTerminate) override { onTerminate_ = std::move(onTerminate); }
  void SetSessionEndHandlers(std::function<std::string()> busyReason, std::function<void()> endSession) override {
    busyReason_ = std::move(busyReason);
    endSession_ = std::move(endSession);
  }
  // The session's end as Windows announces it; EndSession() is false when no handler is set.
  std::string SessionBusyReason() const { return busyReason_ ? busyReason_() : std::string(); }
  bool EndSession() {
    const std::function<void()> fn = endSession_;
    if (fn) fn();
    return static_cast<bool>(fn);
  }

  // Runs fn inside the Wait() that reaches atMs (same-instant events in scheduling order).
  void Schedule(int64_t atMs, std::function<void()> fn) { scheduled_.emplace(atMs, std::move(fn)); }
  void After(int64_t delayMs, std::function<void()> fn) { Schedule(now_ + delayMs, std::move(fn)); }
  void ScheduleTerminate(int64_t atMs) {
    Schedule(atMs, [this] {
      if (onTerminate_) onTerminate_();
    });
  }
  // The local time now, from which the clock runs on; UTC = local - utcOffsetMinutes.
  void SetLocalTime(const CivilTime& local, int utcOffsetMinutes = 0);

  int64_t waitCalls() const { return waitCalls_; }
  std::size_t postedPending() const { return core_.PostedPending(); }
  int maxWaitDepth() const { return maxDepth_; }  // a handler waiting inside Wait() nests

 private:
  static CivilTime Civil(int64_t epochMs);
  int64_t now_ = 0, waitCalls_ = 0;
  int maxDepth_ = 0;
  EventLoopCore core_{[this] { return now_; }};
  std::multimap<int64_t, std::function<void()>> scheduled_;  // in scheduling order at each time
  std::function<void()> onTerminate_, endSession_;
  std::function<std::string()> busyReason_;
  int64_t localAtZero_ = 0;  // local civil time (epoch ms) at virtual instant 0
  int64_t utcOffsetMs_ = 0;
};

// Records configuration and writes; queued input becomes readable (and wakes the loop) on time.
class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(FakeEventLoop& loop) : loop_(loop) {}

  Status Configure(int n, const std::string& s) override {
    if (failConfigure || open_ || n < 1 || n > 16) return Status::Failed("refused " + s);
    portNumber = n;
    return Status::Ok();
  }
  Status Open() override {
    ++openCalls;
    if (open_ || !openFailure.ok()) return open_ ? Status::Failed("open") : openFailure;
    Close();
    open_ = true;
    return Status::Ok();
  }
  void Close() override {
    open_ = false;
    input_.clear();
    pending_.clear();
  }
  bool IsOpen() override { return open_; }
  Status Write(const std::string& bytes) override {
    if (!open_) return Status::Failed("closed");
    writes.push_back(bytes);
    writeTimes.push_back(loop_.NowMs());
    if (responder) responder(bytes);
    return Status::Ok();
  }
  std::string ReadAll() override {
    Arrive();
    return open_ ? std::exchange(input_, {}) : std::string();
  }
  int InputCount() override {
    Arrive();
    return open_ ? static_cast<int>(input_.size()) : 0;
  }

  std::function<void(const std::string&)> responder;  // called on each successful Write
  void QueueInput(int64_t delayMs, const std::string& bytes) {
    const int64_t at = loop_.NowMs() + (delayMs > 0 ? delayMs : 0);
    pending_.emplace(at, bytes);
    loop_.Schedule(at, [] {});  // wakes the loop as input readiness would
  }
  bool failConfigure = false;
  Status openFailure;  // what Open() answers while it fails

  std::vector<std::string> writes;
  std::vector<int64_t> writeTimes;
  int openCalls = 0, portNumber = 0;

 private:
  void Arrive() {
    const auto due = pending_.upper_bound(loop_.NowMs());
    for (auto it = pending_.begin(); it != due; ++it) input_ += it->second;
    pending_.erase(pending_.begin(), due);
  }
  FakeEventLoop& loop_;
  bool open_ = false;
  std::string input_;
  std::multimap<int64_t, std::string> pending_;  // arrival time -> bytes
};

// TCP socket with a scripted connect outcome and a responder on Send.
class FakeTcpSocket : public TcpSocket {
 public:
  enum class ConnectOutcome { kConnect, kRefuse, kNever };

  explicit FakeTcpSocket(FakeEventLoop& loop) : loop_(loop) {}

  void SetEvents(SocketEvents events) override { events_ = std::move(events); }
  int State() override { return state_; }
  void SetRemoteHost(const std::string& host) override { host_ = host; }
  std::string RemoteHost() override { return host_; }
  void SetRemotePort(int port) override { port_ = port; }
  void Connect() override {
    connectTimes.push_back(loop_.NowMs());
    const uint64_t gen = ++generation_;
    rx_.clear();
    state_ = kSocketConnecting;
    if (connectOutcome == ConnectOutcome::kNever) return;
    loop_.After(connectDelayMs, [this, gen, refused = connectOutcome == ConnectOutcome::kRefuse] {
      if (gen != generation_) return;
      state_ = refused ? kSocketError : kSocketConnected;
      if (!refused && events_.onConnected) events_.onConnected();
      if (refused && events_.onError) {
        events_.onError(kSocketErrRefused, Status::Failed("Connection is forcefully rejected"), state_);
      }
    });
  }
  void Close() override {
    ++generation_;
    rx_.clear();
    state_ = kSocketClosed;
  }
  Status Send(const std::string& bytes) override {
    if (state_ != kSocketConnected || refuseSends) return Status::Failed("refused");
    sends.push_back(bytes);
    if (responder) responder(bytes);
    return Status::Ok();
  }
  std::string GetData() override { return std::exchange(rx_, {}); }

  ConnectOutcome connectOutcome = ConnectOutcome::kConnect;
  int64_t connectDelayMs = 10;
  bool refuseSends = false;  // every Send fails, connected or not
  std::function<void(const std::string&)> responder;  // called on each successful Send
  // Data that arrives delayMs after now (dropped if the connection was closed or re-opened meanwhile).
  void Deliver(int64_t delayMs, const std::string& bytes) {
    loop_.After(delayMs, [this, gen = generation_, bytes] {
      if (gen != generation_ || state_ != kSocketConnected) return;
      rx_ += bytes;
      if (events_.onDataArrival) events_.onDataArrival(rx_.size());
    });
  }
  // An error event delayMs after now; the state becomes newState first.
  void InjectError(int64_t delayMs, int number, const std::string& description, int newState = kSocketError) {
    loop_.After(delayMs, [this, number, description, newState] {
      state_ = newState;
      if (events_.onError) events_.onError(number, Status::Failed(description), state_);
    });
  }
  void ForceState(int state) { state_ = state; }  // no event

  std::vector<std::string> sends;
  std::vector<int64_t> connectTimes;
  int remotePort() const { return port_; }

 private:
  FakeEventLoop& loop_;
  SocketEvents events_;
  int state_ = kSocketClosed;
  std::string host_;
  int port_ = 0;
  std::string rx_;
  uint64_t generation_ = 0;  // bumped by Connect/Close to drop stale events
};

class FakeNotifier : public Notifier {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  void Log(const std::string& line) override { logs.push_back(line); }

  std::vector<std::string> messages, logs;
};

class FakeTray : public Tray {
 public:
  bool AddTrayIcon(TrayIcon, const std::string&) override { return present = true; }
  void SetTrayIcon(TrayIcon, const std::string&) override {}
  void RemoveTrayIcon() override { present = false; }

  bool present = false;
};

// The real file system, with call counts and Remove(), ReplaceWith() and FlushToDisk() failures injectable, each
// with the reason the system would give.
class FakeFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return ++existsCalls, Real().Exists(path); }
  bool IsDirectory(const std::string& path) override { return Real().IsDirectory(path); }
  Status Remove(const std::string& path) override;
  Status MakeDirectory(const std::string& path) override { return Real().MakeDirectory(path); }
  FileInfo Inspect(const std::string& path) override;
  ReadResult ReadRegularFile(const std::string& p, std::size_t max) override { return Real().ReadRegularFile(p, max); }
  using FileSystem::CreateFresh;
  StatusOr<std::FILE*> CreateFresh(const std::string& path, FileAccess access) override;
  // No disk sync: fast tests.
  Status FlushToDisk(std::FILE* file) override;
  Status ReplaceWith(const std::string& from, const std::string& to) override;
  Status AppendToPlainFile(const std::string& p, std::string_view b) override { return Real().AppendToPlainFile(p, b); }
  ClaimResult TryClaim(const std::string& path) override { return Real().TryClaim(path); }
  StatusOr<std::FILE*> CreateExclusive(const std::string& path, FileAccess access) override;
  StatusOr<std::vector<std::string>> ListFolder(const std::string& f) override { return Real().ListFolder(f); }
  StatusOr<std::vector<std::string>> FindNames(const std::string& folder, const std::string& prefix) override {
    ++findNamesCalls;
    return Real().FindNames(folder, prefix);
  }
  // The real hold (refused when refuseHold); the counts and failures above take a path through a held folder
  // as the path the folder was held by.
  StatusOr<std::unique_ptr<HeldFolder>> HoldFolder(const std::string& path) override;
  bool refuseHold = false;

  std::map<std::string, int> inspections;  // Inspect() calls per path
  int findNamesCalls = 0, existsCalls = 0;
  // The next `count` Remove() calls on an existing path, or ReplaceWith() calls onto it, fail with cause (-1: all).
  void FailRemove(const std::string& path, int count, std::string cause = "Permission denied") {
    removeFailures_[path] = {count, std::move(cause)};
  }
  void FailReplace(const std::string& path, int count, std::string cause = "Permission denied") {
    replaceFailures_[path] = {count, std::move(cause)};
  }
  // The next `count` FlushToDisk() calls fail (-1: all); by default as on a full disk.
  void FailFlush(int count, std::string cause = "No space left on device") { flushFailure_ = {count, std::move(cause)}; }
  std::map<std::string, int> removeCalls;
  std::function<void(const std::string&)> beforeRemove;  // called with each Remove()'s path

 private:
  struct Injected {
    int left = 0;
    std::string cause;
    bool Take();  // uses up one failure; -1 never runs out
  };
  std::map<std::string, Injected> removeFailures_, replaceFailures_;
  Injected flushFailure_;
  std::map<std::string, int> generations_;
  std::map<std::string, std::string> heldBy_;  // HeldFolder::Path() -> the path it was held by
  std::string Key(const std::string& path) const;
  static FileSystem& Real();
};

class FakeSystem : public System {
 public:
  bool IsNtMajor6() override { return ntMajor6; }
  std::string CommonAppDataFolder() override { return commonAppData; }
  std::string ProgramFolder() override { return programFolder; }
  std::string ReadUserValue(const std::string& keyPath, const std::string& name) override {
    const auto it = userValues.find({keyPath, name});
    return it == userValues.end() ? std::string() : it->second;
  }
  bool AcquireSingleInstance(const std::string&) override { return Acquire(anotherInstanceRunning); }
  bool AcquireDataFolderLock(const std::string&) override { return Acquire(dataFolderTaken); }
  LockRefusal LastLockRefusal() override { return lastRefusal_; }
  DataLockState CheckDataFolderLock() override {
    ++lockChecks;
    return dataLockState;
  }
  bool StartedAsService() override { return false; }

  bool ntMajor6 = false;
  std::string commonAppData, programFolder;
  std::map<std::pair<std::string, std::string>, std::string> userValues;  // (keyPath, name) -> value
  bool anotherInstanceRunning = false;
  bool dataFolderTaken = false;  // another copy serves the data folder
  LockRefusal refusal = LockRefusal::kAnotherCopy;  // why a lock above is refused
  DataLockState dataLockState = DataLockState::kHeld;  // what each check finds
  int lockChecks = 0;

 private:
  bool Acquire(bool taken) {
    lastRefusal_ = taken ? refusal : LockRefusal::kNone;
    return !taken;
  }
  LockRefusal lastRefusal_ = LockRefusal::kNone;
};

// Raise() delivers a change at once to an active watch (from a scheduled event: inside Wait()).
class FakeFolderWatch : public FolderWatch {
 public:
  bool Start(const std::string& folder, Handler onChange) override {
    started.push_back(folder);
    handler_ = refuse ? nullptr : std::move(onChange);
    return !refuse;
  }
  void Stop() override { handler_ = nullptr; }
  bool Active() const override { return static_cast<bool>(handler_); }

  void Raise(std::vector<std::string> names) { Deliver(FolderChange{.namesKnown = true, .names = std::move(names)}); }
  void RaiseNameless() { Deliver(FolderChange{}); }
  void End() { Deliver(FolderChange{.namesKnown = false, .names = {}, .ended = true}); }  // folder removed

  bool refuse = false;               // Start() fails
  std::vector<std::string> started;  // folders Start() was called with

 private:
  void Deliver(const FolderChange& change) {
    if (!handler_) return;
    Handler fn = handler_;  // the handler may stop or restart the watch
    if (change.ended) handler_ = nullptr;
    fn(change);
  }
  Handler handler_;
};

struct FakePlatform {
  FakePlatform()
      : serial(loop), socket(loop), platform{loop, serial, socket, notifier, fs, system, folderWatch, &tray} {}

  FakeEventLoop loop;
  FakeSerialPort serial;
  FakeTcpSocket socket;
  FakeNotifier notifier;
  FakeFileSystem fs;
  FakeSystem system;
  FakeFolderWatch folderWatch;
  FakeTray tray;
  Platform platform;
};

// A fresh folder under the system's temporary folder, removed with its contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return JoinPath(path_, name); }

 private:
  std::string path_;
};

// Whole file contents as bytes ("" when missing); writes bytes as they stand.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace kolibra::fakes
