// Fakes of the platform seam for the logic tests: a virtual clock that only
// moves inside Wait()/SleepBlocking(), a scripted serial port and socket, and
// recorders for what the operator would see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop_core.h"
#include "platform/platform.h"

namespace kolibra::fakes {

// Virtual clock. Wait(deadline) runs ready deferred and posted calls without
// moving time; else it jumps to the earliest of the deadline, the next timer
// and the next scheduled event and delivers all due then (scheduled events,
// deferred calls and timers, posted calls, with the real loop's nesting rule).
// SleepBlocking moves time and delivers nothing. A runaway loop aborts.
class FakeEventLoop : public EventLoop {
 public:
  FakeEventLoop();
  FakeEventLoop(const FakeEventLoop&) = delete;
  FakeEventLoop& operator=(const FakeEventLoop&) = delete;

  int64_t NowMs() override { return now_; }
  CivilTime LocalTime() override;
  CivilTime UtcTime() override;
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
  // The session's end as Windows announces it: the reason to wait, and the
  // end itself (false when no handler is set).
  std::string SessionBusyReason() const { return busyReason_ ? busyReason_() : std::string(); }
  bool EndSession() {
    if (!endSession_) return false;
    std::function<void()> fn = endSession_;
    fn();
    return true;
  }

  // --- scripting ---
  // Runs fn inside the Wait() that reaches virtual time atMs (events at the
  // same instant run in the order they were scheduled).
  void Schedule(int64_t atMs, std::function<void()> fn) { scheduled_.emplace(std::make_pair(atMs, seq_++), std::move(fn)); }
  void After(int64_t delayMs, std::function<void()> fn) { Schedule(now_ + delayMs, std::move(fn)); }
  // Delivers the terminate handler inside the Wait() that reaches atMs.
  void ScheduleTerminate(int64_t atMs);
  // The local civil time at the current virtual instant; the clock runs on
  // from it. UTC = local - utcOffsetMinutes.
  void SetLocalTime(const CivilTime& local, int utcOffsetMinutes = 0);

  // --- observation ---
  int64_t waitCalls() const { return waitCalls_; }
  std::size_t postedPending() const { return core_.PostedPending(); }
  // Maximum nesting depth of Wait() calls seen (a handler waiting inside Wait).
  int maxWaitDepth() const { return maxDepth_; }

 private:
  int64_t now_ = 0;
  int64_t waitCalls_ = 0;
  int maxDepth_ = 0;
  EventLoopCore core_{[this] { return now_; }};
  // (time, sequence) -> event
  std::map<std::pair<int64_t, uint64_t>, std::function<void()>> scheduled_;
  uint64_t seq_ = 0;
  std::function<void()> onTerminate_;
  std::function<std::string()> busyReason_;
  std::function<void()> endSession_;
  int64_t localAtZero_ = 0;  // local civil time (epoch ms) at virtual instant 0
  int utcOffsetMinutes_ = 0;
};

// Serial port: records configuration and writes; queued input becomes
// readable (and wakes the loop) when the virtual clock reaches its time.
class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(FakeEventLoop& loop) : loop_(loop) {}

  bool Configure(int portNumber, const std::string& settings) override;
  bool Open() override;
  void Close() override;
  bool IsOpen() override { return open_; }
  bool Write(const std::string& bytes) override;
  std::string ReadAll() override;
  int InputCount() override;

  // --- scripting ---
  // Called on each successful Write with the bytes written.
  std::function<void(const std::string&)> responder;
  // Bytes that arrive delayMs after now.
  void QueueInput(int64_t delayMs, const std::string& bytes);
  bool failConfigure = false;

  // --- observation ---
  std::vector<std::string> writes;
  std::vector<int64_t> writeTimes;
  int openCalls = 0;
  int portNumber = 0;
  std::string settings;

 private:
  void Arrive();
  FakeEventLoop& loop_;
  bool open_ = false;
  std::string input_;
  std::map<std::pair<int64_t, uint64_t>, std::string> pending_;
  uint64_t seq_ = 0;
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
  void Connect() override;
  void Close() override;
  bool Send(const std::string& bytes) override;
  std::string GetData() override;

  // --- scripting ---
  ConnectOutcome connectOutcome = ConnectOutcome::kConnect;
  int64_t connectDelayMs = 10;
  // Called on each successful Send with the bytes sent.
  std::function<void(const std::string&)> responder;
  // Data that arrives delayMs after now (dropped if the connection was closed
  // or re-opened meanwhile).
  void Deliver(int64_t delayMs, const std::string& bytes);
  // An error event delayMs after now; the state becomes newState first.
  void InjectError(int64_t delayMs, int number, const std::string& description,
                   int newState = kSocketError);
  // Puts the socket straight into a state (no event).
  void ForceState(int state) { state_ = state; }

  // --- observation ---
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

  std::vector<std::string> messages;
  std::vector<std::string> logs;
};

class FakeTray : public Tray {
 public:
  bool AddTrayIcon(TrayIcon, const std::string&) override { return present = true; }
  void SetTrayIcon(TrayIcon, const std::string&) override {}
  void RemoveTrayIcon() override { present = false; }

  bool present = false;
};

// Real files on disk, with Remove() failures injectable per path.
class FakeFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return std::filesystem::exists(path, ec_); }
  bool IsDirectory(const std::string& path) override { return std::filesystem::is_directory(path, ec_); }
  bool Remove(const std::string& path) override;
  bool MakeDirectory(const std::string& path) override;
  // The real file's kind; the identity is the real file system's and how
  // often this fake removed or recreated it.
  FileInfo Inspect(const std::string& path) override;
  // The real files, through std::filesystem and stdio.
  ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes) override;
  using FileSystem::CreateFresh;
  std::FILE* CreateFresh(const std::string& path, FileAccess access) override;
  bool FlushToDisk(std::FILE* file) override { return std::fflush(file) == 0; }
  bool ReplaceWith(const std::string& from, const std::string& to) override;
  bool AppendToPlainFile(const std::string& path, std::string_view bytes) override;

  // How often Inspect() looked at each path.
  std::map<std::string, int> inspections;

  // The next `count` Remove() calls on path fail (-1: every call fails).
  void FailRemove(const std::string& path, int count) { removeFailures[path] = count; }
  std::map<std::string, int> removeFailures;
  // The same for ReplaceWith() calls onto path (a reader holding it on Windows).
  void FailReplace(const std::string& path, int count) { replaceFailures[path] = count; }
  std::map<std::string, int> replaceFailures;
  std::map<std::string, int> removeCalls;
  // Called before each Remove() with its path.
  std::function<void(const std::string&)> beforeRemove;

 private:
  std::map<std::string, int> generations_;
  std::error_code ec_;
};

class FakeSystem : public System {
 public:
  bool IsNtMajor6() override { return ntMajor6; }
  std::string CommonAppDataFolder() override { return commonAppData; }
  std::string ProgramFolder() override { return programFolder; }
  std::string ReadUserValue(const std::string& keyPath, const std::string& name) override;
  bool AcquireSingleInstance(const std::string&) override { return Acquire(anotherInstanceRunning); }
  bool AcquireDataFolderLock(const std::string&) override { return Acquire(dataFolderTaken); }
  LockRefusal LastLockRefusal() override { return lastRefusal_; }
  DataLockState CheckDataFolderLock() override { return dataLockState; }

  bool ntMajor6 = false;
  std::string commonAppData;
  std::string programFolder;
  // (keyPath, name) -> value
  std::map<std::pair<std::string, std::string>, std::string> userValues;
  bool anotherInstanceRunning = false;
  bool dataFolderTaken = false;  // another copy serves the data folder
  LockRefusal refusal = LockRefusal::kAnotherCopy;  // why a lock above is refused
  DataLockState dataLockState = DataLockState::kHeld;  // what each check finds

 private:
  bool Acquire(bool taken);
  LockRefusal lastRefusal_ = LockRefusal::kNone;
};

// Folder watch that the test raises: Raise() delivers a change at once to
// an active watch (call it from a scheduled event to have it inside Wait()).
class FakeFolderWatch : public FolderWatch {
 public:
  bool Start(const std::string& folder, Handler onChange) override;
  void Stop() override { handler_ = nullptr; }
  bool Active() const override { return static_cast<bool>(handler_); }

  // A change of these entries (names known), or one without names.
  void Raise(std::vector<std::string> names) { Deliver(FolderChange{.namesKnown = true, .names = std::move(names)}); }
  void RaiseNameless() { Deliver(FolderChange{}); }
  // The watch ends, as when its folder is removed.
  void End() { Deliver(FolderChange{.namesKnown = false, .names = {}, .ended = true}); }

  bool refuse = false;               // Start() fails
  std::vector<std::string> started;  // folders Start() was called with

 private:
  void Deliver(const FolderChange& change);
  Handler handler_;
};

struct FakePlatform {
  FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

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

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole file contents as bytes ("" when missing); writes bytes as they stand.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace kolibra::fakes
