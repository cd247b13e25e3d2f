#include "platform/setup_actions.h"

#include <windows.h>

#include <aclapi.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "platform/win32/win32_event_loop.h"
#include "platform/win32/win32_owned_handle.h"

namespace kolibra {
namespace {

// WaitForMultipleObjects takes at most this many handles at once.
constexpr std::size_t kMaxWaitHandles = MAXIMUM_WAIT_OBJECTS;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string FolderOf(const std::string& path) {
  const std::size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

bool SameFolder(const std::string& a, const std::string& b) {
  return !a.empty() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                      b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The folder of the process's program; empty when it cannot be read. The
// call exists from Windows Vista on: looked up, so that the program still
// starts on older systems (where every copy then counts as this folder's).
std::string ProcessFolder(HANDLE process, bool& known) {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
  static const Query query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
  known = query != nullptr;
  if (!known) return {};
  char buf[MAX_PATH * 4];
  DWORD size = sizeof buf;
  if (!query(process, 0, buf, &size)) return {};
  return FolderOf(std::string(buf, size));
}

std::string OwnFolder() {
  char buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? FolderOf(std::string(buf, n)) : std::string();
}

// Creates path and any missing parent; true when it is a folder at the end.
bool CreateFolders(const std::string& path, DWORD& error) {
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::string part = path.substr(0, i);
    // "C:" and "\\server\share" are no folders to create.
    if (part.empty() || part.back() == ':' || part.find_first_not_of("\\/") == std::string::npos) continue;
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        i == path.size()) {
      error = GetLastError();
      return false;
    }
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Where CloseRunningCopies() notes, for the installing user, when it closed
// copies (a FILETIME): the new files' installer starts them again.
constexpr const char* kNoteKey = "Software\\Kolibra";
constexpr const char* kNoteValue = "ClosedBySetup";
// A note older than this is from an uninstall no install followed.
constexpr unsigned long long kNoteLifeTicks = 10ull * 60 * 10'000'000;  // 10 minutes in 100 ns

unsigned long long NowTicks() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void NoteClosedCopies() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kNoteKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  const unsigned long long now = NowTicks();
  RegSetValueExA(key, kNoteValue, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&now), sizeof now);
  RegCloseKey(key);
}

// True when a recent note was there; the note goes either way.
bool TakeClosedCopiesNote() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kNoteKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  unsigned long long when = 0;
  DWORD type = 0;
  DWORD size = sizeof when;
  const bool read = RegQueryValueExA(key, kNoteValue, nullptr, &type, reinterpret_cast<BYTE*>(&when), &size) ==
                        ERROR_SUCCESS &&
                    type == REG_QWORD && size == sizeof when;
  RegDeleteValueA(key, kNoteValue);
  RegCloseKey(key);
  const unsigned long long now = NowTicks();
  return read && when <= now && now - when <= kNoteLifeTicks;
}

// One argument as the C runtime splits a command line: quoted, with the
// backslashes before a quote doubled.
std::string Quoted(const std::string& arg) {
  std::string out = "\"";
  std::size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, '\\');
  return out + "\"";
}

bool IsAbsolute(const std::string& path) {
  const bool drive = path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]);
  const bool unc = path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]);
  return drive || unc;
}

// "C:\", "\\server\share" (and "\\?\C:\" alike): the root of a drive or share.
bool IsRoot(const std::string& full) {
  std::string s = full;
  while (!s.empty() && IsSeparator(s.back())) s.pop_back();
  if (s.size() <= 2) return true;  // "", "C:"
  if (!IsSeparator(s[0]) || !IsSeparator(s[1])) return false;
  // \\server\share, \\?\C:, \\.\C:
  std::size_t parts = 0;
  for (std::size_t i = 2; i < s.size();) {
    const std::size_t next = s.find_first_of("\\/", i);
    ++parts;
    if (next == std::string::npos) break;
    i = next + 1;
  }
  return parts <= 2;
}

bool SameOrHolds(const std::string& folder, const std::string& other) {
  if (other.size() < folder.size()) return false;
  if (other.size() > folder.size() && !IsSeparator(other[folder.size()])) return false;
  return SameFolder(folder, other.substr(0, folder.size()));
}

// The shell's folders that must never be opened to every user.
constexpr int kSystemFolders[] = {
    CSIDL_WINDOWS,        CSIDL_SYSTEM,         CSIDL_SYSTEMX86,        CSIDL_PROGRAM_FILES,
    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
    CSIDL_APPDATA,        CSIDL_LOCAL_APPDATA,  CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL,
    CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS,
    CSIDL_STARTUP,        CSIDL_COMMON_STARTUP,
};

}  // namespace

SetupStatus CheckFolderForKolibra(const std::string& path, unsigned long& error) {
  error = ERROR_BAD_PATHNAME;
  if (!IsAbsolute(path) || IsRoot(path)) return SetupStatus::kFailed;
  char buf[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
  if (n == 0 || n >= sizeof buf) return SetupStatus::kFailed;
  std::string full(buf, n);
  while (!full.empty() && IsSeparator(full.back())) full.pop_back();
  if (IsRoot(full)) return SetupStatus::kFailed;
  error = ERROR_ACCESS_DENIED;
  std::vector<std::string> system{OwnFolder()};
  for (const int csidl : kSystemFolders) {
    char folder[MAX_PATH + 1] = {};
    if (SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE) && folder[0] != '\0') system.emplace_back(folder);
  }
  for (std::string s : system) {
    while (!s.empty() && IsSeparator(s.back())) s.pop_back();
    if (!s.empty() && SameOrHolds(full, s)) return SetupStatus::kFailed;
  }
  const DWORD attributes = GetFileAttributesA(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return SetupStatus::kDone;
    error = e;
    return SetupStatus::kFailed;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    return SetupStatus::kFailed;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = ERROR_DIRECTORY;
    return SetupStatus::kFailed;
  }
  error = 0;
  return SetupStatus::kDone;
}

SetupStatus StartClosedCopiesAgain(const std::vector<std::string>& arguments, bool& started) {
  started = false;
  if (!TakeClosedCopiesNote()) return SetupStatus::kDone;
  char buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return SetupStatus::kFailed;
  std::string image(buf, n);
  // kolibra.com starts kolibra.exe: the copy runs with its window.
  const std::size_t dot = image.find_last_of('.');
  if (dot != std::string::npos && image.find_first_of("\\/", dot) == std::string::npos) {
    image = image.substr(0, dot) + ".exe";
  }
  std::string commandLine = Quoted(image);
  for (const std::string& a : arguments) commandLine += " " + Quoted(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const std::string folder = FolderOf(image);
  if (!CreateProcessA(image.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
    return SetupStatus::kFailed;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  started = true;
  return SetupStatus::kDone;
}

SetupStatus MakeFolderWritableByAllUsers(const std::string& path, unsigned long& error) {
  DWORD code = 0;
  if (!CreateFolders(path, code)) {
    error = code;
    return SetupStatus::kFailed;
  }
  if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    return SetupStatus::kFailed;
  }
  // Built-in Users (S-1-5-32-545): the "modify" rights (read, write,
  // execute, delete), for the folder, its files and its sub-folders, plus
  // deleting what the folder holds: a lock file or journal another account
  // left with an owner-only list (older versions made them so) can then be
  // replaced by the account that runs the driver now.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID users = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0,
                                &users)) {
    error = GetLastError();
    return SetupStatus::kFailed;
  }
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &current, nullptr, &sd);
  PACL updated = nullptr;
  if (rc == ERROR_SUCCESS) {
    EXPLICIT_ACCESSA access = {};
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE | FILE_DELETE_CHILD;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPSTR>(users);
    rc = SetEntriesInAclA(1, &access, current, &updated);
  }
  if (rc == ERROR_SUCCESS) {
    rc = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, updated, nullptr);
  }
  if (updated != nullptr) LocalFree(updated);
  if (sd != nullptr) LocalFree(sd);
  FreeSid(users);
  error = rc;
  return rc == ERROR_SUCCESS ? SetupStatus::kDone : SetupStatus::kFailed;
}

SetupStatus CloseRunningCopies(int64_t waitMs, int& asked) {
  asked = 0;
  const std::string own = OwnFolder();
  std::vector<OwnedHandle> processes;
  // Top-level main windows (a copy with a desktop), then message-only ones
  // (a copy started without one).
  for (const HWND parent : {static_cast<HWND>(nullptr), HWND_MESSAGE}) {
    for (HWND w = FindWindowExA(parent, nullptr, kMainWindowClass, nullptr); w != nullptr;
         w = FindWindowExA(parent, w, kMainWindowClass, nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == 0 || pid == GetCurrentProcessId()) continue;
      // Opened before the request, so that the wait is on this process even
      // once its identifier is given to another.
      OwnedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
      if (!process) process = OwnedHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
      if (!process) continue;
      bool known = false;
      const std::string folder = ProcessFolder(process.get(), known);
      if (known && !SameFolder(folder, own)) continue;
      // Posted: a copy busy with a job answers it once the job is over.
      if (!PostMessageA(w, WM_CLOSE, 0, 0)) continue;
      ++asked;
      if (processes.size() < kMaxWaitHandles) processes.push_back(std::move(process));
    }
  }
  if (processes.empty()) return SetupStatus::kDone;
  std::vector<HANDLE> handles;
  for (const OwnedHandle& p : processes) handles.push_back(p.get());
  const DWORD timeout = static_cast<DWORD>(std::clamp<int64_t>(waitMs, 0, INFINITE - 1));
  const DWORD rc = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, timeout);
  if (rc >= WAIT_OBJECT_0 + handles.size()) return SetupStatus::kFailed;
  NoteClosedCopies();
  return SetupStatus::kDone;
}

}  // namespace kolibra
