#include "fakes/fake_platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <unistd.h>

#include "platform/make_platform.h"

namespace kolibra::fakes {

namespace fs = std::filesystem;

namespace {
using namespace std::chrono;

int64_t CivilToEpochMs(const CivilTime& t) {
  const sys_days d = year{t.year} / t.month / t.day;
  return int64_t{d.time_since_epoch().count()} * 86'400'000 +
         ((int64_t{t.hour} * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

CivilTime EpochMsToCivil(int64_t ms) {
  const sys_time<milliseconds> tp{milliseconds{ms}};
  const sys_days d = floor<days>(tp);
  const year_month_day ymd{d};
  const hh_mm_ss hms{tp - d};
  return CivilTime{int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())),
                   int(hms.hours().count()), int(hms.minutes().count()), int(hms.seconds().count()),
                   int(hms.subseconds().count())};
}
}  // namespace

FakeEventLoop::FakeEventLoop() { SetLocalTime(CivilTime{2024, 3, 15, 10, 0, 0, 0}, 60); }

void FakeEventLoop::SetLocalTime(const CivilTime& local, int utcOffsetMinutes) {
  localAtZero_ = CivilToEpochMs(local) - now_;
  utcOffsetMinutes_ = utcOffsetMinutes;
}

CivilTime FakeEventLoop::LocalTime() { return EpochMsToCivil(localAtZero_ + now_); }

CivilTime FakeEventLoop::UtcTime() {
  return EpochMsToCivil(localAtZero_ + now_ - int64_t{utcOffsetMinutes_} * 60'000);
}

void FakeEventLoop::Wait(int64_t deadlineMs) {
  if (++waitCalls_ > 5'000'000) {
    std::fprintf(stderr, "FakeEventLoop: more than 5000000 Wait() calls - runaway loop\n");
    std::abort();
  }
  EventLoopCore::WaitScope scope(core_);
  maxDepth_ = std::max(maxDepth_, core_.Depth());
  if (core_.CallsReady()) {
    core_.RunDeferred();
  } else {
    int64_t target = std::min(deadlineMs, core_.NextDue());
    if (!scheduled_.empty()) target = std::min(target, scheduled_.begin()->first.first);
    if (target == EventLoopCore::kNever) {
      std::fprintf(stderr, "FakeEventLoop: Wait() forever with nothing scheduled\n");
      std::abort();
    }
    now_ = std::max(now_, target);
    for (;;) {
      if (!scheduled_.empty() && scheduled_.begin()->first.first <= now_) {
        auto fn = std::move(scheduled_.begin()->second);
        scheduled_.erase(scheduled_.begin());
        if (fn) fn();
      } else {
        const int deferred = core_.RunDeferred();
        if (deferred + core_.RunDueTimers() == 0) break;
      }
    }
  }
  // Posted calls this Wait() may run and that were queued before this point
  // run now; calls they post wait for the next Wait().
  core_.RunPosted();
}

void FakeEventLoop::ScheduleTerminate(int64_t atMs) {
  Schedule(atMs, [this] {
    if (onTerminate_) onTerminate_();
  });
}

bool FakeSerialPort::Configure(int n, const std::string& s) {
  if (failConfigure || open_ || n < 1 || n > 16) return false;
  portNumber = n;
  settings = s;
  return true;
}

bool FakeSerialPort::Open() {
  ++openCalls;
  if (open_) return false;
  Close();
  return open_ = true;
}

void FakeSerialPort::Close() {
  open_ = false;
  input_.clear();
  pending_.clear();
}

bool FakeSerialPort::Write(const std::string& bytes) {
  if (!open_) return false;
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

void FakeTcpSocket::Connect() {
  connectTimes.push_back(loop_.NowMs());
  const uint64_t gen = ++generation_;
  rx_.clear();
  state_ = kSocketConnecting;
  if (connectOutcome == ConnectOutcome::kNever) return;
  loop_.After(connectDelayMs, [this, gen, refused = connectOutcome == ConnectOutcome::kRefuse] {
    if (gen != generation_) return;
    state_ = refused ? kSocketError : kSocketConnected;
    if (!refused && events_.onConnected) events_.onConnected();
    if (refused && events_.onError) events_.onError(kSocketErrRefused, "Connection is forcefully rejected", state_);
  });
}

void FakeTcpSocket::Close() {
  ++generation_;
  rx_.clear();
  state_ = kSocketClosed;
}

bool FakeTcpSocket::Send(const std::string& bytes) {
  if (state_ != kSocketConnected) return false;
  sends.push_back(bytes);
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

bool FakeFileSystem::Remove(const std::string& path) {
  if (beforeRemove) beforeRemove(path);
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
  if (fs::remove(path, ec)) ++generations_[path];
  return !ec;
}

FileInfo FakeFileSystem::Inspect(const std::string& path) {
  ++inspections[path];
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  FileInfo info;
  if (ec || !fs::exists(st)) return info;
  switch (st.type()) {
    case fs::file_type::regular: info.kind = FileKind::kRegular; break;
    case fs::file_type::directory: info.kind = FileKind::kDirectory; break;
    case fs::file_type::symlink: info.kind = FileKind::kLink; break;
    default: info.kind = FileKind::kOther; break;
  }
  // The real file's identity tells a file rewritten by a test's own stream
  // from the one before it, where write times are whole seconds too.
  static const std::unique_ptr<FileSystem> real = MakeFileSystem();
  const auto gen = generations_.find(path);
  const FileInfo actual = real->Inspect(path);
  info.object = actual.object;
  info.identity = actual.identity + ":" + std::to_string(gen == generations_.end() ? 0 : gen->second);
  return info;
}

ReadResult FakeFileSystem::ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  ReadResult result;
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  if (ec || !fs::exists(st)) return result;
  if (st.type() != fs::file_type::regular) {
    result.status = ReadStatus::kNotRegular;
    return result;
  }
  result.bytes = ReadFileBytes(path);
  result.status = result.bytes.size() > maxBytes ? ReadStatus::kTooLarge : ReadStatus::kOk;
  if (result.status != ReadStatus::kOk) result.bytes.clear();
  return result;
}

std::FILE* FakeFileSystem::CreateFresh(const std::string& path, FileAccess access) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec) return nullptr;
  ++generations_[path];
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr && access == FileAccess::kOwnerOnly) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, ec);
  }
  return f;
}

bool FakeFileSystem::ReplaceWith(const std::string& from, const std::string& to) {
  auto failing = replaceFailures.find(to);
  if (failing != replaceFailures.end() && failing->second != 0) {
    if (failing->second > 0) --failing->second;
    return false;
  }
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) return false;
  ++generations_[to];
  return true;
}

bool FakeFileSystem::AppendToPlainFile(const std::string& path, std::string_view bytes) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  const bool plain = st.type() == fs::file_type::regular && fs::hard_link_count(path, ec) == 1;
  if (fs::exists(st) && !plain) {
    std::FILE* f = CreateFresh(path, FileAccess::kShared);
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
  }
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool FakeFileSystem::MakeDirectory(const std::string& path) {
  std::error_code ec;
  fs::create_directory(path, ec);
  return !ec && fs::is_directory(path, ec);
}

std::string FakeSystem::ReadUserValue(const std::string& keyPath, const std::string& name) {
  auto it = userValues.find({keyPath, name});
  return it == userValues.end() ? std::string() : it->second;
}

bool FakeSystem::Acquire(bool taken) {
  lastRefusal_ = taken ? refusal : LockRefusal::kNone;
  return !taken;
}

bool FakeFolderWatch::Start(const std::string& folder, Handler onChange) {
  started.push_back(folder);
  handler_ = refuse ? nullptr : std::move(onChange);
  return !refuse;
}

void FakeFolderWatch::Deliver(const FolderChange& change) {
  if (!handler_) return;
  Handler fn = handler_;  // the handler may stop or restart the watch
  if (change.ended) handler_ = nullptr;
  fn(change);
}


FakePlatform::FakePlatform()
    : serial(loop),
      socket(loop),
      platform{loop, serial, socket, notifier, fs, system, folderWatch, &tray} {}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  const std::string prefix = ((ec ? fs::path("/tmp") : base) / "kolibra-test-").string() + std::to_string(::getpid());
  do path_ = prefix + "-" + std::to_string(counter++);
  while (!fs::create_directory(path_, ec));
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
