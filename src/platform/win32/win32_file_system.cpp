#include "platform/win32/win32_file_system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/win32_owned_handle.h"

namespace kolibra {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH;
}

Status Failure(DWORD error) { return OsError(static_cast<int>(error)); }

// Success when done, or when the name was not there to begin with.
Status GoneUnlessFailed(BOOL done) {
  if (done) return Status::Ok();
  const DWORD error = GetLastError();
  return IsNotFound(error) ? Status::Ok() : Failure(error);
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Opens the name itself, never what a link points to; folders open too.
OwnedHandle OpenName(const std::string& path, DWORD access, DWORD creation, DWORD flags) {
  return OwnedHandle(CreateFileA(path.c_str(), access, kShareAll, nullptr, creation,
                                 flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::string Hex(unsigned long long v) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v & 15]);
    v >>= 4;
  } while (v != 0);
  return s;
}

unsigned long long Join(DWORD high, DWORD low) {
  return (static_cast<unsigned long long>(high) << 32) | low;
}

unsigned long long Ticks(const FILETIME& t) { return Join(t.dwHighDateTime, t.dwLowDateTime); }

FileKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kOther;
  return FileKind::kRegular;
}

// The attributes of what path names, following links as stat() does;
// INVALID_FILE_ATTRIBUTES when nothing (or a dangling link) is there.
DWORD FollowedAttributes(const std::string& path) {
  if (path.empty() || Win32FileSystem::NamesDevice(path)) return INVALID_FILE_ATTRIBUTES;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return attributes;
  }
  const OwnedHandle target(CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!target || !GetFileInformationByHandle(target.get(), &info)) return INVALID_FILE_ATTRIBUTES;
  return info.dwFileAttributes;
}

}  // namespace

bool Win32FileSystem::NamesDevice(const std::string& path) {
  const std::size_t sep = path.find_last_of("\\/:");
  std::string base = path.substr(sep == std::string::npos ? 0 : sep + 1);
  // "NUL.txt" and "nul " are the device too: the extension and trailing
  // blanks do not count.
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = Upper(c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  // COM0..COM9 and LPT0..LPT9, and the superscript digits 1, 2, 3 of
  // Windows-1252.
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    const char d = base[3];
    return (d >= '0' && d <= '9') || d == '\xB9' || d == '\xB2' || d == '\xB3';
  }
  return false;
}

bool Win32FileSystem::Exists(const std::string& path) {
  return FollowedAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool Win32FileSystem::IsDirectory(const std::string& path) {
  const DWORD attributes = FollowedAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Status Win32FileSystem::Remove(const std::string& path) {
  if (path.empty()) return Status::Ok();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GoneUnlessFailed(FALSE);
  // A link to a folder (symbolic link or junction) is itself a folder entry:
  // RemoveDirectory takes the link away and leaves the target alone. A real
  // folder is not removed, as unlink() would not remove it.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return Failure(ERROR_ACCESS_DENIED);
    return GoneUnlessFailed(RemoveDirectoryA(path.c_str()));
  }
  return GoneUnlessFailed(DeleteFileA(path.c_str()));
}

Status Win32FileSystem::MakeDirectory(const std::string& path) {
  if (path.empty()) return Failure(ERROR_INVALID_NAME);
  if (CreateDirectoryA(path.c_str(), nullptr)) return Status::Ok();
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS && IsDirectory(path) ? Status::Ok() : Failure(error);
}

FileInfo Win32FileSystem::Inspect(const std::string& path) {
  FileInfo info;
  if (path.empty()) return info;
  if (NamesDevice(path)) {
    info.kind = FileKind::kOther;
    info.identity = "device";
    return info;
  }
  // No read or write access is asked for, so no other opener's sharing mode
  // can refuse it.
  const OwnedHandle h = OpenName(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  // Nothing there: one lookup is all a missing file costs (the polling asks
  // for every start file on every tick).
  if (!h && IsNotFound(GetLastError())) return info;
  BY_HANDLE_FILE_INFORMATION bh;
  if (h && GetFileInformationByHandle(h.get(), &bh)) {
    info.kind = KindOf(bh.dwFileAttributes);
    if (info.kind == FileKind::kRegular && GetFileType(h.get()) != FILE_TYPE_DISK) {
      info.kind = FileKind::kOther;
    }
    info.object = Hex(bh.dwVolumeSerialNumber) + ":" + Hex(Join(bh.nFileIndexHigh, bh.nFileIndexLow));
    info.identity = info.object + ":" + std::to_string(Join(bh.nFileSizeHigh, bh.nFileSizeLow)) + ":" +
                    Hex(Ticks(bh.ftCreationTime)) + "." + Hex(Ticks(bh.ftLastWriteTime));
    return info;
  }
  if (h) {
    // Opened but not a file system object (a pipe or device).
    info.kind = FileKind::kOther;
    info.identity = "other";
    return info;
  }
  // There but not to be opened: the attributes still tell what it is.
  WIN32_FILE_ATTRIBUTE_DATA ad;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &ad)) return info;
  info.kind = KindOf(ad.dwFileAttributes);
  info.identity = "?:" + std::to_string(Join(ad.nFileSizeHigh, ad.nFileSizeLow)) + ":" +
                  Hex(Ticks(ad.ftCreationTime)) + "." + Hex(Ticks(ad.ftLastWriteTime));
  return info;
}

ReadResult Win32FileSystem::ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  ReadResult result;
  if (path.empty()) return result;
  if (NamesDevice(path)) {
    result.status = ReadStatus::kNotRegular;
    return result;
  }
  // Folders open too (backup semantics), so that they are told apart from
  // files that cannot be read.
  const OwnedHandle h = OpenName(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!h) {
    const DWORD error = GetLastError();
    result.status = IsNotFound(error) ? ReadStatus::kMissing : ReadStatus::kUnreadable;
    if (result.status == ReadStatus::kUnreadable) result.error = Failure(error);
    return result;
  }
  BY_HANDLE_FILE_INFORMATION bh;
  if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &bh) ||
      (bh.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                              FILE_ATTRIBUTE_DEVICE))) {
    result.status = ReadStatus::kNotRegular;
    return result;
  }
  if (Join(bh.nFileSizeHigh, bh.nFileSizeLow) > maxBytes) {
    result.status = ReadStatus::kTooLarge;
    return result;
  }
  result.status = ReadStatus::kOk;
  char block[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), block, sizeof block, &n, nullptr)) {
      result.status = ReadStatus::kUnreadable;
      result.error = LastOsError();
      break;
    }
    if (n == 0) break;
    // Capped while reading too, in case the file grows meanwhile.
    if (result.bytes.size() + n > maxBytes) {
      result.status = ReadStatus::kTooLarge;
      break;
    }
    result.bytes.append(block, n);
  }
  if (result.status != ReadStatus::kOk) result.bytes.clear();
  return result;
}

namespace {

// The folder of path, held open without delete sharing while a file is made
// or renamed in it, so that it cannot be swapped for a junction or link
// meanwhile; an empty handle and the reason when it is a reparse point or
// cannot be opened.
OwnedHandle HoldFolderOf(const std::string& path, Status& failure) {
  const std::size_t sep = path.find_last_of("\\/");
  std::string folder = sep == std::string::npos ? "." : path.substr(0, sep);
  if (folder.empty() || folder.back() == ':') folder += '\\';  // "\x", "C:\x"
  // Listing access, so that the share mode applies (attribute-only opens
  // are not checked against it).
  OwnedHandle h(CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) {
    failure = LastOsError();
    return {};
  }
  BY_HANDLE_FILE_INFORMATION bh;
  if (!GetFileInformationByHandle(h.get(), &bh)) {
    failure = LastOsError();
    return {};
  }
  if (!(bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (bh.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    failure = Failure(ERROR_DIRECTORY);
    return {};
  }
  return h;
}

// Hands a file handle over to a binary stdio stream.
StatusOr<std::FILE*> StreamOf(OwnedHandle h, int flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h.get()), flags | _O_BINARY);
  if (fd < 0) return Failure(ERROR_TOO_MANY_OPEN_FILES);
  h.Release();  // the descriptor owns it now
  std::FILE* f = _fdopen(fd, mode);
  if (f != nullptr) return f;
  _close(fd);
  return Failure(ERROR_TOO_MANY_OPEN_FILES);
}

// A new file under path (CREATE_NEW: nothing that has the name is opened or
// replaced), its folder held by the caller. Every kind takes the folder's
// inherited access list (see the header).
StatusOr<std::FILE*> CreateNewFile(const std::string& path, FileAccess access) {
  static_cast<void>(access);
  OwnedHandle h = OpenName(path, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (!h) return LastOsError();
  if (GetFileType(h.get()) != FILE_TYPE_DISK) return Failure(ERROR_BAD_FILE_TYPE);
  return StreamOf(std::move(h), _O_WRONLY, "wb");
}

}  // namespace

StatusOr<std::FILE*> Win32FileSystem::CreateFresh(const std::string& path, FileAccess access) {
  if (path.empty() || NamesDevice(path)) return Failure(ERROR_INVALID_NAME);
  Status failure;
  const OwnedHandle folder = HoldFolderOf(path, failure);
  if (!folder) return failure;
  const Status removed = Remove(path);
  if (!removed.ok()) return removed;
  return CreateNewFile(path, access);
}

StatusOr<std::FILE*> Win32FileSystem::CreateExclusive(const std::string& path, FileAccess access) {
  if (path.empty() || NamesDevice(path)) return Failure(ERROR_INVALID_NAME);
  Status failure;
  const OwnedHandle folder = HoldFolderOf(path, failure);
  if (!folder) return failure;
  return CreateNewFile(path, access);
}

StatusOr<std::vector<std::string>> Win32FileSystem::ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  if (folder.empty()) return Failure(ERROR_PATH_NOT_FOUND);
  WIN32_FIND_DATAA found;
  const HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return LastOsError();
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return names;
}

StatusOr<std::vector<std::string>> Win32FileSystem::FindNames(const std::string& folder, const std::string& prefix) {
  if (folder.empty()) return OsError(ERROR_PATH_NOT_FOUND);
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  const HANDLE h = FindFirstFileA((folder + "\\" + prefix + "*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // The folder is there, without such a name.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return names;
    return OsError(static_cast<int>(error));
  }
  do {
    // The pattern also matches short (8.3) names: only a long name that
    // begins with the prefix counts.
    const std::string name = found.cFileName;
    bool match = name.size() >= prefix.size();
    for (std::size_t i = 0; match && i < prefix.size(); ++i) match = Upper(name[i]) == Upper(prefix[i]);
    if (match && name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &found));
  const DWORD error = GetLastError();
  FindClose(h);
  if (error != ERROR_NO_MORE_FILES) return OsError(static_cast<int>(error));
  return names;
}

Status Win32FileSystem::FlushToDisk(std::FILE* file) {
  if (file == nullptr) return Failure(ERROR_INVALID_HANDLE);
  if (std::fflush(file) != 0) return LastOsError();
  const intptr_t h = _get_osfhandle(_fileno(file));
  if (h == -1) return Failure(ERROR_INVALID_HANDLE);
  return FlushFileBuffers(reinterpret_cast<HANDLE>(h)) ? Status::Ok() : LastOsError();
}

Status Win32FileSystem::ReplaceWith(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty() || NamesDevice(to)) return Failure(ERROR_INVALID_NAME);
  Status failure;
  const OwnedHandle folder = HoldFolderOf(to, failure);
  if (!folder) return failure;
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return Status::Ok();
  return LastOsError();
}

Status Win32FileSystem::AppendToPlainFile(const std::string& path, std::string_view bytes) {
  if (path.empty() || NamesDevice(path)) return Failure(ERROR_INVALID_NAME);
  Status failure;
  const OwnedHandle folder = HoldFolderOf(path, failure);
  if (!folder) return failure;
  OwnedHandle h = OpenName(path, FILE_APPEND_DATA, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  const DWORD openError = h ? ERROR_SUCCESS : GetLastError();
  BY_HANDLE_FILE_INFORMATION bh;
  const bool plain = h && GetFileType(h.get()) == FILE_TYPE_DISK && GetFileInformationByHandle(h.get(), &bh) &&
                     !(bh.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                                              FILE_ATTRIBUTE_DEVICE)) &&
                     bh.nNumberOfLinks == 1;
  if (!plain) {
    if (!h && !IsNotFound(openError) && openError != ERROR_ACCESS_DENIED) return Failure(openError);
    h = OwnedHandle();
    // Missing, or something that must not be written through: a new file.
    const StatusOr<std::FILE*> fresh = CreateFresh(path, FileAccess::kShared);
    if (!fresh.ok()) return fresh.status();
    std::FILE* f = fresh.value();
    Status written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() ? Status::Ok() : LastOsError();
    if (std::fclose(f) != 0 && written.ok()) written = LastOsError();
    return written;
  }
  while (!bytes.empty()) {
    DWORD n = 0;
    const DWORD chunk = bytes.size() > 65536 ? 65536 : static_cast<DWORD>(bytes.size());
    if (!WriteFile(h.get(), bytes.data(), chunk, &n, nullptr)) return LastOsError();
    if (n == 0) return Failure(ERROR_WRITE_FAULT);
    bytes.remove_prefix(n);
  }
  return Status::Ok();
}

namespace {

class Win32Claim : public FileClaim {
 public:
  explicit Win32Claim(OwnedHandle h) : h_(std::move(h)) {}

 private:
  OwnedHandle h_;  // closing it ends the lock
};

class Win32HeldFolder : public HeldFolder {
 public:
  Win32HeldFolder(OwnedHandle h, std::string path) : handle_(std::move(h)), path_(std::move(path)) {}
  const std::string& Path() const override { return path_; }
  // Held without delete sharing, the folder cannot be removed meanwhile.
  HeldFolderState State() override {
    BY_HANDLE_FILE_INFORMATION bh;
    return GetFileInformationByHandle(handle_.get(), &bh) ? HeldFolderState::kPresent
                                                          : HeldFolderState::kUnusable;
  }

 private:
  OwnedHandle handle_;
  std::string path_;
};

}  // namespace

ClaimResult Win32FileSystem::TryClaim(const std::string& path) {
  ClaimResult result;
  if (path.empty() || NamesDevice(path)) {
    result.error = Failure(ERROR_INVALID_NAME);
    return result;
  }
  const OwnedHandle folder = HoldFolderOf(path, result.error);
  if (!folder) return result;
  // Without delete sharing: the file cannot be removed or renamed while held.
  OwnedHandle h(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) result.status = ClaimStatus::kBusy;
    result.error = Failure(error);
    return result;
  }
  BY_HANDLE_FILE_INFORMATION bh;
  if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &bh) ||
      (bh.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
    result.error = Failure(ERROR_ACCESS_DENIED);
    return result;
  }
  OVERLAPPED at{};
  if (!LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) result.status = ClaimStatus::kBusy;
    result.error = Failure(error);
    return result;
  }
  result.status = ClaimStatus::kHeld;
  result.claim = std::make_unique<Win32Claim>(std::move(h));
  return result;
}

std::string PathAsUtf8(const std::string& path) {
  if (path.empty()) return path;
  const int wide = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (wide <= 0) return path;
  std::wstring w(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), w.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return path;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

StatusOr<std::unique_ptr<HeldFolder>> Win32FileSystem::HoldFolder(const std::string& path) {
  if (path.empty() || NamesDevice(path)) return Failure(ERROR_INVALID_NAME);
  // Listing access, so that the share mode applies (attribute-only opens
  // are not checked against it): renaming or removing the folder needs
  // delete access, which it refuses.
  OwnedHandle h(CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION bh;
  if (!h || !GetFileInformationByHandle(h.get(), &bh)) return LastOsError();
  if (!(bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Failure(ERROR_DIRECTORY);
  return std::unique_ptr<HeldFolder>(std::make_unique<Win32HeldFolder>(std::move(h), path));
}

}  // namespace kolibra
