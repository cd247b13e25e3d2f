// The few file operations that can fail in ways the logic must handle.
// Reading and writing file contents goes through <fstream> in binary mode.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kolibra {

// What a path names, looked at without following a final symbolic link.
enum class FileKind { kMissing, kRegular, kDirectory, kLink, kOther };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  // Tells one file apart from another that later takes its name (a file
  // rewritten in place also changes it); empty when missing.
  std::string identity;
  // The file itself (device and file number): kept while the file is
  // rewritten in place; empty when missing or unknown.
  std::string object;
};

enum class ReadStatus { kOk, kMissing, kNotRegular, kTooLarge, kUnreadable };

struct ReadResult {
  ReadStatus status = ReadStatus::kMissing;
  std::string bytes;
  // The system's reason when it refused the open or a read (kUnreadable).
  Status error;
};

// Who may open a file the driver creates: every user the folder lets in,
// or only the driver's own user; kOwnerWrites: only the driver's user
// writes it, the users of its group may read it (on POSIX 0640 whatever
// the umask; on Windows the folder's own rights, as for kShared);
// kGroupReadable is kShared and also readable by the file's group whatever
// the umask (a job file another user's driver must read).
enum class FileAccess { kShared, kOwnerOnly, kOwnerWrites, kGroupReadable };

// An exclusive lock held on a file until this is destroyed; the system
// drops it when the process ends.
class FileClaim {
 public:
  virtual ~FileClaim() = default;
};

enum class ClaimStatus { kHeld, kBusy, kFailed };

struct ClaimResult {
  ClaimStatus status = ClaimStatus::kFailed;
  std::unique_ptr<FileClaim> claim;  // set when kHeld
  Status error;  // why, when kFailed
};

// What became of a held folder: still there, removed (nothing can be made
// in it any more), or not reachable (a share that dropped).
enum class HeldFolderState { kPresent, kDeleted, kUnusable };

// A folder held open for as long as the object lives, so that files are
// reached in that folder whatever its path names meanwhile (the folder
// renamed, another one put in its place).
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
  // A path to the held folder itself, for the FileSystem's other
  // operations: JoinPath(Path(), name) names a file in it. Not a text to
  // show: it may differ from the path the folder was held by.
  virtual const std::string& Path() const = 0;
  virtual HeldFolderState State() = 0;
};

// Every operation that can fail returns the failure with the system's
// reason (Status, StatusOr).
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // Fails when the file exists and could not be removed.
  virtual Status Remove(const std::string& path) = 0;
  // Succeeds when the folder exists afterwards.
  virtual Status MakeDirectory(const std::string& path) = 0;
  virtual FileInfo Inspect(const std::string& path) = 0;
  // The whole content of a plain file, opened without following a final
  // symbolic link (a link, folder, FIFO or device is kNotRegular, and is
  // never waited on); more than maxBytes is kTooLarge.
  virtual ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes) = 0;
  // Removes whatever has the name (a link itself, never its target) and
  // creates a new empty file there exclusively, so that nothing planted
  // under the name is written through. The caller owns the stream (binary).
  virtual StatusOr<std::FILE*> CreateFresh(const std::string& path, FileAccess access) = 0;
  StatusOr<std::FILE*> CreateFresh(const std::string& path) { return CreateFresh(path, FileAccess::kShared); }
  // Flushes a stream from CreateFresh() down to the disk.
  virtual Status FlushToDisk(std::FILE* file) = 0;
  // Renames `from` over `to` in the same folder, replacing whatever has that
  // name (a link itself, never its target), and makes the rename durable.
  // On failure `from` stays.
  virtual Status ReplaceWith(const std::string& from, const std::string& to) = 0;
  // Appends to a plain file with a single name, opened without following a
  // link; a link, a hard-linked file or anything else under the name is
  // replaced by a new file first.
  virtual Status AppendToPlainFile(const std::string& path, std::string_view bytes) = 0;
  // Opens the plain file `path` (created when missing, readable and writable
  // by its group whatever the umask; never through a link) and locks its
  // first byte exclusively without waiting: kBusy while another holder has
  // it, or when the name no longer names the file locked. The lock is the
  // kind other programs take on the same byte (record locks on POSIX,
  // LockFileEx on Windows), so clients written in other languages share it.
  virtual ClaimResult TryClaim(const std::string& path) = 0;
  // Creates a new empty file under path exclusively: whatever already has the
  // name (a file, a folder, a link) is left alone and nothing is created.
  // The caller owns the stream (binary).
  virtual StatusOr<std::FILE*> CreateExclusive(const std::string& path, FileAccess access) = 0;
  // The names in a folder, "." and ".." left out.
  virtual StatusOr<std::vector<std::string>> ListFolder(const std::string& folder) = 0;
  // Holds the folder path names now.
  virtual StatusOr<std::unique_ptr<HeldFolder>> HoldFolder(const std::string& path) = 0;
  // The names in folder that begin with prefix, as the system compares names
  // (ASCII letters in either case on Windows), from one pass over the
  // folder: what the polling asks on every tick. A folder that cannot be
  // read is a failure; one without such a name is an empty list.
  virtual StatusOr<std::vector<std::string>> FindNames(const std::string& folder, const std::string& prefix) = 0;
};

// Joins a folder and a file name with the platform's separator.
std::string JoinPath(const std::string& dir, const std::string& name);

// A path's text as UTF-8, for showing it: the bytes as they are on POSIX
// (file names there are UTF-8), converted from the ANSI code page on Windows.
std::string PathAsUtf8(const std::string& path);

}  // namespace kolibra
