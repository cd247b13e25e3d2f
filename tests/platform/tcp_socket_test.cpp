#include <arpa/inet.h>
#include <netinet/in.h>
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

// A loopback listener plays the ECR; the socket's events are logged.
class TcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = Bound(true);
    events_.onConnected = [this] { log_.push_back("connected"); };
    events_.onDataArrival = [this](std::size_t n) {
      log_.push_back("data " + std::to_string(n));
      received_ += sock_.GetData();
    };
    events_.onError = [this](int number, const std::string& text, int status) {
      log_.push_back("error " + std::to_string(number) + " " + std::to_string(status));
      lastError_ = text;
    };
    sock_.SetEvents(events_);
  }
  void TearDown() override {
    sock_.Close();
    if (peer_ >= 0) close(peer_);
    close(listener_);
  }
  // A loopback socket; a bound one that does not listen refuses connections.
  static int Bound(bool listening) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (listening) listen(fd, 4);
    return fd;
  }
  static int PortOf(int fd) {
    sockaddr_in sa = {};
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
  }
  template <typename Cond>
  bool WaitFor(Cond cond) { return testing::WaitFor(loop_, cond); }
  void Start(const std::string& host, int port) {
    sock_.SetRemoteHost(host);
    sock_.SetRemotePort(port);
    sock_.Connect();
  }
  void ConnectAndAccept() {
    Start("127.0.0.1", PortOf(listener_));
    ASSERT_TRUE(WaitFor([&] { return sock_.State() == kSocketConnected; }));
    peer_ = accept(listener_, nullptr, nullptr);
    ASSERT_GE(peer_, 0);
  }
  std::string PeerReads(std::size_t want) {
    std::string got;
    const int64_t end = loop_.NowMs() + 3000;
    while (got.size() < want && loop_.NowMs() < end) {
      loop_.Wait(loop_.NowMs());  // lets queued bytes go out
      struct pollfd p = {peer_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      char buf[65536];
      const ssize_t n = recv(peer_, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

  PosixEventLoop loop_;
  PosixTcpSocket sock_{loop_};
  SocketEvents events_;
  int listener_ = -1;
  int peer_ = -1;
  Log log_;
  std::string lastError_;
  std::string received_;
};

TEST_F(TcpSocketTest, ConnectsAndExchangesBytes) {
  EXPECT_FALSE(sock_.Send("x"));  // not connected
  Start("127.0.0.1", PortOf(listener_));
  EXPECT_EQ(sock_.State(), kSocketConnecting);
  EXPECT_TRUE(log_.empty());  // events come only inside Wait
  ASSERT_TRUE(WaitFor([&] { return !log_.empty(); }));
  EXPECT_EQ(log_, Log{"connected"});
  peer_ = accept(listener_, nullptr, nullptr);

  const std::string cmd("1000H1R\x13\0\xff", 10);
  ASSERT_TRUE(sock_.Send(cmd));
  EXPECT_EQ(PeerReads(cmd.size()), cmd);
  ASSERT_EQ(send(peer_, "K\x13\x02", 3, 0), 3);
  ASSERT_TRUE(WaitFor([&] { return received_.size() >= 3; }));
  EXPECT_EQ(received_, "K\x13\x02");
  EXPECT_EQ(log_.back(), "data 3");

  // Bytes the handler leaves unfetched accumulate for GetData.
  events_.onDataArrival = [this](std::size_t n) { log_.push_back("data " + std::to_string(n)); };
  sock_.SetEvents(events_);
  ASSERT_EQ(send(peer_, "AB", 2, 0), 2);
  ASSERT_TRUE(WaitFor([&] { return log_.back() == "data 2"; }));
  ASSERT_EQ(send(peer_, "CD", 2, 0), 2);
  ASSERT_TRUE(WaitFor([&] { return log_.back() == "data 4"; }));
  EXPECT_EQ(sock_.GetData(), "ABCD");
}

TEST_F(TcpSocketTest, PeerCloseAfterDataGivesDataThenAbort) {
  ConnectAndAccept();
  ASSERT_EQ(send(peer_, "bye", 3, 0), 3);
  close(peer_);
  peer_ = -1;
  const int64_t t0 = loop_.NowMs();
  ASSERT_TRUE(WaitFor([&] { return log_.size() == 3; }));
  EXPECT_LT(loop_.NowMs() - t0, 500);
  EXPECT_EQ(received_, "bye");
  EXPECT_EQ(log_, (Log{"connected", "data 3", "error 10053 7"}));
  EXPECT_EQ(lastError_, "Connection closed by peer");
  EXPECT_EQ(sock_.State(), kSocketError);
  EXPECT_FALSE(sock_.Send("x"));
  loop_.Wait(loop_.NowMs() + 100);  // the dead connection is not watched
  EXPECT_EQ(log_.size(), 3u);
  sock_.Close();
  EXPECT_EQ(sock_.State(), kSocketClosed);
}

TEST_F(TcpSocketTest, ConnectOutcomesArriveAsEventsInsideWait) {
  const int refusing = Bound(false);
  const int port = PortOf(listener_);
  struct Case {
    std::string host;
    int port;
    std::string event;
  } cases[] = {
      {"127.0.0.1", PortOf(refusing), "error 10061 6"},
      {"127.000.000.001", port, "connected"},  // leading zeros are decimal
      {"ecr.example", port, "error 11001 6"},
      {"", port, "error 11001 6"},
      {"127.0.0.1.5", port, "error 11001 6"},
      {"127.0.0.256", port, "error 11001 6"},
      {"127.0.0.1", 0, "error " + std::to_string(EINVAL) + " 6"},
  };
  for (const Case& c : cases) {
    log_.clear();
    sock_.Close();
    Start(c.host, c.port);
    EXPECT_TRUE(log_.empty()) << c.host;
    ASSERT_TRUE(WaitFor([&] { return !log_.empty(); })) << c.host;
    EXPECT_EQ(log_[0], c.event) << c.host;
  }
  EXPECT_EQ(SocketErrorNumber(ECONNABORTED), kSocketErrAborted);
  EXPECT_EQ(SocketErrorNumber(ETIMEDOUT), kSocketErrTimedOut);
  EXPECT_EQ(SocketErrorNumber(ECONNRESET), kSocketErrReset);
  close(refusing);
}

TEST_F(TcpSocketTest, ReconnectFromInsideTheErrorHandler) {
  const int refusing = Bound(false);
  int refusals = 0;
  events_.onError = [&](int number, const std::string&, int) {
    EXPECT_EQ(number, kSocketErrRefused);
    sock_.Close();
    if (++refusals < 3) sock_.Connect();
  };
  sock_.SetEvents(events_);
  Start("127.0.0.1", PortOf(refusing));
  ASSERT_TRUE(WaitFor([&] { return refusals == 3; }));
  loop_.Wait(loop_.NowMs() + 50);
  EXPECT_EQ(refusals, 3);
  EXPECT_EQ(sock_.State(), kSocketClosed);
  close(refusing);
}

}  // namespace
}  // namespace kolibra
