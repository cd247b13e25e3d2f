#include "platform/posix/posix_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kolibra {

bool PosixFileSystem::Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::Remove(const std::string& path) {
  if (unlink(path.c_str()) == 0) return true;
  return errno == ENOENT;
}

bool PosixFileSystem::MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsDirectory(path);
}

FileInfo PosixFileSystem::Inspect(const std::string& path) {
  struct stat st;
  FileInfo info;
  if (path.empty() || lstat(path.c_str(), &st) != 0) return info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FileKind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileKind::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = FileKind::kLink;
  } else {
    info.kind = FileKind::kOther;
  }
  info.identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
                  std::to_string(st.st_size) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
                  std::to_string(st.st_ctim.tv_nsec);
  return info;
}

}  // namespace kolibra
