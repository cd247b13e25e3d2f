#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

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

std::FILE* PosixFileSystem::CreateFresh(const std::string& path, FileAccess access) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  const mode_t mode = access == FileAccess::kOwnerOnly ? 0600 : 0666;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) close(fd);
  return f;
}

bool PosixFileSystem::FlushToDisk(std::FILE* file) {
  return file != nullptr && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool PosixFileSystem::ReplaceWith(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  // The new name is on the disk once the folder is.
  const std::size_t slash = to.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : to.substr(0, slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // renamed; only its durability is unknown
  fsync(fd);
  close(fd);
  return true;
}

namespace {

bool WriteAllTo(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool PosixFileSystem::AppendToPlainFile(const std::string& path, std::string_view bytes) {
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
    close(fd);
    fd = -1;
    errno = ELOOP;
  }
  if (fd < 0) {
    // Missing, or something that must not be written through: a new file.
    if (errno != ENOENT && errno != ELOOP && errno != ENXIO && errno != EISDIR) return false;
    std::FILE* f = CreateFresh(path, FileAccess::kShared);
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
  }
  const bool written = WriteAllTo(fd, bytes);
  return close(fd) == 0 && written;
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
