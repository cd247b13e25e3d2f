#include "fakes/fake_platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include <unistd.h>

#include "platform/make_platform.h"

namespace kolibra::fakes {

namespace fs = std::filesystem;

using namespace std::chrono;

namespace {

int64_t CivilToEpochMs(const CivilTime& t) {
  const sys_days d = year{t.year} / t.month / t.day;
  return int64_t{d.time_since_epoch().count()} * 86'400'000 +
         ((int64_t{t.hour} * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

[[noreturn]] void Abort(const char* why) {
  std::fprintf(stderr, "FakeEventLoop: %s\n", why);
  std::abort();
}

// The failure std::filesystem reported, with its text.
Status Failure(const std::error_code& ec) { return ec ? Status::Failed(ec.message()) : Status::Ok(); }
}  // namespace

CivilTime FakeEventLoop::Civil(int64_t ms) {
  const sys_time<milliseconds> tp{milliseconds{ms}};
  const sys_days d = floor<days>(tp);
  const year_month_day ymd{d};
  const hh_mm_ss hms{tp - d};
  return CivilTime{int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())),
                   int(hms.hours().count()), int(hms.minutes().count()), int(hms.seconds().count()),
                   int(hms.subseconds().count())};
}

void FakeEventLoop::SetLocalTime(const CivilTime& local, int utcOffsetMinutes) {
  localAtZero_ = CivilToEpochMs(local) - now_;
  utcOffsetMs_ = int64_t{utcOffsetMinutes} * 60'000;
}

void FakeEventLoop::Wait(int64_t deadlineMs) {
  if (++waitCalls_ > 5'000'000) Abort("more than 5000000 Wait() calls - runaway loop");
  EventLoopCore::WaitScope scope(core_);
  maxDepth_ = std::max(maxDepth_, core_.Depth());
  if (core_.CallsReady()) {
    core_.RunDeferred();
  } else {
    int64_t target = std::min(deadlineMs, core_.NextDue());
    if (!scheduled_.empty()) target = std::min(target, scheduled_.begin()->first);
    if (target == EventLoopCore::kNever) Abort("Wait() forever with nothing scheduled");
    now_ = std::max(now_, target);
    for (;;) {
      if (!scheduled_.empty() && scheduled_.begin()->first <= now_) {
        auto fn = std::move(scheduled_.begin()->second);
        scheduled_.erase(scheduled_.begin());
        if (fn) fn();
      } else {
        const int deferred = core_.RunDeferred();
        if (deferred + core_.RunDueTimers() == 0) break;
      }
    }
  }
  // Posted calls queued before this point run now; calls they post wait for the next Wait().
  core_.RunPosted();
}

bool FakeFileSystem::Injected::Take() {
  if (left == 0) return false;
  if (left > 0) --left;
  return true;
}

Status FakeFileSystem::Remove(const std::string& path) {
  const std::string key = Key(path);
  if (beforeRemove) beforeRemove(key);
  ++removeCalls[key];
  std::error_code ec;
  Injected& failure = removeFailures_[key];
  if (fs::exists(path, ec) && failure.Take()) return Status::Failed(failure.cause);
  if (fs::remove(path, ec)) ++generations_[key];
  return Failure(ec);
}

StatusOr<std::unique_ptr<HeldFolder>> FakeFileSystem::HoldFolder(const std::string& path) {
  if (refuseHold) return Status::Failed("Operation not supported");
  StatusOr<std::unique_ptr<HeldFolder>> held = Real().HoldFolder(path);
  if (held.ok()) heldBy_[held.value()->Path()] = path;
  return held;
}

std::string FakeFileSystem::Key(const std::string& path) const {
  for (const auto& [through, by] : heldBy_) {
    const std::size_t n = through.size();
    if (path.size() > n && path.starts_with(through) && (path[n] == '/' || path[n] == '\\')) return by + path.substr(n);
  }
  return path;
}

FileSystem& FakeFileSystem::Real() {
  static const std::unique_ptr<FileSystem> real = MakeFileSystem();
  return *real;
}

FileInfo FakeFileSystem::Inspect(const std::string& path) {
  const std::string key = Key(path);
  ++inspections[key];
  // The real identity, and how often this fake removed or recreated the file.
  FileInfo info = Real().Inspect(path);
  if (info.kind != FileKind::kMissing) info.identity += ":" + std::to_string(generations_[key]);
  return info;
}

// On std::filesystem like Remove() and ReplaceWith(): under Wine they failed on the real one's owner-only files.
StatusOr<std::FILE*> FakeFileSystem::CreateFresh(const std::string& path, FileAccess access) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec) return Failure(ec);
  return CreateExclusive(path, access);
}

StatusOr<std::FILE*> FakeFileSystem::CreateExclusive(const std::string& path, FileAccess access) {
  std::error_code ec;
  if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
    return ec ? Failure(ec) : Failure(std::make_error_code(std::errc::file_exists));
  }
  ++generations_[Key(path)];
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return Failure(std::error_code(errno, std::generic_category()));
  using P = fs::perms;
  if (access == FileAccess::kOwnerOnly) fs::permissions(path, P::owner_read | P::owner_write, ec);
  if (access == FileAccess::kOwnerWrites) fs::permissions(path, P::owner_read | P::owner_write | P::group_read, ec);
  if (access == FileAccess::kGroupReadable) fs::permissions(path, P::group_read, fs::perm_options::add, ec);
  return f;
}

Status FakeFileSystem::FlushToDisk(std::FILE* file) {
  if (flushFailure_.Take()) return Status::Failed(flushFailure_.cause);
  return std::fflush(file) == 0 ? Status::Ok() : Status::Failed("flush failed");
}

Status FakeFileSystem::ReplaceWith(const std::string& from, const std::string& to) {
  Injected& failure = replaceFailures_[Key(to)];
  if (failure.Take()) return Status::Failed(failure.cause);
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) return Failure(ec);
  ++generations_[Key(to)];
  return Status::Ok();
}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  std::error_code ec;
  const std::string prefix = (fs::temp_directory_path() / "kolibra-test-").string() + std::to_string(::getpid());
  do path_ = prefix + "-" + std::to_string(counter++);
  while (!fs::create_directory(path_, ec));
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kolibra::fakes
