#include "platform/setup_actions.h"

#include <windows.h>

#include <aclapi.h>

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

}  // namespace

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
  // execute, delete), for the folder, its files and its sub-folders.
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
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
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
  return rc < WAIT_OBJECT_0 + handles.size() ? SetupStatus::kDone : SetupStatus::kFailed;
}

}  // namespace kolibra
