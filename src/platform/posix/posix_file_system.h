// File existence, removal and folder creation on a POSIX file system.
#pragma once

#include "platform/file_system.h"

namespace kolibra {

class PosixFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  // Succeeds when the file is gone afterwards (also when it never existed).
  Status Remove(const std::string& path) override;
  // Succeeds when the folder exists afterwards.
  Status MakeDirectory(const std::string& path) override;
  // lstat(); the identity is device, inode, size and change time.
  FileInfo Inspect(const std::string& path) override;
  // O_NOFOLLOW | O_NONBLOCK, then fstat() must show a regular file.
  ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes) override;
  using FileSystem::CreateFresh;
  // In the folder opened with O_DIRECTORY | O_NOFOLLOW: unlinkat(), then
  // O_CREAT | O_EXCL | O_NOFOLLOW; mode 0600 for kOwnerOnly, 0640 for
  // kOwnerWrites (set with fchmod, whatever the umask).
  StatusOr<std::FILE*> CreateFresh(const std::string& path, FileAccess access) override;
  // fflush() and fsync().
  Status FlushToDisk(std::FILE* file) override;
  // renameat() within the folder opened as for CreateFresh(), then fsync()
  // of that folder; both names must be in the same folder.
  Status ReplaceWith(const std::string& from, const std::string& to) override;
  // O_APPEND | O_NOFOLLOW | O_NONBLOCK in the folder opened as for
  // CreateFresh(); fstat() must show a regular file with one link.
  Status AppendToPlainFile(const std::string& path, std::string_view bytes) override;
  // O_RDWR | O_CREAT | O_NOFOLLOW in the folder opened as for CreateFresh(),
  // then an F_OFD_SETLK (F_SETLK without it) write lock on byte 0; the name
  // must still name the locked file afterwards.
  ClaimResult TryClaim(const std::string& path) override;
  // O_CREAT | O_EXCL | O_NOFOLLOW in the folder opened as for CreateFresh().
  StatusOr<std::FILE*> CreateExclusive(const std::string& path, FileAccess access) override;
  // opendir() and readdir().
  StatusOr<std::vector<std::string>> ListFolder(const std::string& folder) override;
  // An O_DIRECTORY descriptor; its path is /proc/self/fd/<n>/., which the
  // kernel resolves through the descriptor (nullptr without /proc).
  StatusOr<std::unique_ptr<HeldFolder>> HoldFolder(const std::string& path) override;
  // opendir() and readdir(); names compared byte for byte.
  StatusOr<std::vector<std::string>> FindNames(const std::string& folder, const std::string& prefix) override;
};

}  // namespace kolibra
