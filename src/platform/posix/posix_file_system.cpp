#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

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

namespace {

// A path split into its folder and its last name.
struct SplitPath {
  std::string folder;
  std::string name;
};

SplitPath Split(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The folder a file is created in, opened without following a link as its
// last component: a link swapped in for the folder is refused, and every
// later step acts on the folder that was opened, whatever the path names by
// then.
class Folder {
 public:
  explicit Folder(const std::string& path) {
    do {
      fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
  }
  ~Folder() {
    if (fd_ >= 0) close(fd_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

bool WriteAllTo(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// unlinkat() and an exclusive openat() in an opened folder; -1 on failure.
int CreateFreshIn(const Folder& folder, const std::string& name, FileAccess access) {
  if (folder.fd() < 0 || name.empty()) return -1;
  if (unlinkat(folder.fd(), name.c_str(), 0) != 0 && errno != ENOENT) return -1;
  const mode_t mode = access == FileAccess::kOwnerOnly ? 0600 : 0666;
  int fd;
  do {
    fd = openat(folder.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::FILE* PosixFileSystem::CreateFresh(const std::string& path, FileAccess access) {
  const SplitPath split = Split(path);
  const int fd = CreateFreshIn(Folder(split.folder), split.name, access);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) close(fd);
  return f;
}

bool PosixFileSystem::FlushToDisk(std::FILE* file) {
  return file != nullptr && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool PosixFileSystem::ReplaceWith(const std::string& from, const std::string& to) {
  const SplitPath source = Split(from), target = Split(to);
  if (source.folder != target.folder) return false;
  const Folder folder(target.folder);
  if (folder.fd() < 0 || source.name.empty() || target.name.empty()) return false;
  if (renameat(folder.fd(), source.name.c_str(), folder.fd(), target.name.c_str()) != 0) return false;
  // The new name is on the disk once the folder is; a failure here leaves it
  // renamed, only its durability unknown.
  fsync(folder.fd());
  return true;
}

bool PosixFileSystem::AppendToPlainFile(const std::string& path, std::string_view bytes) {
  const SplitPath split = Split(path);
  const Folder folder(split.folder);
  if (folder.fd() < 0 || split.name.empty()) return false;
  int fd;
  do {
    fd = openat(folder.fd(), split.name.c_str(),
                O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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
    fd = CreateFreshIn(folder, split.name, FileAccess::kShared);
    if (fd < 0) return false;
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
  info.object = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  info.identity = info.object + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
                  std::to_string(st.st_ctim.tv_nsec);
  return info;
}

namespace {

class PosixHeldFolder : public HeldFolder {
 public:
  PosixHeldFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixHeldFolder() override { close(fd_); }
  PosixHeldFolder(const PosixHeldFolder&) = delete;
  PosixHeldFolder& operator=(const PosixHeldFolder&) = delete;
  const std::string& Path() const override { return path_; }
  // A removed folder keeps its descriptor but has no link left.
  HeldFolderState State() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return HeldFolderState::kUnusable;
    return st.st_nlink == 0 ? HeldFolderState::kDeleted : HeldFolderState::kPresent;
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<HeldFolder> PosixFileSystem::HoldFolder(const std::string& path) {
  if (path.empty()) return nullptr;
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  // The final "." keeps the last component a plain name, so that the
  // operations that refuse a link there accept it.
  std::string through = "/proc/self/fd/" + std::to_string(fd) + "/.";
  struct stat held, seen;
  if (fstat(fd, &held) != 0 || stat(through.c_str(), &seen) != 0 || held.st_dev != seen.st_dev ||
      held.st_ino != seen.st_ino) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixHeldFolder>(fd, std::move(through));
}

}  // namespace kolibra
