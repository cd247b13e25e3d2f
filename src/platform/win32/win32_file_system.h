// File existence, removal and folder creation on Windows, with the same
// meaning as on POSIX: a symbolic link or junction (any reparse point) counts
// as a link and is never followed, and a DOS device name (CON, NUL, COM1,
// ...) is never opened as a file.
#pragma once

#include "platform/file_system.h"

namespace kolibra {

class Win32FileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  // Succeeds when the name is gone afterwards (also when it never existed); a
  // link or junction is removed itself, a real folder is not removed.
  Status Remove(const std::string& path) override;
  // Succeeds when the folder exists afterwards.
  Status MakeDirectory(const std::string& path) override;
  // The name itself (FILE_FLAG_OPEN_REPARSE_POINT); the identity is volume
  // serial, file index, size, creation and last write time.
  FileInfo Inspect(const std::string& path) override;
  // Opens the name itself; a reparse point, folder or anything that is not a
  // disk file (pipe, device) is kNotRegular.
  ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes) override;
  using FileSystem::CreateFresh;
  // Remove(), then CREATE_NEW on the name itself. Either access gives the
  // file the folder's inherited access list: on Windows the folder's list is
  // its trust (every user of the machine in the folders the installer
  // prepared), and a file of the driver's (the journal) must stay usable by
  // whichever account runs the driver there next.
  StatusOr<std::FILE*> CreateFresh(const std::string& path, FileAccess access) override;
  // fflush() and FlushFileBuffers().
  Status FlushToDisk(std::FILE* file) override;
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
  Status ReplaceWith(const std::string& from, const std::string& to) override;
  // Opens the name itself for appending; a reparse point, folder, device or
  // file with more than one link is replaced by a new file.
  Status AppendToPlainFile(const std::string& path, std::string_view bytes) override;
  // OPEN_ALWAYS on the name itself without delete sharing, then LockFileEx
  // on byte 0 (exclusive, failing at once).
  ClaimResult TryClaim(const std::string& path) override;
  // CREATE_NEW in the folder held as for CreateFresh(), without removing
  // anything first.
  StatusOr<std::FILE*> CreateExclusive(const std::string& path, FileAccess access) override;
  // FindFirstFile() and FindNextFile().
  StatusOr<std::vector<std::string>> ListFolder(const std::string& folder) override;
  // A listing handle without delete sharing: the folder can be neither
  // renamed nor removed while held, so its own path keeps naming it.
  StatusOr<std::unique_ptr<HeldFolder>> HoldFolder(const std::string& path) override;
  // FindFirstFile() with the pattern prefix + "*", and FindNextFile().
  StatusOr<std::vector<std::string>> FindNames(const std::string& folder, const std::string& prefix) override;

  // Whether the last component of path is a DOS device name, which Windows
  // maps to the device in every folder and with any extension.
  static bool NamesDevice(const std::string& path);
};

}  // namespace kolibra
