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

// Opens (creating) path and takes an exclusive flock on it, leaving the
// descriptor in fd; false when the file cannot be opened or another holder
// has the lock.
bool TakeLock(const std::string& path, int& fd) {
  if (fd >= 0) return true;  // already held by this object
  const int f = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (f < 0) return false;
  int r;
  do {
    r = flock(f, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    close(f);
    return false;
  }
  fd = f;
  return true;
}

}  // namespace

bool PosixSystem::AcquireSingleInstance(const std::string& lockFolder) {
  return TakeLock(JoinPath(lockFolder, "kolibra.lock"), lockFd_);
}

bool PosixSystem::AcquireDataFolderLock(const std::string& dataFolder) {
  return TakeLock(JoinPath(dataFolder, "kolibra-data.lock"), dataLockFd_);
}

}  // namespace kolibra
