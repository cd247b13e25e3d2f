#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
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

ReadResult PosixFileSystem::ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  ReadResult result;
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    result.status = errno == ENOENT ? ReadStatus::kMissing
                    : errno == ELOOP ? ReadStatus::kNotRegular
                                     : ReadStatus::kUnreadable;
    return result;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result.status = ReadStatus::kNotRegular;
    close(fd);
    return result;
  }
  result.status = ReadStatus::kOk;
  char block[65536];
  for (;;) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.status = ReadStatus::kUnreadable;
      break;
    }
    if (n == 0) break;
    // Read in blocks, so that a file that grows meanwhile is still capped.
    if (result.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
      result.status = ReadStatus::kTooLarge;
      break;
    }
    result.bytes.append(block, static_cast<std::size_t>(n));
  }
  close(fd);
  if (result.status != ReadStatus::kOk) result.bytes.clear();
  return result;
}

std::FILE* PosixFileSystem::CreateFresh(const std::string& path) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) close(fd);
  return f;
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
