#include "platform/win32/win32_control_channel.h"

#include <aclapi.h>
// RtlGenRandom, after windows.h.
#include <ntsecapi.h>

#include <cstdio>
#include <utility>

#include "platform/win32/win32_file_system.h"

namespace kolibra {
namespace {

constexpr int64_t kListenRetryMs = 1000;
constexpr DWORD kInBufferBytes = 4096;

constexpr const char kPipePrefix[] = "\\\\.\\pipe\\KolibraCtl-";
constexpr std::size_t kEndpointFileLimit = 256;

// A pipe name nobody can guess: 128 random bits.
std::string RandomPipeName() {
  unsigned char bytes[16] = {};
  if (!RtlGenRandom(bytes, sizeof bytes)) return "";
  static const char kDigits[] = "0123456789abcdef";
  std::string name = kPipePrefix;
  for (unsigned char b : bytes) {
    name += kDigits[b >> 4];
    name += kDigits[b & 15];
  }
  return name;
}

// Writes the pipe's name at path (a new file, renamed into place).
bool WriteEndpointFile(const std::string& path, const std::string& pipe) {
  Win32FileSystem fs;
  const std::string temporary = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  std::FILE* f = fs.CreateFresh(temporary).value();
  if (f == nullptr) return false;
  const std::string text = pipe + "\r\n";
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && fs.FlushToDisk(f).ok();
  if (std::fclose(f) != 0 || !written || !fs.ReplaceWith(temporary, path).ok()) {
    fs.Remove(temporary);
    return false;
  }
  return true;
}

// The TOKEN_USER of this process; empty when the token cannot be read.
std::vector<unsigned char> CurrentUser() {
  std::vector<unsigned char> buf;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buf;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buf.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buf.data(), size, &size)) buf.clear();
  CloseHandle(token);
  return buf;
}

PSID UserSid(std::vector<unsigned char>& tokenUser) {
  return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

// Waits for an overlapped operation until deadline (GetTickCount64 scale);
// a late one is cancelled. True with its byte count when it succeeded;
// error is its Windows error, WAIT_TIMEOUT when it was late.
bool FinishOverlapped(HANDLE h, OVERLAPPED& ov, ULONGLONG deadline, DWORD& bytes, DWORD& error) {
  const ULONGLONG now = GetTickCount64();
  const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  if (WaitForSingleObject(ov.hEvent, left) != WAIT_OBJECT_0) {
    CancelIo(h);
    GetOverlappedResult(h, &ov, &bytes, TRUE);
    error = WAIT_TIMEOUT;
    return false;
  }
  if (GetOverlappedResult(h, &ov, &bytes, FALSE)) return true;
  error = GetLastError();
  return false;
}

}  // namespace

std::string ControlPipeName(const std::string& path) {
  Win32FileSystem fs;
  const ReadResult read = fs.ReadRegularFile(path, kEndpointFileLimit);
  if (read.status != ReadStatus::kOk) return "";
  std::string name = read.bytes.substr(0, read.bytes.find_first_of("\r\n"));
  if (name.rfind(kPipePrefix, 0) != 0 || name.size() != sizeof kPipePrefix - 1 + 32 ||
      name.find_first_not_of("0123456789abcdef", sizeof kPipePrefix - 1) != std::string::npos) {
    return "";
  }
  return name;
}

std::string ControlEndpointName(const std::string& path) {
  const std::string pipe = ControlPipeName(path);
  return pipe.empty() ? "la pipe di " + path : pipe;
}

Win32ControlChannel::Win32ControlChannel(Win32EventLoop& loop) : ControlChannelCore(loop), loop_(loop) {}

Win32ControlChannel::~Win32ControlChannel() { Close(); }

ControlOpenResult Win32ControlChannel::Open(const std::string& path, Handler handler,
                                            const ControlChannelOptions& options) {
  Close();
  // Only this user may open the pipe, and the pipe names it as its owner,
  // which the client checks.
  tokenUser_ = CurrentUser();
  if (tokenUser_.empty()) return {ControlOpenStatus::kFailed, LastOsError()};
  const PSID sid = UserSid(tokenUser_);
  acl_.assign(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid), 0);
  auto* acl = reinterpret_cast<ACL*>(acl_.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, sid) ||
      !InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE) || !SetSecurityDescriptorOwner(&sd_, sid, FALSE)) {
    return {ControlOpenStatus::kFailed, LastOsError()};
  }
  // The pipe the file at path names, if one still listens: another copy
  // serves the folder.
  const std::string current = ControlPipeName(path);
  if (!current.empty() && (WaitNamedPipeA(current.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND)) {
    return {ControlOpenStatus::kNameTaken, Status::Ok()};
  }
  // A new random name each time, found by clients in the file at path
  // (whatever spelling of the folder they are given): another user cannot
  // make the pipe first.
  pipeName_ = RandomPipeName();
  if (pipeName_.empty()) return {ControlOpenStatus::kFailed, LastOsError()};
  Begin(std::move(handler), options);
  // The first instance must be the first of its name: a pipe another
  // program made would take this one's requests. The flag that says so is
  // not kept by every system (Wine), so the name is looked up first too.
  if (WaitNamedPipeA(pipeName_.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    handler_ = nullptr;
    return {ControlOpenStatus::kNameTaken, Status::Ok()};
  }
  if (!Listen(true)) {
    const DWORD err = GetLastError();
    handler_ = nullptr;
    const bool taken = err == ERROR_ACCESS_DENIED || err == ERROR_PIPE_BUSY;
    return {taken ? ControlOpenStatus::kNameTaken : ControlOpenStatus::kFailed, OsError(static_cast<int>(err))};
  }
  if (!WriteEndpointFile(path, pipeName_)) {
    const Status cause = LastOsError();
    handler_ = nullptr;
    Close();
    return {ControlOpenStatus::kFailed, cause};
  }
  endpointPath_ = path;
  open_ = true;
  return {ControlOpenStatus::kOpen, Status::Ok()};
}

bool Win32ControlChannel::Listen(bool first) {
  SECURITY_ATTRIBUTES sa{sizeof sa, &sd_, FALSE};
  auto inst = std::make_unique<Instance>();
  const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  // Messages: the client knows an answer is whole without waiting for the
  // pipe to close.
  const DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
  inst->pipe = OwnedHandle(CreateNamedPipeA(pipeName_.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                            static_cast<DWORD>(kMaxControlReplyBytes), kInBufferBytes, 0, &sa));
  if (!inst->pipe) return false;
  inst->event = OwnedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!inst->event) return false;
  inst->ov.hEvent = inst->event.get();
  if (ConnectNamedPipe(inst->pipe.get(), &inst->ov)) {
    inst->pending = true;
  } else {
    const DWORD err = GetLastError();
    if (err == ERROR_IO_PENDING) {
      inst->pending = true;
    } else if (err == ERROR_PIPE_CONNECTED) {
      SetEvent(inst->event.get());  // a client came between create and connect
    } else {
      SetLastError(err);
      return false;
    }
  }
  inst->watch = loop_.WatchHandle(inst->event.get(), [this] { OnListenerSignaled(); });
  if (inst->watch == 0) {
    Settle(*inst);
    return false;
  }
  listener_ = std::move(inst);
  return true;
}

void Win32ControlChannel::OnListenerSignaled() {
  if (!listener_) return;
  std::unique_ptr<Instance> inst = std::move(listener_);
  loop_.Unwatch(inst->watch);
  inst->watch = 0;
  DWORD bytes = 0;
  const bool connected = !inst->pending || GetOverlappedResult(inst->pipe.get(), &inst->ov, &bytes, FALSE);
  inst->pending = false;
  ResetEvent(inst->event.get());
  // The next client's instance before this one is served.
  if (!Listen(false)) listenRetryAt_ = loop_.NowMs() + kListenRetryMs;
  if (connected) Accepted(std::move(inst));
  ArmDeadlineTimer();
}

void Win32ControlChannel::Accepted(std::unique_ptr<Instance> inst) {
  // The client's process, for the channel's per-client limit.
  ULONG pid = 0;
  const std::string client =
      GetNamedPipeClientProcessId(inst->pipe.get(), &pid) ? "process " + std::to_string(pid) : std::string();
  const bool busy = Full(client);
  const ConnId id = AddConn(client);
  inst->watch = loop_.WatchHandle(inst->event.get(), [this, id] { OnConnSignaled(id); });
  if (inst->watch == 0) {
    Drop(id);  // closed: the client sees the pipe break
    return;
  }
  pipes_.emplace(id, std::move(inst));
  if (busy) {
    StartReply(id, options_.busyReply);
  } else {
    StartRead(id);
  }
}

void Win32ControlChannel::StartRead(ConnId id) {
  Instance& p = *pipes_.at(id);
  ResetEvent(p.event.get());
  if (ReadFile(p.pipe.get(), p.buf, sizeof p.buf, nullptr, &p.ov) || GetLastError() == ERROR_IO_PENDING ||
      GetLastError() == ERROR_MORE_DATA) {
    p.pending = true;
    return;
  }
  Drop(id);
}

void Win32ControlChannel::OnConnSignaled(ConnId id) {
  Conn* c = Find(id);
  auto it = pipes_.find(id);
  if (c == nullptr || it == pipes_.end()) return;
  Instance& p = *it->second;
  DWORD bytes = 0;
  const bool ok = GetOverlappedResult(p.pipe.get(), &p.ov, &bytes, FALSE) || GetLastError() == ERROR_MORE_DATA;
  p.pending = false;
  ResetEvent(p.event.get());
  if (!ok) {
    // Broken off, or the client closed after its answer.
    Drop(id);
    return;
  }
  switch (c->phase) {
    case Phase::kReading:
      if (TakeRequestBytes(id, std::string_view(p.buf, bytes))) StartRead(id);
      return;
    case Phase::kWriting:
      // The answer is in the pipe: closing now could lose it, so the pipe
      // stays until the client closes its end (or its time runs out).
      c->phase = Phase::kDraining;
      c->deadline = loop_.NowMs() + options_.clientTimeoutMs;
      ArmDeadlineTimer();
      StartRead(id);
      return;
    case Phase::kDraining:
      StartRead(id);
      return;
    case Phase::kQueued:
      return;
  }
}

void Win32ControlChannel::WriteReply(ConnId id) {
  const std::string& out = Find(id)->out;
  if (out.empty()) {
    Drop(id);
    return;
  }
  Instance& p = *pipes_.at(id);
  ResetEvent(p.event.get());
  if (WriteFile(p.pipe.get(), out.data(), static_cast<DWORD>(out.size()), nullptr, &p.ov) ||
      GetLastError() == ERROR_IO_PENDING) {
    p.pending = true;
    return;
  }
  Drop(id);
}

void Win32ControlChannel::Settle(Instance& inst) {
  if (inst.pending && inst.pipe) {
    CancelIo(inst.pipe.get());
    DWORD bytes = 0;
    GetOverlappedResult(inst.pipe.get(), &inst.ov, &bytes, TRUE);
  }
  inst.pending = false;
  if (inst.watch != 0) loop_.Unwatch(inst.watch);
  inst.watch = 0;
}

void Win32ControlChannel::ReleaseConn(ConnId id) {
  auto it = pipes_.find(id);
  if (it == pipes_.end()) return;
  Settle(*it->second);
  pipes_.erase(it);
}

void Win32ControlChannel::Close() {
  DropAll();
  if (listener_) Settle(*listener_);
  listener_.reset();
  // The name file goes with the pipe, unless another copy wrote it since.
  if (!endpointPath_.empty() && ControlPipeName(endpointPath_) == pipeName_) DeleteFileA(endpointPath_.c_str());
  endpointPath_.clear();
  listenRetryAt_ = 0;
  open_ = false;
}

int64_t Win32ControlChannel::RetryAt() const {
  return open_ && !listener_ ? listenRetryAt_ : ControlChannelCore::RetryAt();
}

void Win32ControlChannel::Retry(int64_t now) {
  if (open_ && !listener_ && now >= listenRetryAt_ && !Listen(false)) listenRetryAt_ = now + kListenRetryMs;
}

ControlCallResult SendControlRequest(const std::string& path, std::string_view line, int64_t timeoutMs) {
  ControlCallResult result;
  const std::string name = ControlPipeName(path);
  if (name.empty()) {
    result.status = ControlCallStatus::kNoServer;
    return result;
  }
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
  OwnedHandle pipe;
  for (;;) {
    // Identification only: the server may learn who calls, never act as it.
    pipe = OwnedHandle(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                   nullptr));
    if (pipe) break;
    const DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND) {
      result.status = ControlCallStatus::kNoServer;
      return result;
    }
    if (err == ERROR_ACCESS_DENIED) {
      result.status = ControlCallStatus::kNotOwner;
      return result;
    }
    const ULONGLONG now = GetTickCount64();
    if (err != ERROR_PIPE_BUSY || now >= deadline) {
      result.status = err == ERROR_PIPE_BUSY ? ControlCallStatus::kTimedOut : ControlCallStatus::kFailed;
      result.cause = OsError(static_cast<int>(err));
      return result;
    }
    // Every instance is taken: wait for one, then try again.
    const ULONGLONG left = deadline - now;
    WaitNamedPipeA(name.c_str(), static_cast<DWORD>(left > 1000 ? 1000 : left));
  }
  // A pipe this user did not make is not its driver's.
  std::vector<unsigned char> me = CurrentUser();
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD got = GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                    nullptr, nullptr, &sd);
  const bool mine = got == ERROR_SUCCESS && owner != nullptr && !me.empty() && EqualSid(owner, UserSid(me));
  if (sd != nullptr) LocalFree(sd);
  if (!mine) {
    result.status = got == ERROR_SUCCESS ? ControlCallStatus::kNotOwner : ControlCallStatus::kFailed;
    if (got != ERROR_SUCCESS) result.cause = OsError(static_cast<int>(got));
    return result;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event || !SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
    result.cause = LastOsError();
    return result;
  }
  OVERLAPPED ov{};
  ov.hEvent = event.get();

  std::string request(line);
  request += '\n';
  DWORD bytes = 0, error = 0;
  if (!WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), nullptr, &ov) &&
      GetLastError() != ERROR_IO_PENDING) {
    result.cause = LastOsError();
    return result;
  }
  if (!FinishOverlapped(pipe.get(), ov, deadline, bytes, error)) {
    if (error == WAIT_TIMEOUT) result.status = ControlCallStatus::kTimedOut;
    // The server may answer and close before taking the whole request: its
    // answer is still read below.
    if (error == WAIT_TIMEOUT) return result;
  }
  std::string reply;
  ControlCallStatus status = ControlCallStatus::kOk;
  char buf[4096];
  for (;;) {
    ResetEvent(event.get());
    if (!ReadFile(pipe.get(), buf, sizeof buf, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING &&
        GetLastError() != ERROR_MORE_DATA) {
      status = reply.empty() ? ControlCallStatus::kFailed : ControlCallStatus::kOk;
      result.cause = LastOsError();
      break;
    }
    bytes = 0;
    const bool whole = FinishOverlapped(pipe.get(), ov, deadline, bytes, error);
    reply.append(buf, bytes);
    if (reply.size() > kMaxControlReplyBytes) {
      status = ControlCallStatus::kFailed;
      break;
    }
    if (whole) break;  // the whole message
    if (error == ERROR_MORE_DATA) continue;
    status = error == WAIT_TIMEOUT ? ControlCallStatus::kTimedOut : ControlCallStatus::kFailed;
    break;
  }
  // A connection closed before any answer carries none.
  if (status == ControlCallStatus::kOk && reply.empty()) status = ControlCallStatus::kFailed;
  result.status = status;
  result.reply = std::move(reply);
  return result;
}

}  // namespace kolibra
