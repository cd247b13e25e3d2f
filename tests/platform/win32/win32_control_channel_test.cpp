// The control endpoint on Windows: the pipe's name and security, and a
// served channel against clients that misbehave, each client on a thread of
// its own while this one runs the loop.
#include "platform/win32/win32_control_channel.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "win32_test_util.h"

namespace kolibra {
namespace {

// What a client that sends bytes (and then, unless keepSending, waits)
// reads back: the answer, "" when the server closed without one, "(open)"
// when nothing came within waitMs.
std::string RawCall(const std::string& pipe, const std::string& bytes, DWORD waitMs) {
  OwnedHandle h;
  for (int tries = 0; !h && tries < 50; ++tries) {
    h = OwnedHandle(CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
    if (!h && GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(pipe.c_str(), 100);
  }
  if (!h) return "(no pipe " + std::to_string(GetLastError()) + ")";
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(h.get(), &mode, nullptr, nullptr);
  OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED wov{};
  OwnedHandle wevent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  wov.hEvent = wevent.get();
  if (!bytes.empty()) WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &wov);
  std::string reply;
  std::vector<char> buf(100000);
  for (;;) {
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    ResetEvent(event.get());
    DWORD n = 0;
    ReadFile(h.get(), buf.data(), static_cast<DWORD>(buf.size()), nullptr, &ov);
    if (WaitForSingleObject(event.get(), waitMs) != WAIT_OBJECT_0) {
      CancelIo(h.get());
      GetOverlappedResult(h.get(), &ov, &n, TRUE);
      return "(open)";
    }
    const bool ok = GetOverlappedResult(h.get(), &ov, &n, FALSE);
    reply.append(buf.data(), n);
    if (ok || GetLastError() != ERROR_MORE_DATA) break;
  }
  CancelIo(h.get());
  return reply;
}

struct Served {
  testing::TempDir dir;
  Win32EventLoop loop;
  Win32ControlChannel channel{loop};
  std::string path = dir.path + "\\kolibra.sock";
  std::string pipe = ControlPipeName(path);
  std::vector<std::string> seen;
  int inside = 0, mostInside = 0;
  ControlChannelOptions options;

  Served() {
    options.maxRequestBytes = 64;
    options.clientTimeoutMs = 300;
    options.maxConnections = 4;
    options.tooLongReply = "LONG\n";
    options.busyReply = "BUSY\n";
  }
  ControlOpenStatus Open() {
    return channel.Open(path, [this](std::string_view line) -> std::string {
      seen.emplace_back(line);
      mostInside = std::max(mostInside, ++inside);
      // A handler that waits lets other requests arrive meanwhile.
      for (const int64_t end = loop.NowMs() + (line == "slow" ? 400 : 0); loop.NowMs() < end;) loop.Wait(end);
      --inside;
      if (line == "silence") return "";
      if (line == "big") return std::string(20000, 'b') + "\n";
      return "ok " + std::string(line) + "\n";
    }, options);
  }
  // Runs the loop until every call has ended; their results in order.
  template <typename T>
  std::vector<T> Pump(std::vector<std::future<T>>& calls) {
    const auto ready = [&] {
      for (auto& c : calls) {
        if (c.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) return false;
      }
      return true;
    };
    const int64_t end = loop.NowMs() + 10000;
    while (!ready() && loop.NowMs() < end) loop.Wait(loop.NowMs() + 10);
    std::vector<T> results;
    for (auto& c : calls) results.push_back(c.get());
    return results;
  }
  std::string Raw(const std::string& bytes, DWORD waitMs = 3000) {
    std::vector<std::future<std::string>> calls;
    calls.push_back(std::async(std::launch::async, [=, this] { return RawCall(pipe, bytes, waitMs); }));
    return Pump(calls)[0];
  }
  ControlCallResult Call(const std::string& line, int64_t timeoutMs = 3000) {
    std::vector<std::future<ControlCallResult>> calls;
    calls.push_back(std::async(std::launch::async, [=, this] { return SendControlRequest(path, line, timeoutMs); }));
    return Pump(calls)[0];
  }
};

TEST(Win32ControlChannel, PipeIsTheFoldersOwnAndOnlyThisUsersAndOneChannelHoldsIt) {
  Served s;
  // Every spelling of the folder names the same pipe; another folder another.
  std::string other = s.dir.path;
  std::transform(other.begin(), other.end(), other.begin(), [](char c) { return c == '\\' ? '/' : c; });
  EXPECT_EQ(ControlPipeName(other + "/kolibra.sock"), s.pipe);
  EXPECT_NE(ControlPipeName(s.dir.path + "\\sub\\kolibra.sock"), s.pipe);
  EXPECT_EQ(s.pipe.rfind("\\\\.\\pipe\\KolibraCtl-", 0), 0u) << s.pipe;

  EXPECT_EQ(s.Call("hello").status, ControlCallStatus::kNoServer);
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);
  Win32ControlChannel second{s.loop};
  EXPECT_EQ(second.Open(s.path, nullptr, s.options), ControlOpenStatus::kNameTaken);
  EXPECT_FALSE(second.IsOpen());

  // Owner and only entry of the access list: this user.
  OwnedHandle h(CreateFileA(s.pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(h);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(h.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  char user[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  CloseHandle(token);
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

  EXPECT_EQ(s.Call("hello").reply, "ok hello\n");
  s.channel.Close();
  EXPECT_EQ(s.Call("hello").status, ControlCallStatus::kNoServer);
  // Closed, the name is free for the next copy.
  EXPECT_EQ(second.Open(s.path, nullptr, s.options), ControlOpenStatus::kOpen);
}

TEST(Win32ControlChannel, HostileClientsAreAnsweredOrDroppedAndNeverHoldTheLoop) {
  Served s;
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);

  EXPECT_EQ(s.Raw(std::string(200, 'a') + "\n"), "LONG\n");
  EXPECT_EQ(s.Raw(std::string(100000, 'a')), "LONG\n");
  EXPECT_EQ(s.Raw(std::string("a\0b\r\n", 5)), std::string("ok a\0b\n", 7));
  EXPECT_EQ(s.Raw("silence\n"), "");
  // An answer longer than a read comes whole; a request in pieces is one.
  const ControlCallResult big = s.Call("big");
  EXPECT_EQ(big.status, ControlCallStatus::kOk);
  EXPECT_EQ(big.reply.size(), 20001u);
  EXPECT_EQ(s.seen, (std::vector<std::string>{std::string("a\0b", 3), "silence", "big"}));

  // A silent client is dropped after the time-out; others are served meanwhile.
  std::vector<std::future<std::string>> calls;
  const int64_t t0 = s.loop.NowMs();
  calls.push_back(std::async(std::launch::async, [&] { return RawCall(s.pipe, "", 3000); }));
  calls.push_back(std::async(std::launch::async, [&] { return RawCall(s.pipe, "quick\n", 3000); }));
  const std::vector<std::string> quiet = s.Pump(calls);
  EXPECT_EQ(quiet[0], "");
  EXPECT_EQ(quiet[1], "ok quick\n");
  EXPECT_GE(s.loop.NowMs() - t0, 250);

  // Beyond four at once: answered busy. A waiting handler takes the requests
  // that come meanwhile one after the other, never one inside the other.
  calls.clear();
  calls.push_back(std::async(std::launch::async, [&] { return RawCall(s.pipe, "slow\n", 3000); }));
  Sleep(50);
  for (int i = 0; i < 9; ++i) {
    calls.push_back(std::async(std::launch::async, [&, i] { return RawCall(s.pipe, "r" + std::to_string(i) + "\n", 3000); }));
  }
  int ok = 0, busy = 0;
  for (const std::string& reply : s.Pump(calls)) {
    ok += reply.rfind("ok ", 0) == 0;
    busy += reply == "BUSY\n";
  }
  EXPECT_EQ(ok + busy, 10);
  EXPECT_GE(ok, 4);
  EXPECT_GE(busy, 1);
  EXPECT_EQ(s.mostInside, 1);
  s.loop.Wait(s.loop.NowMs() + 50);
  EXPECT_EQ(s.channel.ConnectionCount(), 0u);

  // A driver that does not answer in time.
  s.options.clientTimeoutMs = 5000;
  s.channel.Close();
  ASSERT_EQ(s.channel.Open(s.path, [&](std::string_view) {
    s.loop.Wait(s.loop.NowMs() + 600);
    return std::string("late\n");
  }, s.options), ControlOpenStatus::kOpen);
  EXPECT_EQ(s.Call("hello", 200).status, ControlCallStatus::kTimedOut);
}

}  // namespace
}  // namespace kolibra
