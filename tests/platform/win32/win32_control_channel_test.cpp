// The control endpoint on Windows: the pipe's name and security, and clients that misbehave.
#include "platform/win32/win32_control_channel.h"

#include <aclapi.h>

#include "platform/control_channel_cases.h"
#include "platform/win32/win32_system.h"
#include "platform/platform_test_util.h"

namespace kolibra {
namespace {

// What a client sending bytes (none: silent) reads: the answer, "" if closed unanswered, "(open)" after 3 s.
std::string RawCall(const std::string& pipe, const std::string& bytes) {
  OwnedHandle h;
  for (int tries = 0; !h && tries < 50; ++tries) {
    h = OwnedHandle(CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
    if (!h && GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(pipe.c_str(), 100);
  }
  if (!h) return "(no pipe " + std::to_string(GetLastError()) + ")";
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(h.get(), &mode, nullptr, nullptr);
  OVERLAPPED wov{};  // no event: the write's end is not waited for
  if (!bytes.empty()) WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &wov);
  OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  std::vector<char> buf(4096);  // every answer is one message shorter than this
  DWORD n = 0;
  ReadFile(h.get(), buf.data(), static_cast<DWORD>(buf.size()), nullptr, &ov);
  const bool answered = WaitForSingleObject(event.get(), 3000) == WAIT_OBJECT_0;
  CancelIo(h.get());
  GetOverlappedResult(h.get(), &ov, &n, TRUE);
  return answered ? std::string(buf.data(), n) : "(open)";
}

struct Parts {
  testing::TempDir dir;
  Win32EventLoop winLoop;
  Win32ControlChannel winChannel{winLoop};
};
struct Served : Parts, testing::ControlRig {
  Served()
      : ControlRig(winLoop, winChannel, dir.path + "\\kolibra.sock", [this](const std::string& bytes) {
          const std::string pipe = ControlPipeName(path);
          return std::async(std::launch::async, [=] { return RawCall(pipe, bytes); });
        }) {}
};

TEST(Win32ControlChannel, PipeIsTheFoldersOwnAndThisUsersAndHostileClientsNeverHoldTheLoop) {
  Served s;
  EXPECT_EQ(s.Call("hello").status, ControlCallStatus::kNoServer);
  // A pipe made first under the name older versions used for this folder
  // (or under any name) does not keep the driver from its own.
  OwnedHandle squatter(CreateNamedPipeA(("\\\\.\\pipe\\KolibraCtl-" + Win32System::FolderKey(s.dir.path)).c_str(),
                                        PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 512, 512, 0, nullptr));
  testing::ExpectHostileClientsHandled(s, false, [&] { return s.winChannel.ConnectionCount(); });
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);
  const std::string pipe = ControlPipeName(s.path);
  EXPECT_EQ(pipe.rfind("\\\\.\\pipe\\KolibraCtl-", 0), 0u) << pipe;
  EXPECT_EQ(pipe.size(), 20u + 32u) << pipe;
  // Every spelling of the folder finds the same pipe, the "\\?\" one as well; another folder none.
  std::string other = s.dir.path;
  std::transform(other.begin(), other.end(), other.begin(), [](char c) { return c == '\\' ? '/' : c; });
  for (const std::string& spelling : {other + "/kolibra.sock", "\\\\?\\" + s.dir.path + "\\kolibra.sock"}) {
    EXPECT_EQ(ControlPipeName(spelling), pipe) << spelling;
  }
  EXPECT_EQ(ControlPipeName(s.dir.path + "\\sub\\kolibra.sock"), "");
  Win32ControlChannel second{s.winLoop};
  EXPECT_EQ(second.Open(s.path, nullptr, s.options).status, ControlOpenStatus::kNameTaken);
  EXPECT_FALSE(second.IsOpen());

  // Owner and only entry of the access list: this user.
  OwnedHandle h(CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(h.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  char user[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(GetCurrentProcessToken(), TokenUser, user, sizeof user, &size));
  const PSID me = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  EXPECT_TRUE(owner != nullptr && EqualSid(owner, me));
  ASSERT_TRUE(dacl != nullptr);
  EXPECT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_TRUE(EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, me));
  LocalFree(sd);
  h.Reset();

  s.channel.Close();
  EXPECT_EQ(ControlPipeName(s.path), "");  // the name file went with the pipe
  EXPECT_EQ(second.Open(s.path, nullptr, s.options).status, ControlOpenStatus::kOpen);  // the name freed
  EXPECT_NE(ControlPipeName(s.path), pipe);
}

}  // namespace
}  // namespace kolibra
