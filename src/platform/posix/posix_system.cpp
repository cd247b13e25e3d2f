#include "platform/posix/posix_system.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/file_system.h"

namespace kolibra {
namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const struct passwd* pw = getpwuid(getuid());
    if (pw == nullptr || pw->pw_dir == nullptr) return "";
    home = pw->pw_dir;
  }
  return JoinPath(home, ".config");
}

}  // namespace

PosixSystem::~PosixSystem() {
  if (lockFd_ >= 0) close(lockFd_);
  if (dataLockFd_ >= 0) close(dataLockFd_);
}

std::string PosixSystem::CommonAppDataFolder() {
  struct stat st;
  if (stat("/var/lib", &st) == 0 && S_ISDIR(st.st_mode)) return "/var/lib";
  return "";
}

std::string PosixSystem::ProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) {
    std::string path(buf, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == 0) return "/";
    if (slash != std::string::npos) return path.substr(0, slash);
  }
  if (getcwd(buf, sizeof buf) != nullptr) return buf;
  return ".";
}

bool PosixSystem::StartedAsService() {
  const char* invocation = std::getenv("INVOCATION_ID");
  if (invocation == nullptr || *invocation == '\0') return false;
  const char* execPid = std::getenv("SYSTEMD_EXEC_PID");
  if (execPid == nullptr) return getppid() == 1;
  return std::string(execPid) == std::to_string(getpid());
}

std::string PosixSystem::UserStoreFile(const std::string& keyPath) {
  const std::string base = ConfigHome();
  if (base.empty()) return "";
  std::string key = keyPath;
  for (char& c : key) {
    if (c == '\\') c = '/';
  }
  while (!key.empty() && key.front() == '/') key.erase(0, 1);
  while (!key.empty() && key.back() == '/') key.pop_back();
  return JoinPath(JoinPath(base, key), "values");
}

std::string PosixSystem::ReadUserValue(const std::string& keyPath, const std::string& name) {
  const std::string file = UserStoreFile(keyPath);
  if (file.empty() || name.empty()) return "";
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!SameNameIgnoringCase(line.substr(0, eq), name)) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() > kMaxValueLength) return "";
    return value;
  }
  return "";
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens (creating, for the driver's user only) folder/name without following
// a link and takes an exclusive flock on it; fd is left open and locked. A
// lock file of another user is refused: it could be held to keep the driver
// out, or shared with a copy of another user.
LockRefusal TakeLock(const std::string& folder, const char* name, int& fd, struct stat* folderId) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return LockRefusal::kUnavailable;
  LockRefusal refusal = LockRefusal::kUnavailable;
  // Again when the file was swapped between its opening and its locking.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int f = openat(dir, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st, named;
    if (f < 0 || fstat(f, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
      if (f >= 0) close(f);
      const bool foreign = fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_uid != geteuid();
      refusal = foreign ? LockRefusal::kOtherUser : LockRefusal::kUnavailable;
      break;
    }
    // One made by an older version for everyone: for the owner only now.
    if ((st.st_mode & 077) != 0) fchmod(f, 0600);
    int r;
    do {
      r = flock(f, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
      close(f);
      refusal = LockRefusal::kAnotherCopy;
      break;
    }
    if (fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(named, st)) {
      close(f);
      refusal = LockRefusal::kAnotherCopy;
      continue;
    }
    if (folderId != nullptr && fstat(dir, folderId) != 0) {
      close(f);
      break;
    }
    fd = f;
    refusal = LockRefusal::kNone;
    break;
  }
  close(dir);
  return refusal;
}

constexpr const char* kInstanceLockName = "kolibra.lock";
constexpr const char* kDataLockName = "kolibra-data.lock";

}  // namespace

bool PosixSystem::AcquireSingleInstance(const std::string& lockFolder) {
  if (lockFd_ >= 0) return true;  // already held by this object
  refusal_ = TakeLock(lockFolder, kInstanceLockName, lockFd_, nullptr);
  return refusal_ == LockRefusal::kNone;
}

bool PosixSystem::AcquireDataFolderLock(const std::string& dataFolder) {
  if (dataLockFd_ >= 0) return true;
  refusal_ = TakeLock(dataFolder, kDataLockName, dataLockFd_, &dataFolderId_);
  if (refusal_ == LockRefusal::kNone) dataFolder_ = dataFolder;
  return refusal_ == LockRefusal::kNone;
}

DataLockState PosixSystem::CheckDataFolderLock() {
  struct stat folder, lockFile, held;
  if (dataLockFd_ >= 0 && stat(dataFolder_.c_str(), &folder) == 0 && SameFile(folder, dataFolderId_) &&
      lstat(JoinPath(dataFolder_, kDataLockName).c_str(), &lockFile) == 0 &&
      fstat(dataLockFd_, &held) == 0 && SameFile(lockFile, held)) {
    return DataLockState::kHeld;
  }
  int fd = -1;
  struct stat id;
  if (TakeLock(dataFolder_, kDataLockName, fd, &id) != LockRefusal::kNone) return DataLockState::kLost;
  if (dataLockFd_ >= 0) close(dataLockFd_);
  dataLockFd_ = fd;
  dataFolderId_ = id;
  return DataLockState::kRetaken;
}

}  // namespace kolibra
