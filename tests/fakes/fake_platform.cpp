#include "fakes/fake_platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include <unistd.h>

namespace kolibra::fakes {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Civil time arithmetic (days from civil, H. Hinnant's algorithm).

namespace {
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
}  // namespace

int64_t CivilToEpochMs(const CivilTime& t) {
  const int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + int64_t{t.second} * 1000 + t.millisecond;
}

CivilTime EpochMsToCivil(int64_t ms) {
  int64_t days = FloorDiv(ms, 86'400'000);
  int64_t rem = ms - days * 86'400'000;
  CivilTime t;
  t.hour = static_cast<int>(rem / 3'600'000);
  rem %= 3'600'000;
  t.minute = static_cast<int>(rem / 60'000);
  rem %= 60'000;
  t.second = static_cast<int>(rem / 1000);
  t.millisecond = static_cast<int>(rem % 1000);
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
  return t;
}

// ---------------------------------------------------------------------------
// FakeEventLoop

FakeEventLoop::FakeEventLoop() {
  CivilTime base;
  base.year = 2024;
  base.month = 3;
  base.day = 15;
  base.hour = 10;
  SetLocalTime(base, 60);
}

void FakeEventLoop::SetLocalTime(const CivilTime& local, int utcOffsetMinutes) {
  baseLocalEpochMs_ = CivilToEpochMs(local);
  baseNow_ = now_;
  utcOffsetMinutes_ = utcOffsetMinutes;
}

CivilTime FakeEventLoop::LocalTime() {
  return EpochMsToCivil(baseLocalEpochMs_ + (now_ - baseNow_));
}

CivilTime FakeEventLoop::UtcTime() {
  return EpochMsToCivil(baseLocalEpochMs_ + (now_ - baseNow_) - int64_t{utcOffsetMinutes_} * 60'000);
}

int64_t FakeEventLoop::NextEventTime() const {
  int64_t next = std::numeric_limits<int64_t>::max();
  if (!scheduled_.empty()) next = scheduled_.begin()->first.first;
  for (const Timer& t : timers_) {
    if (t.enabled && t.interval > 0 && t.nextDue < next) next = t.nextDue;
  }
  return next;
}

bool FakeEventLoop::DeliverOneDue() {
  if (!scheduled_.empty() && scheduled_.begin()->first.first <= now_) {
    auto fn = std::move(scheduled_.begin()->second);
    scheduled_.erase(scheduled_.begin());
    if (fn) fn();
    return true;
  }
  for (std::size_t i = 0; i < timers_.size(); ++i) {
    Timer& t = timers_[i];
    if (t.enabled && t.interval > 0 && t.nextDue <= now_) {
      t.nextDue = now_ + t.interval;  // a late timer ticks once, then runs on
      ++t.ticks;
      auto fn = t.onTick;  // the handler may re-set or re-create timers
      if (fn) fn();
      return true;
    }
  }
  return false;
}

void FakeEventLoop::Wait(int64_t deadlineMs) {
  if (++waitCalls_ > waitLimit_) {
    std::fprintf(stderr, "FakeEventLoop: more than %lld Wait() calls - runaway loop\n",
                 static_cast<long long>(waitLimit_));
    std::abort();
  }
  ++depth_;
  if (depth_ > maxDepth_) maxDepth_ = depth_;
  if (posted_.empty()) {
    const int64_t next = NextEventTime();
    int64_t target = deadlineMs < next ? deadlineMs : next;
    if (target == std::numeric_limits<int64_t>::max()) {
      std::fprintf(stderr, "FakeEventLoop: Wait() forever with nothing scheduled\n");
      std::abort();
    }
    if (target > now_) now_ = target;
    while (DeliverOneDue()) {
    }
  }
  // Posted calls queued before this point run now; calls they post wait for
  // the next Wait().
  std::size_t n = posted_.size();
  while (n-- > 0 && !posted_.empty()) {
    auto fn = std::move(posted_.front());
    posted_.pop_front();
    if (fn) fn();
  }
  --depth_;
}

void FakeEventLoop::SleepBlocking(int64_t ms) {
  ++sleepCalls_;
  if (ms > 0) {
    now_ += ms;
    sleptMs_ += ms;
  }
}

EventLoop::TimerId FakeEventLoop::CreateTimer(std::function<void()> onTick) {
  Timer t;
  t.onTick = std::move(onTick);
  timers_.push_back(std::move(t));
  return static_cast<TimerId>(timers_.size() - 1);
}

void FakeEventLoop::SetTimer(TimerId id, int64_t intervalMs, bool enabled) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
  Timer& t = timers_[id];
  t.interval = intervalMs;
  t.enabled = enabled;
  t.nextDue = now_ + intervalMs;
}

bool FakeEventLoop::TimerEnabled(TimerId id) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return false;
  return timers_[id].enabled;
}

int64_t FakeEventLoop::TimerInterval(TimerId id) {
  if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return 0;
  return timers_[id].interval;
}

int64_t FakeEventLoop::timerTicks(TimerId id) const {
  if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return 0;
  return timers_[id].ticks;
}

void FakeEventLoop::Post(std::function<void()> fn) { posted_.push_back(std::move(fn)); }

void FakeEventLoop::SetTerminateHandler(std::function<void()> onTerminate) {
  onTerminate_ = std::move(onTerminate);
}

void FakeEventLoop::Schedule(int64_t atMs, std::function<void()> fn) {
  scheduled_.emplace(std::make_pair(atMs, seq_++), std::move(fn));
}

void FakeEventLoop::ScheduleTerminate(int64_t atMs) {
  Schedule(atMs, [this] {
    if (onTerminate_) onTerminate_();
  });
}

// ---------------------------------------------------------------------------
// FakeSerialPort

bool FakeSerialPort::Configure(int n, const std::string& s) {
  ++configureCalls;
  if (failConfigure || open_ || n < 1 || n > 16) return false;
  portNumber = n;
  settings = s;
  return true;
}

bool FakeSerialPort::Open() {
  ++openCalls;
  if (open_ || failOpen || missingPorts.count(portNumber) != 0) return false;
  open_ = true;
  input_.clear();
  pending_.clear();
  return true;
}

void FakeSerialPort::Close() {
  ++closeCalls;
  open_ = false;
  input_.clear();
  pending_.clear();
}

bool FakeSerialPort::Write(const std::string& bytes) {
  if (!open_ || failWrite) return false;
  writes.push_back(bytes);
  writeTimes.push_back(loop_.NowMs());
  if (responder) responder(bytes);
  return true;
}

void FakeSerialPort::QueueInput(int64_t delayMs, const std::string& bytes) {
  const int64_t at = loop_.NowMs() + (delayMs > 0 ? delayMs : 0);
  pending_.emplace(std::make_pair(at, seq_++), bytes);
  loop_.Schedule(at, [] {});  // wakes the loop as input readiness would
}

void FakeSerialPort::Arrive() {
  const int64_t now = loop_.NowMs();
  while (!pending_.empty() && pending_.begin()->first.first <= now) {
    input_ += pending_.begin()->second;
    pending_.erase(pending_.begin());
  }
}

std::string FakeSerialPort::ReadAll() {
  if (!open_) return {};
  Arrive();
  std::string out;
  out.swap(input_);
  return out;
}

int FakeSerialPort::InputCount() {
  if (!open_) return 0;
  Arrive();
  return static_cast<int>(input_.size());
}

std::string FakeSerialPort::AllWritten() const {
  std::string all;
  for (const auto& w : writes) all += w;
  return all;
}

// ---------------------------------------------------------------------------
// FakeTcpSocket

void FakeTcpSocket::Connect() {
  connectTimes.push_back(loop_.NowMs());
  const uint64_t gen = ++generation_;
  rx_.clear();
  state_ = kSocketConnecting;
  switch (connectOutcome) {
    case ConnectOutcome::kConnect:
      loop_.After(connectDelayMs, [this, gen] {
        if (gen != generation_) return;
        state_ = kSocketConnected;
        if (events_.onConnected) events_.onConnected();
      });
      break;
    case ConnectOutcome::kRefuse:
      loop_.After(connectDelayMs, [this, gen] {
        if (gen != generation_) return;
        state_ = kSocketError;
        if (events_.onError) events_.onError(kSocketErrRefused, "Connection is forcefully rejected", state_);
      });
      break;
    case ConnectOutcome::kNever:
      break;
  }
}

void FakeTcpSocket::Close() {
  ++closeCalls;
  const uint64_t gen = ++generation_;
  rx_.clear();
  if (state_ == kSocketClosed) return;
  if (closeDelayMs == 0) {
    state_ = kSocketClosed;
  } else {
    state_ = kSocketClosing;
    if (closeDelayMs > 0) {
      loop_.After(closeDelayMs, [this, gen] {
        if (gen == generation_) state_ = kSocketClosed;
      });
    }
  }
}

bool FakeTcpSocket::Send(const std::string& bytes) {
  if (state_ != kSocketConnected) return false;
  sends.push_back(bytes);
  sendTimes.push_back(loop_.NowMs());
  if (responder) responder(bytes);
  return true;
}

std::string FakeTcpSocket::GetData() {
  std::string out;
  out.swap(rx_);
  return out;
}

void FakeTcpSocket::Deliver(int64_t delayMs, const std::string& bytes) {
  const uint64_t gen = generation_;
  loop_.After(delayMs, [this, gen, bytes] {
    if (gen != generation_ || state_ != kSocketConnected) return;
    rx_ += bytes;
    if (events_.onDataArrival) events_.onDataArrival(rx_.size());
  });
}

void FakeTcpSocket::InjectError(int64_t delayMs, int number, const std::string& description,
                                int newState) {
  loop_.After(delayMs, [this, number, description, newState] {
    state_ = newState;
    if (events_.onError) events_.onError(number, description, state_);
  });
}

std::string FakeTcpSocket::AllSent() const {
  std::string all;
  for (const auto& s : sends) all += s;
  return all;
}

// ---------------------------------------------------------------------------
// FakeNotifier

void FakeNotifier::AddTrayIcon(TrayIcon icon, const std::string& tip) {
  trayPresent = true;
  ++trayAdded;
  trayStates.emplace_back(icon, tip);
}

void FakeNotifier::SetTrayState(TrayIcon icon, const std::string& tip) {
  trayStates.emplace_back(icon, tip);
}

// ---------------------------------------------------------------------------
// FakeFileSystem

bool FakeFileSystem::Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool FakeFileSystem::IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool FakeFileSystem::Remove(const std::string& path) {
  ++removeCalls[path];
  auto it = removeFailures.find(path);
  if (it != removeFailures.end() && it->second != 0) {
    std::error_code ec;
    if (fs::exists(path, ec)) {
      if (it->second > 0) --it->second;
      return false;
    }
  }
  std::error_code ec;
  fs::remove(path, ec);
  return !ec;
}

bool FakeFileSystem::MakeDirectory(const std::string& path) {
  std::error_code ec;
  fs::create_directory(path, ec);
  return !ec && fs::is_directory(path, ec);
}

// ---------------------------------------------------------------------------
// FakeSystem

std::string FakeSystem::ReadUserValue(const std::string& keyPath, const std::string& name) {
  auto it = userValues.find({keyPath, name});
  return it == userValues.end() ? std::string() : it->second;
}

bool FakeSystem::AcquireSingleInstance(const std::string& lockFolder) {
  lockFolders.push_back(lockFolder);
  return !anotherInstanceRunning;
}

// ---------------------------------------------------------------------------

FakePlatform::FakePlatform()
    : serial(loop), socket(loop), platform{loop, serial, socket, notifier, fs, system} {}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  for (;;) {
    std::ostringstream name;
    name << "kolibra-test-" << ::getpid() << "-" << counter++;
    fs::path p = base / name.str();
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      break;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ScratchDir::File(const std::string& name) const { return JoinPath(path_, name); }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kolibra::fakes
