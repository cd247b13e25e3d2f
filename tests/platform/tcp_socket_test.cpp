#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/posix_event_loop.h"
#include "platform/posix/posix_tcp_socket.h"

namespace kolibra {
namespace {

struct ErrorEvent {
  int number;
  std::string description;
  int status;
};

// A loopback listener playing the ECR, and a socket whose events are logged.
class TcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = Bound(true);
    ASSERT_GE(listener_, 0);
    port_ = PortOf(listener_);
    events_.onConnected = [this] { log_.push_back("connected"); };
    events_.onDataArrival = [this](std::size_t n) {
      log_.push_back("data " + std::to_string(n));
      received_ += sock_.GetData();
    };
    events_.onError = [this](int number, const std::string& text, int status) {
      log_.push_back("error " + std::to_string(number));
      errors_.push_back({number, text, status});
    };
    sock_.SetEvents(events_);
  }
  void TearDown() override {
    sock_.Close();
    if (peer_ >= 0) close(peer_);
    if (listener_ >= 0) close(listener_);
  }
  static int Bound(bool listening) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return -1;
    if (listening && listen(fd, 4) != 0) return -1;
    return fd;
  }
  static int PortOf(int fd) {
    sockaddr_in sa = {};
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
  }
  template <typename Cond>
  bool WaitFor(Cond cond, int64_t budgetMs = 2000) {
    const int64_t end = loop_.NowMs() + budgetMs;
    while (!cond() && loop_.NowMs() < end) loop_.Wait(end);
    return cond();
  }
  void ConnectAndAccept() {
    sock_.SetRemoteHost("127.0.0.1");
    sock_.SetRemotePort(port_);
    sock_.Connect();
    ASSERT_TRUE(WaitFor([&] { return sock_.State() == kSocketConnected; }));
    peer_ = accept(listener_, nullptr, nullptr);
    ASSERT_GE(peer_, 0);
  }
  std::string PeerReads(std::size_t want) {
    std::string got;
    const int64_t end = loop_.NowMs() + 2000;
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
  int port_ = 0;
  std::vector<std::string> log_;
  std::vector<ErrorEvent> errors_;
  std::string received_;
};

TEST_F(TcpSocketTest, ConnectsAndExchangesBytes) {
  EXPECT_EQ(sock_.State(), kSocketClosed);
  EXPECT_FALSE(sock_.Send("x"));  // not connected
  sock_.SetRemoteHost("127.0.0.1");
  sock_.SetRemotePort(port_);
  EXPECT_EQ(sock_.RemoteHost(), "127.0.0.1");
  sock_.Connect();
  EXPECT_EQ(sock_.State(), kSocketConnecting);
  EXPECT_TRUE(log_.empty());  // events come only inside Wait
  ASSERT_TRUE(WaitFor([&] { return !log_.empty(); }));
  EXPECT_EQ(log_, std::vector<std::string>{"connected"});
  EXPECT_EQ(sock_.State(), kSocketConnected);
  peer_ = accept(listener_, nullptr, nullptr);
  ASSERT_GE(peer_, 0);

  const std::string cmd = std::string("1000H1R\x13\0\xff", 10);
  ASSERT_TRUE(sock_.Send(cmd));
  EXPECT_EQ(PeerReads(cmd.size()), cmd);
  ASSERT_EQ(send(peer_, "K\x13\x02", 3, 0), 3);
  ASSERT_TRUE(WaitFor([&] { return received_.size() >= 3; }));
  EXPECT_EQ(received_, "K\x13\x02");
  EXPECT_EQ(log_.back(), "data 3");
  EXPECT_EQ(sock_.GetData(), "");
}

TEST_F(TcpSocketTest, LargeSendIsQueuedAndDeliveredWhole) {
  ConnectAndAccept();
  std::string big(4 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(sock_.Send(big));
  EXPECT_EQ(PeerReads(big.size()), big);
  EXPECT_EQ(sock_.PendingSend(), 0u);
}

TEST_F(TcpSocketTest, UnreadDataAccumulatesForGetData) {
  events_.onDataArrival = [this](std::size_t n) { log_.push_back("data " + std::to_string(n)); };
  sock_.SetEvents(events_);
  ConnectAndAccept();
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
  ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }));
  EXPECT_LT(loop_.NowMs() - t0, 500);
  EXPECT_EQ(received_, "bye");
  EXPECT_EQ(log_, (std::vector<std::string>{"connected", "data 3", "error 10053"}));
  EXPECT_EQ(errors_[0].description, "Connection closed by peer");
  EXPECT_EQ(errors_[0].status, kSocketConnected);
  EXPECT_EQ(sock_.State(), kSocketError);
  EXPECT_FALSE(sock_.Send("x"));
  // No further events: the dead connection is no longer watched.
  loop_.Wait(loop_.NowMs() + 100);
  EXPECT_EQ(errors_.size(), 1u);
  sock_.Close();
  EXPECT_EQ(sock_.State(), kSocketClosed);
}

TEST_F(TcpSocketTest, ConnectFailuresArriveAsErrorEventsInsideWait) {
  const int closedPort = Bound(false);  // bound, not listening: refused
  struct Case {
    std::string host;
    int port;
    int number;
  } cases[] = {
      {"127.0.0.1", PortOf(closedPort), kSocketErrRefused},
      {"ecr.example", port_, kSocketErrHostNotFound},
      {"", port_, kSocketErrHostNotFound},
      {"127.0.0.1.5", port_, kSocketErrHostNotFound},
      {"127.0.0.256", port_, kSocketErrHostNotFound},
      {"127.0.0.1", 0, EINVAL},
  };
  for (const Case& c : cases) {
    errors_.clear();
    sock_.Close();
    sock_.SetRemoteHost(c.host);
    sock_.SetRemotePort(c.port);
    sock_.Connect();
    EXPECT_TRUE(errors_.empty()) << c.host;
    ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); })) << c.host;
    EXPECT_EQ(errors_[0].number, c.number) << c.host;
    EXPECT_EQ(errors_[0].status, kSocketConnecting) << c.host;
    EXPECT_FALSE(errors_[0].description.empty());
    EXPECT_EQ(sock_.State(), kSocketError);
  }
  close(closedPort);
}

TEST_F(TcpSocketTest, LeadingZerosInAddressAreDecimal) {
  sock_.SetRemoteHost("127.000.000.001");
  sock_.SetRemotePort(port_);
  sock_.Connect();
  ASSERT_TRUE(WaitFor([&] { return !log_.empty(); }));
  EXPECT_EQ(log_[0], "connected");
}

TEST_F(TcpSocketTest, CloseIsImmediateAndSilencesTheOldConnection) {
  ConnectAndAccept();
  ASSERT_EQ(send(peer_, "late", 4, 0), 4);
  usleep(20000);
  sock_.Close();
  EXPECT_EQ(sock_.State(), kSocketClosed);
  loop_.Wait(loop_.NowMs() + 100);
  EXPECT_EQ(log_, std::vector<std::string>{"connected"});
  EXPECT_EQ(sock_.GetData(), "");
  // A refusal reported later is dropped too when the socket closed first.
  sock_.SetRemoteHost("not an address");
  sock_.Connect();
  sock_.Close();
  loop_.Wait(loop_.NowMs() + 50);
  EXPECT_TRUE(errors_.empty());
  // Connect is ignored unless closed.
  ConnectAndAccept();
  sock_.Connect();
  EXPECT_EQ(sock_.State(), kSocketConnected);
}

TEST_F(TcpSocketTest, ReconnectFromInsideTheErrorHandler) {
  const int closedPort = Bound(false);
  int refusals = 0;
  events_.onError = [&](int number, const std::string&, int) {
    ++refusals;
    EXPECT_EQ(number, kSocketErrRefused);
    sock_.Close();
    if (refusals < 3) sock_.Connect();
  };
  sock_.SetEvents(events_);
  sock_.SetRemoteHost("127.0.0.1");
  sock_.SetRemotePort(PortOf(closedPort));
  sock_.Connect();
  ASSERT_TRUE(WaitFor([&] { return refusals == 3; }));
  loop_.Wait(loop_.NowMs() + 50);
  EXPECT_EQ(refusals, 3);
  EXPECT_EQ(sock_.State(), kSocketClosed);
  close(closedPort);
}

TEST(SocketErrorMappingTest, KnownErrnosTakeTheirSocketNumbers) {
  EXPECT_EQ(SocketErrorNumber(ECONNABORTED), kSocketErrAborted);
  EXPECT_EQ(SocketErrorNumber(ETIMEDOUT), kSocketErrTimedOut);
  EXPECT_EQ(SocketErrorNumber(ECONNREFUSED), kSocketErrRefused);
  EXPECT_EQ(SocketErrorNumber(ECONNRESET), kSocketErrReset);
  EXPECT_EQ(SocketErrorNumber(EPIPE), kSocketErrAborted);
  EXPECT_EQ(SocketErrorNumber(EACCES), EACCES);
  EXPECT_EQ(SocketErrorText(ECONNREFUSED), "Connection refused");
}

}  // namespace
}  // namespace kolibra
