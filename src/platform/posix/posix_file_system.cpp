#include "platform/posix/posix_file_system.h"

#include <dirent.h>
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

Status PosixFileSystem::Remove(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
  return LastOsError();
}

Status PosixFileSystem::MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return Status::Ok();
  const Status failure = LastOsError();
  return errno == EEXIST && IsDirectory(path) ? Status::Ok() : failure;
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
    if (result.status == ReadStatus::kUnreadable) result.error = LastOsError();
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
      result.error = LastOsError();
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

// False with errno set on failure.
bool WriteAllTo(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// -1 with errno set to code.
int FailWith(int code) {
  errno = code;
  return -1;
}

// Closes and removes a file just made, keeping errno for the caller; -1.
int Discard(const Folder& folder, const std::string& name, int fd) {
  const int code = errno;
  close(fd);
  unlinkat(folder.fd(), name.c_str(), 0);
  return FailWith(code);
}

// An exclusive openat() in an opened folder; -1 with errno on failure
// (whatever has the name included).
int CreateNewIn(const Folder& folder, const std::string& name, FileAccess access) {
  if (folder.fd() < 0) return -1;  // errno from the folder's open
  if (name.empty()) return FailWith(EINVAL);
  const mode_t mode = access == FileAccess::kOwnerOnly     ? 0600
                     : access == FileAccess::kOwnerWrites ? 0640
                                                          : 0666;
  int fd;
  do {
    fd = openat(folder.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                mode);
  } while (fd < 0 && errno == EINTR);
  // The driver's own files get their mode exactly: the umask (the
  // service's 0007, a user's 077) neither widens nor narrows it.
  if (fd >= 0 && (access == FileAccess::kOwnerOnly || access == FileAccess::kOwnerWrites) &&
      fchmod(fd, mode) != 0) {
    return Discard(folder, name, fd);
  }
  if (fd >= 0 && access == FileAccess::kGroupReadable) {
    // The umask may have taken the group's read right away (a till user's
    // 077): set it explicitly, or the driver cannot read the file.
    struct stat st;
    if (fstat(fd, &st) != 0 || fchmod(fd, (st.st_mode & 07777) | S_IRGRP) != 0) return Discard(folder, name, fd);
  }
  return fd;
}

class PosixClaim : public FileClaim {
 public:
  explicit PosixClaim(int fd) : fd_(fd) {}
  ~PosixClaim() override { close(fd_); }

 private:
  int fd_;
};

// unlinkat() and an exclusive openat() in an opened folder; -1 with errno
// on failure.
int CreateFreshIn(const Folder& folder, const std::string& name, FileAccess access) {
  if (folder.fd() < 0) return -1;
  if (name.empty()) return FailWith(EINVAL);
  if (unlinkat(folder.fd(), name.c_str(), 0) != 0 && errno != ENOENT) return -1;
  return CreateNewIn(folder, name, access);
}

StatusOr<std::FILE*> StreamOf(int fd) {
  if (fd < 0) return LastOsError();
  std::FILE* f = fdopen(fd, "wb");
  if (f != nullptr) return f;
  const Status failure = LastOsError();
  close(fd);
  return failure;
}

}  // namespace

StatusOr<std::FILE*> PosixFileSystem::CreateFresh(const std::string& path, FileAccess access) {
  const SplitPath split = Split(path);
  return StreamOf(CreateFreshIn(Folder(split.folder), split.name, access));
}

StatusOr<std::FILE*> PosixFileSystem::CreateExclusive(const std::string& path, FileAccess access) {
  const SplitPath split = Split(path);
  return StreamOf(CreateNewIn(Folder(split.folder), split.name, access));
}

StatusOr<std::vector<std::string>> PosixFileSystem::ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return LastOsError();
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

StatusOr<std::vector<std::string>> PosixFileSystem::FindNames(const std::string& folder, const std::string& prefix) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return LastOsError();
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.starts_with(prefix) && name != "." && name != "..") names.emplace_back(name);
  }
  const int error = errno;  // readdir() ends with errno untouched, or fails with it set
  closedir(dir);
  if (error != 0) return OsError(error);
  return names;
}

Status PosixFileSystem::FlushToDisk(std::FILE* file) {
  if (file == nullptr) return OsError(EBADF);
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) return LastOsError();
  return Status::Ok();
}

Status PosixFileSystem::ReplaceWith(const std::string& from, const std::string& to) {
  const SplitPath source = Split(from), target = Split(to);
  if (source.folder != target.folder) return OsError(EXDEV);
  const Folder folder(target.folder);
  if (folder.fd() < 0) return LastOsError();
  if (source.name.empty() || target.name.empty()) return OsError(EINVAL);
  if (renameat(folder.fd(), source.name.c_str(), folder.fd(), target.name.c_str()) != 0) return LastOsError();
  // The new name is on the disk once the folder is; a failure here leaves it
  // renamed, only its durability unknown.
  fsync(folder.fd());
  return Status::Ok();
}

Status PosixFileSystem::AppendToPlainFile(const std::string& path, std::string_view bytes) {
  const SplitPath split = Split(path);
  const Folder folder(split.folder);
  if (folder.fd() < 0) return LastOsError();
  if (split.name.empty()) return OsError(EINVAL);
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
    if (errno != ENOENT && errno != ELOOP && errno != ENXIO && errno != EISDIR) return LastOsError();
    fd = CreateFreshIn(folder, split.name, FileAccess::kShared);
    if (fd < 0) return LastOsError();
  }
  Status written = WriteAllTo(fd, bytes) ? Status::Ok() : LastOsError();
  if (close(fd) != 0 && written.ok()) written = LastOsError();
  return written;
}

ClaimResult PosixFileSystem::TryClaim(const std::string& path) {
  const SplitPath split = Split(path);
  const Folder folder(split.folder);
  ClaimResult result;
  if (folder.fd() < 0 || split.name.empty()) {
    result.error = folder.fd() < 0 ? LastOsError() : OsError(EINVAL);
    return result;
  }
  int fd;
  do {
    fd = openat(folder.fd(), split.name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    result.error = LastOsError();
    return result;
  }
  struct stat held;
  const bool statted = fstat(fd, &held) == 0;
  if (!statted || !S_ISREG(held.st_mode)) {
    result.error = !statted ? LastOsError() : OsError(S_ISDIR(held.st_mode) ? EISDIR : EINVAL);
    close(fd);
    return result;
  }
  // A write lock needs the file open for writing: every client of the
  // folder's group must be able to, whoever made the file.
  if (held.st_uid == geteuid() && (held.st_mode & 0060) != 0060) fchmod(fd, (held.st_mode & 07777) | 0060);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  // Locks of the open file, not of the process, where there are (Linux):
  // they conflict with the record locks of other programs just the same,
  // and also with a second claim of this process.
#ifdef F_OFD_SETLK
  const int command = F_OFD_SETLK;
#else
  const int command = F_SETLK;
#endif
  int rc;
  do {
    rc = fcntl(fd, command, &lock);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    result.error = LastOsError();
    if (errno == EACCES || errno == EAGAIN) result.status = ClaimStatus::kBusy;
    close(fd);
    return result;
  }
  // Removed or replaced between the open and the lock: the lock would keep
  // out nobody who opens the name now.
  struct stat named;
  if (fstatat(folder.fd(), split.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    close(fd);
    result.status = ClaimStatus::kBusy;
    return result;
  }
  result.status = ClaimStatus::kHeld;
  result.claim = std::make_unique<PosixClaim>(fd);
  return result;
}

std::string PathAsUtf8(const std::string& path) { return path; }

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

StatusOr<std::unique_ptr<HeldFolder>> PosixFileSystem::HoldFolder(const std::string& path) {
  if (path.empty()) return OsError(ENOENT);
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return LastOsError();
  // The final "." keeps the last component a plain name, so that the
  // operations that refuse a link there accept it.
  std::string through = "/proc/self/fd/" + std::to_string(fd) + "/.";
  struct stat held, seen;
  Status failure;
  if (fstat(fd, &held) != 0 || stat(through.c_str(), &seen) != 0) {
    failure = LastOsError();
  } else if (held.st_dev != seen.st_dev || held.st_ino != seen.st_ino) {
    failure = OsError(ENOTSUP);  // no /proc to reach it through
  }
  if (!failure.ok()) {
    close(fd);
    return failure;
  }
  return std::unique_ptr<HeldFolder>(std::make_unique<PosixHeldFolder>(fd, std::move(through)));
}

}  // namespace kolibra
