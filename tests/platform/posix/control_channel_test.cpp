// The control endpoint on POSIX: its socket file, and a served channel
// against clients that misbehave.
#include "platform/posix/posix_control_channel.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "platform/control_channel_cases.h"
#include "platform/platform_test_util.h"

namespace kolibra {
namespace {

// A stream socket and the address of path, for bind or connect.
int UnixSocket(const std::string& path, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  return socket(AF_UNIX, SOCK_STREAM, 0);
}

// A listening socket at path that nobody serves; -1 on failure.
int BareListener(const std::string& path) {
  sockaddr_un addr;
  const int fd = UnixSocket(path, addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A client connected to path (before this returns) that has sent bytes and
// reads on a thread of its own until the server closes; halfClose ends its
// sending there.
std::future<std::string> StartClient(const std::string& path, const std::string& bytes, bool halfClose = false) {
  sockaddr_un addr;
  const int fd = UnixSocket(path, addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  if (!bytes.empty()) {
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  if (halfClose) shutdown(fd, SHUT_WR);
  return std::async(std::launch::async, [fd] {
    std::string reply;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n = 1; n > 0;) {
      if (poll(&p, 1, 3000) != 1) {
        reply = "(open)";
        break;
      }
      n = recv(fd, buf, sizeof buf, 0);
      if (n > 0) reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply;
  });
}

struct Parts {
  testing::TempDir dir;
  PosixEventLoop posixLoop;
  PosixControlChannel posixChannel{posixLoop};
};
struct Served : Parts, testing::ControlRig {
  Served()
      : ControlRig(posixLoop, posixChannel, dir.path + "/kolibra.sock",
                   [this](const std::string& bytes) { return StartClient(path, bytes); }) {}
};

TEST(PosixControlChannel, SocketIsOwnersOnlyAndOnlyAStaleSocketIsReplaced) {
  Served s;
  const int stale = BareListener(s.path);  // a copy that ended without removing it
  ASSERT_GE(stale, 0);
  close(stale);
  ASSERT_EQ(s.Open(), ControlOpenStatus::kOpen);
  struct stat st;
  ASSERT_EQ(lstat(s.path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  s.channel.Close();
  EXPECT_NE(lstat(s.path.c_str(), &st), 0);

  std::ofstream(s.path) << "not a socket";
  EXPECT_EQ(s.Open(), ControlOpenStatus::kNameTaken);
  EXPECT_EQ(std::ifstream(s.path).peek(), 'n');
  std::remove(s.path.c_str());
  // The folder's mode decides the socket's: shared with the group that may
  // enter the folder, never with a folder others may write.
  const struct {
    mode_t folder;
    ControlOpenStatus status;
    mode_t socket;
  } modes[] = {
      {0750, ControlOpenStatus::kOpen, 0660},
      {0711, ControlOpenStatus::kOpen, 0660},
      {0705, ControlOpenStatus::kOpen, 0600},
      {0770, ControlOpenStatus::kUnsafeFolder, 0},
      {0702, ControlOpenStatus::kUnsafeFolder, 0},
  };
  for (const auto& m : modes) {
    chmod(s.dir.path.c_str(), m.folder);
    EXPECT_EQ(s.Open(), m.status) << std::oct << m.folder;
    if (m.status == ControlOpenStatus::kOpen) {
      EXPECT_EQ(lstat(s.path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, m.socket) << std::oct << m.folder;
    }
    s.channel.Close();
  }
  chmod(s.dir.path.c_str(), 0700);
  EXPECT_EQ(s.channel.Open(s.dir.path + "/" + std::string(120, 'x'), nullptr, s.options),
            ControlOpenStatus::kPathTooLong);
  EXPECT_FALSE(s.channel.IsOpen());
}

TEST(PosixControlChannel, AnotherUsersEndpointIsCalledOnlyThroughItsGroupFromItsOwnFolder) {
  constexpr uid_t kMe = 1000, kDriver = 998;
  constexpr gid_t kMine = 1000, kService = 997;
  const std::vector<gid_t> member{kMine, kService}, outsider{kMine};
  const struct {
    uid_t socketUid;
    mode_t socketMode;
    uid_t folderUid;
    mode_t folderMode;
    uid_t me;
    const std::vector<gid_t>* groups;
    ControlCallStatus status;
  } cases[] = {
      {kMe, 0600, kMe, 0700, kMe, &outsider, ControlCallStatus::kOk},
      {kDriver, 0660, kDriver, 0750, kMe, &member, ControlCallStatus::kOk},
      {kDriver, 0660, kDriver, 0750, kMe, &outsider, ControlCallStatus::kNotOwner},
      {kDriver, 0600, kDriver, 0750, kMe, &member, ControlCallStatus::kNotOwner},
      {kDriver, 0640, kDriver, 0750, kMe, &member, ControlCallStatus::kNotOwner},
      {kDriver, 0660, kDriver, 0770, kMe, &member, ControlCallStatus::kUnsafeFolder},
      {kDriver, 0660, kDriver, 0757, kMe, &member, ControlCallStatus::kUnsafeFolder},
      {kDriver, 0660, kMe, 0750, kMe, &member, ControlCallStatus::kUnsafeFolder},
      {kDriver, 0600, kDriver, 0700, 0, &outsider, ControlCallStatus::kOk},
      {kDriver, 0600, kDriver, 0730, 0, &outsider, ControlCallStatus::kUnsafeFolder},
  };
  for (const auto& c : cases) {
    const ControlEndpointFacts facts{c.socketUid, kService, S_IFSOCK | c.socketMode, c.folderUid,
                                     S_IFDIR | c.folderMode};
    EXPECT_EQ(CheckControlEndpoint(facts, c.me, *c.groups), c.status)
        << c.socketUid << " " << std::oct << c.socketMode << " " << std::dec << c.folderUid << " "
        << std::oct << c.folderMode << " " << std::dec << c.me << " " << c.groups->size();
  }
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
  const int deaf = BareListener(s.path);
  EXPECT_EQ(SendControlRequest(s.path, "hello", 300).status, ControlCallStatus::kTimedOut);
  close(deaf);
  EXPECT_EQ(SendControlRequest(s.path, "hello", 300).status, ControlCallStatus::kNoServer);
}

}  // namespace
}  // namespace kolibra
