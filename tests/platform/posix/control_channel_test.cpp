// The control endpoint on POSIX: its socket file, and clients that misbehave.
#include "platform/posix/posix_control_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "platform/control_channel_cases.h"
#include "platform/platform_test_util.h"

namespace kolibra {
namespace {

// A stream socket and path's address, for bind or connect.
int UnixSocket(const std::string& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  return socket(AF_UNIX, SOCK_STREAM, 0);
}

// A connected client that sends bytes (then shuts its sending if halfClose) and reads on a thread until closed.
std::future<std::string> StartClient(const std::string& path, const std::string& bytes, bool halfClose = false) {
  sockaddr_un addr;
  const int fd = UnixSocket(path, addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  if (halfClose) shutdown(fd, SHUT_WR);
  return std::async(std::launch::async, [fd] {
    std::string reply;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    ssize_t n = 1;
    while (n > 0 && poll(&p, 1, 3000) == 1) {
      n = recv(fd, buf, sizeof buf, 0);
      if (n > 0) reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return n > 0 ? std::string("(open)") : reply;
  });
}

struct Parts { testing::TempDir dir; PosixEventLoop posixLoop; PosixControlChannel posixChannel{posixLoop}; };
struct Served : Parts, testing::ControlRig {
  Served() : ControlRig(posixLoop, posixChannel, dir.path + "/kolibra.sock",
                        [this](const std::string& bytes) { return StartClient(path, bytes); }) {}
};

TEST(PosixControlChannel, SocketIsOwnersOnlyAndOnlyAStaleSocketIsReplaced) {
  Served s;
  sockaddr_un addr;  // a copy that hangs, then ends without removing its socket
  const int deaf = UnixSocket(s.path, addr);
  ASSERT_EQ(bind(deaf, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(deaf, 4), 0);
  EXPECT_EQ(SendControlRequest(s.path, "hello", 300).status, ControlCallStatus::kTimedOut);
  close(deaf);
  EXPECT_EQ(SendControlRequest(s.path, "hello", 300).status, ControlCallStatus::kNoServer);  // stale socket
  // A call the system refuses says why.
  const ControlCallResult under = SendControlRequest(s.path + "/kolibra.sock", "hello", 300);
  EXPECT_EQ(under.status, ControlCallStatus::kFailed);
  EXPECT_EQ(under.cause.Cause(), "Not a directory");
  // Shared with the group that may enter the folder; refused in a folder others may write. socket: its type
  // and mode, 0: no name left.
  const struct { mode_t folder, socket; ControlOpenStatus status; } modes[] = {
      {0700, S_IFSOCK | 0600, ControlOpenStatus::kOpen},  {0770, 0, ControlOpenStatus::kUnsafeFolder},
      {0702, 0, ControlOpenStatus::kUnsafeFolder},        {0750, S_IFSOCK | 0660, ControlOpenStatus::kOpen},
      {0711, S_IFSOCK | 0660, ControlOpenStatus::kOpen},  {0705, S_IFSOCK | 0600, ControlOpenStatus::kOpen},
  };
  struct stat st;
  for (const auto& m : modes) {
    chmod(s.dir.path.c_str(), m.folder);
    EXPECT_EQ(s.Open(), m.status) << std::oct << m.folder;
    EXPECT_EQ(lstat(s.path.c_str(), &st) == 0 ? st.st_mode : 0, m.socket) << std::oct << m.folder;
    s.channel.Close();
  }
  chmod(s.dir.path.c_str(), 0700);
  EXPECT_NE(lstat(s.path.c_str(), &st), 0);

  std::ofstream(s.path) << "not a socket";
  EXPECT_EQ(s.Open(), ControlOpenStatus::kNameTaken);
  EXPECT_EQ(std::ifstream(s.path).peek(), 'n');
  std::remove(s.path.c_str());
  EXPECT_EQ(s.channel.Open(s.dir.path + "/" + std::string(120, 'x'), nullptr, s.options).status,
            ControlOpenStatus::kPathTooLong);
  // A folder that is not there: refused with the system's reason.
  const ControlOpenResult missing = s.channel.Open(s.dir.path + "/gone/kolibra.sock", nullptr, s.options);
  EXPECT_EQ(missing.status, ControlOpenStatus::kUnsafeFolder);
  EXPECT_EQ(missing.cause.Cause(), "No such file or directory");
  EXPECT_FALSE(s.channel.IsOpen());
}

TEST(PosixControlChannel, AnotherUsersEndpointIsCalledOnlyThroughItsGroupFromItsOwnFolder) {
  constexpr uid_t kMe = 1000, kDriver = 998;
  constexpr gid_t kMine = 1000, kService = 997;
  const std::vector<gid_t> member{kMine, kService}, outsider{kMine};
  // facts: socket owner, group and mode, folder owner and mode.
  const struct { ControlEndpointFacts facts; uid_t me; const std::vector<gid_t>* groups; ControlCallStatus status; }
      cases[] = {
      {{kMe, kService, S_IFSOCK | 0600, kMe, S_IFDIR | 0700}, kMe, &outsider, ControlCallStatus::kOk},
      {{kDriver, kService, S_IFSOCK | 0660, kDriver, S_IFDIR | 0750}, kMe, &member, ControlCallStatus::kOk},
      {{kDriver, kService, S_IFSOCK | 0660, kDriver, S_IFDIR | 0750}, kMe, &outsider, ControlCallStatus::kNotOwner},
      {{kDriver, kService, S_IFSOCK | 0600, kDriver, S_IFDIR | 0750}, kMe, &member, ControlCallStatus::kNotOwner},
      {{kDriver, kService, S_IFSOCK | 0640, kDriver, S_IFDIR | 0750}, kMe, &member, ControlCallStatus::kNotOwner},
      {{kDriver, kService, S_IFSOCK | 0660, kDriver, S_IFDIR | 0770}, kMe, &member, ControlCallStatus::kUnsafeFolder},
      {{kDriver, kService, S_IFSOCK | 0660, kDriver, S_IFDIR | 0757}, kMe, &member, ControlCallStatus::kUnsafeFolder},
      {{kDriver, kService, S_IFSOCK | 0660, kMe, S_IFDIR | 0750}, kMe, &member, ControlCallStatus::kUnsafeFolder},
      {{kDriver, kService, S_IFSOCK | 0600, kDriver, S_IFDIR | 0700}, 0, &outsider, ControlCallStatus::kOk},
      {{kDriver, kService, S_IFSOCK | 0600, kDriver, S_IFDIR | 0730}, 0, &outsider, ControlCallStatus::kUnsafeFolder},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckControlEndpoint(c.facts, c.me, *c.groups), c.status) << &c - cases;
}

TEST(PosixControlChannel, HostileClientsAreAnsweredOrDroppedAndNeverHoldTheLoop) {
  Served s;
  testing::ExpectHostileClientsHandled(s, true, [&] { return s.posixChannel.ConnectionCount(); });
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);
  const std::size_t handled = s.seen.size();
  std::vector<std::future<std::string>> half;
  half.push_back(StartClient(s.path, "status", true));
  const int64_t t0 = s.loop.NowMs();
  EXPECT_EQ(s.Pump(half)[0], "");  // a request cut short: closed at once, never handled
  EXPECT_LT(s.loop.NowMs() - t0, 200);
  EXPECT_EQ(s.seen.size(), handled);
  s.channel.Close();
  testing::ExpectOneClientHoldsOnlyItsShare(s);
}

}  // namespace
}  // namespace kolibra
