#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/posix_tcp_socket.h"
#include "platform_test_util.h"

namespace kolibra {
namespace {

using Log = std::vector<std::string>;

// A loopback socket on a free port; bound but not listening, it refuses.
int Bound(bool listening, int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  bind(fd, reinterpret_cast<sockaddr*>(&sa), len);
  if (listening) listen(fd, 4);
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  *port = ntohs(sa.sin_port);
  return fd;
}

// The socket under test with its events logged; the test plays the ECR.
class TcpSocketTest : public ::testing::Test {
 protected:
  TcpSocketTest() {
    SocketEvents events;
    events.onConnected = [this] { log_.push_back("connected"); };
    events.onDataArrival = [this](std::size_t n) {
      log_.push_back("data " + std::to_string(n));
      received_ += sock_.GetData();
    };
    events.onError = [this](int number, const std::string&, int status) {
      log_.push_back("error " + std::to_string(number) + " " + std::to_string(status));
    };
    sock_.SetEvents(events);
  }
  void Connect(int port) {
    sock_.SetRemoteHost("127.0.0.1");
    sock_.SetRemotePort(port);
    sock_.Connect();
    EXPECT_TRUE(log_.empty());  // events come only inside Wait
    EXPECT_TRUE(testing::WaitFor(loop_, [&] { return !log_.empty(); }));
  }

  PosixEventLoop loop_;
  PosixTcpSocket sock_{loop_};
  Log log_;
  std::string received_;
};

TEST_F(TcpSocketTest, ConnectsExchangesBytesAndReportsPeerClose) {
  int port = 0;
  const int listener = Bound(true, &port);
  Connect(port);
  EXPECT_EQ(log_, Log{"connected"});
  const int peer = accept(listener, nullptr, nullptr);

  const std::string cmd("1000H1R\x13\0\xff", 10);
  ASSERT_TRUE(sock_.Send(cmd));
  std::string got;
  char buf[64];
  for (pollfd p{peer, POLLIN, 0}; got.size() < cmd.size() && poll(&p, 1, 2000) > 0;) {
    const ssize_t n = recv(peer, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, cmd);

  // The peer sends and closes: its data first, then the abort, then silence.
  ASSERT_EQ(send(peer, "K\x13\x02", 3, 0), 3);
  ASSERT_TRUE(testing::WaitFor(loop_, [&] { return received_.size() >= 3; }));
  EXPECT_EQ(received_, "K\x13\x02");
  close(peer);
  close(listener);
  ASSERT_TRUE(testing::WaitFor(loop_, [&] { return log_.size() == 3; }));
  EXPECT_EQ(log_, (Log{"connected", "data 3", "error 10053 7"}));
  EXPECT_EQ(sock_.State(), kSocketError);
  EXPECT_FALSE(sock_.Send("x"));
  loop_.Wait(loop_.NowMs() + 100);  // the dead connection is not watched
  EXPECT_EQ(log_.size(), 3u);
}

TEST_F(TcpSocketTest, RefusedConnectIsError10061) {
  int port = 0;
  const int refusing = Bound(false, &port);
  Connect(port);
  EXPECT_EQ(log_, Log{"error 10061 6"});
  close(refusing);
}

}  // namespace
}  // namespace kolibra
