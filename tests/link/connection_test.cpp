// The TCP connection: set-up within its polls, refusals, addresses, trace stamp.
#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/tcp_link.h"

namespace kolibra {
namespace {

using Fake = fakes::FakeTcpSocket;

class ConnectionTest : public LinkTest {
 protected:
  ConnectionTest() {
    ctx.settings.linkMode = LinkMode::kNetwork;
    ctx.settings.address = "192.168.1.50";
  }
};

TEST_F(ConnectionTest, ReconnectsWithinThePolls) {
  p.socket.connectDelayMs = 1500;
  EXPECT_TRUE(Reconnect(ctx, 10));
  EXPECT_EQ(Now(), 2000);
  EXPECT_EQ(p.socket.RemoteHost(), "192.168.1.50");
  EXPECT_EQ(p.socket.remotePort(), 8000);
  EXPECT_EQ(ctx.state.connection, ConnectionState::kOpen);

  // A standing connection is closed first (200 ms); nothing listening: eleven polls.
  p.socket.connectOutcome = Fake::ConnectOutcome::kNever;
  EXPECT_FALSE(Reconnect(ctx, 10));
  EXPECT_EQ(Now(), 2000 + 200 + 11000);
}

TEST_F(ConnectionTest, RefusalReconnectsAfterTheHandlerWithoutNesting) {
  p.socket.connectOutcome = Fake::ConnectOutcome::kRefuse;
  EXPECT_FALSE(Reconnect(ctx, 10));
  EXPECT_LT(Now(), 14000);  // reconnects inside the polls do not stretch the limit
  EXPECT_TRUE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.state.connection, ConnectionState::kClosed);
  const std::size_t connects = p.socket.connectTimes.size();
  EXPECT_GT(connects, 3u);  // each refusal started a new connect

  // Refusals keep coming for a minute: the reconnects follow one another.
  Pause(ctx, 60000);
  EXPECT_GT(p.socket.connectTimes.size(), connects + 20);
  EXPECT_LE(p.loop.maxWaitDepth(), 4);
  EXPECT_LE(p.loop.postedPending(), 1u);

  // Once the ECR accepts, the queued reconnect connects and nothing follows.
  p.socket.connectOutcome = Fake::ConnectOutcome::kConnect;
  Pause(ctx, 5000);
  EXPECT_EQ(p.socket.State(), kSocketConnected);
  EXPECT_FALSE(ctx.link.reconnectQueued);
  EXPECT_EQ(p.loop.postedPending(), 0u);
}

// A reconnect queued from the main loop is still running (its pause) when
// a job starts: the job's own Reconnect must keep connecting after each
// refusal, so an ECR back after two seconds is found.
TEST_F(ConnectionTest, RefusalDuringTheJobsPollsConnectsAgainDespiteAQueuedReconnect) {
  p.socket.connectOutcome = Fake::ConnectOutcome::kRefuse;
  p.loop.Schedule(2000, [this] { p.socket.connectOutcome = Fake::ConnectOutcome::kConnect; });
  bool jobRan = false;
  bool connected = false;
  int64_t connectedAt = 0;
  p.loop.Schedule(300, [&] {  // the polling tick that starts the job
    connected = Reconnect(ctx, 10);
    connectedAt = Now();
    jobRan = true;
  });
  OpenConnection(ctx, false);  // refused at 10 ms, from the main loop
  while (!jobRan) p.loop.Wait(Now() + 100);
  EXPECT_TRUE(connected);
  EXPECT_LE(connectedAt, 4000);
  // Main loop, queued reconnect, job, error handler: no nesting per refusal.
  EXPECT_LE(p.loop.maxWaitDepth(), 5);
}

TEST(IsValidIpAddressTest, Table) {
  const std::pair<std::string, bool> cases[] = {
      {"255.255.255.255", true}, {"1.2.3.4.x", true}, {"-1.2.3.4", true},
      {"1.2.3", false},          {"1.2.3.256", false}, {"1..3.4", false},
  };
  for (const auto& [address, ok] : cases) EXPECT_EQ(IsValidIpAddress(address), ok) << address;
}

TEST_F(LinkTest, TraceStampIsUtcWithFixedWidths) {
  EXPECT_EQ(TraceTimeStamp(CivilTime{2026, 12, 5, 9, 5, 7, 4}), "20261205_090507.004 <--> ");
  p.loop.SetLocalTime(CivilTime{2026, 1, 1, 0, 30, 0, 0}, 60);
  EXPECT_EQ(TraceTimeStamp(ctx), "20251231_233000.000 <--> ");
}

}  // namespace
}  // namespace kolibra
