// TCP client cases every real socket passes, whatever system it runs on.
// The test plays the ECR through Traits, which supplies:
//   Loop, Socket          the loop and the socket under test
//   Peer                  a socket handle of the test's own
//   Bound(listening, &port)  a loopback socket on a free port; bound but
//                         not listening, it refuses
//   Accept(listener), SendAll(peer, bytes), Close(peer)
//   Reset(peer)           an abortive close (the connection is reset)
//   Receive(peer, size, timeoutMs)  up to size bytes within the time
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop_cases.h"
#include "platform/tcp_socket.h"

namespace kolibra::testing {

template <typename Traits>
class TcpSocketCases : public ::testing::Test {
 protected:
  using Log = std::vector<std::string>;

  TcpSocketCases() {
    SocketEvents events;
    events.onConnected = [this] { log_.push_back("connected"); };
    events.onDataArrival = [this](std::size_t n) {
      log_.push_back("data " + std::to_string(n));
      received_ += sock_.GetData();
    };
    events.onError = [this](int number, const std::string& description, int status) {
      log_.push_back("error " + std::to_string(number) + " " + std::to_string(status) + " " + description);
    };
    sock_.SetEvents(events);
  }
  void Connect(int port) {
    sock_.SetRemoteHost("127.0.0.1");
    sock_.SetRemotePort(port);
    const std::size_t before = log_.size();
    sock_.Connect();
    EXPECT_EQ(log_.size(), before);  // events come only inside Wait
    EXPECT_TRUE(WaitFor(loop_, [&] { return log_.size() > before; }));
  }

  typename Traits::Loop loop_;
  typename Traits::Socket sock_{loop_};
  Log log_;
  std::string received_;
};

TYPED_TEST_SUITE_P(TcpSocketCases);

TYPED_TEST_P(TcpSocketCases, ConnectsExchangesBytesAndReportsPeerClose) {
  using Log = std::vector<std::string>;
  int port = 0;
  const auto listener = TypeParam::Bound(true, &port);
  this->Connect(port);
  EXPECT_EQ(this->log_, Log{"connected"});
  EXPECT_EQ(this->sock_.State(), kSocketConnected);
  const auto peer = TypeParam::Accept(listener);

  const std::string cmd("1000H1R\x13\0\xff", 10);
  ASSERT_TRUE(this->sock_.Send(cmd));
  EXPECT_EQ(TypeParam::Receive(peer, cmd.size(), 2000), cmd);

  // The peer sends and closes: its data first, then the abort, then silence.
  ASSERT_TRUE(TypeParam::SendAll(peer, "K\x13\x02"));
  ASSERT_TRUE(WaitFor(this->loop_, [&] { return this->received_.size() >= 3; }));
  EXPECT_EQ(this->received_, "K\x13\x02");
  TypeParam::Close(peer);
  TypeParam::Close(listener);
  ASSERT_TRUE(WaitFor(this->loop_, [&] { return this->log_.size() == 3; }));
  EXPECT_EQ(this->log_, (Log{"connected", "data 3", "error 10053 7 Connection closed by peer"}));
  EXPECT_EQ(this->sock_.State(), kSocketError);
  EXPECT_FALSE(this->sock_.Send("x"));
  this->loop_.Wait(this->loop_.NowMs() + 100);  // the dead connection is not watched
  EXPECT_EQ(this->log_.size(), 3u);
}

TYPED_TEST_P(TcpSocketCases, RefusedConnectIsError10061) {
  int port = 0;
  const auto refusing = TypeParam::Bound(false, &port);
  this->Connect(port);
  EXPECT_EQ(this->log_, std::vector<std::string>{"error 10061 6 Connection refused"});
  EXPECT_EQ(this->sock_.State(), kSocketError);
  TypeParam::Close(refusing);
}

TYPED_TEST_P(TcpSocketCases, NothingOfAClosedConnectionReachesTheNextOne) {
  using Log = std::vector<std::string>;
  int port = 0;
  const auto listener = TypeParam::Bound(true, &port);
  this->Connect(port);
  const auto peer = TypeParam::Accept(listener);
  // Data and the reset are waiting when the logic closes and reconnects
  // (a new socket may get the old one's handle).
  ASSERT_TRUE(TypeParam::SendAll(peer, "late"));
  TypeParam::Reset(peer);
  int refusedPort = 0;
  const auto refusing = TypeParam::Bound(false, &refusedPort);
  this->loop_.SleepBlocking(200);
  this->sock_.Close();
  EXPECT_EQ(this->sock_.State(), kSocketClosed);
  EXPECT_EQ(this->sock_.GetData(), "");
  this->Connect(refusedPort);
  this->loop_.Wait(this->loop_.NowMs() + 100);
  EXPECT_EQ(this->log_, (Log{"connected", "error 10061 6 Connection refused"}));
  EXPECT_EQ(this->received_, "");
  TypeParam::Close(refusing);
  TypeParam::Close(listener);
}

REGISTER_TYPED_TEST_SUITE_P(TcpSocketCases, ConnectsExchangesBytesAndReportsPeerClose, RefusedConnectIsError10061,
                            NothingOfAClosedConnectionReachesTheNextOne);

}  // namespace kolibra::testing
