// The virtual clock and scripted devices every logic test relies on.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace kolibra::fakes {
namespace {

TEST(FakeEventLoop, WaitStopsAtTheEarliestDueThingAndSleepDeliversNothing) {
  FakeEventLoop loop;
  int ticks = 0;
  std::vector<int> order;
  auto t = loop.CreateTimer([&] { ++ticks; });
  loop.SetTimer(t, 300, true);
  loop.Schedule(100, [&] { order.push_back(1); });
  loop.Wait(1000);
  EXPECT_EQ(loop.NowMs(), 100);
  loop.Wait(1000);
  EXPECT_EQ(loop.NowMs(), 300);
  EXPECT_EQ(ticks, 1);
  loop.SetTimer(t, 300, false);
  loop.Wait(1000);
  EXPECT_EQ(loop.NowMs(), 1000);
  EXPECT_EQ(ticks, 1);

  // Posted calls run in the next Wait without moving time; theirs in the one after.
  loop.Post([&] {
    order.push_back(2);
    loop.Post([&] { order.push_back(3); });
  });
  loop.Schedule(1050, [&] { order.push_back(4); });
  loop.Wait(1500);
  EXPECT_EQ(order, std::vector<int>({1, 2}));
  EXPECT_EQ(loop.NowMs(), 1000);
  loop.SleepBlocking(100);
  EXPECT_EQ(order, std::vector<int>({1, 2}));
  loop.Wait(1500);
  EXPECT_EQ(order, std::vector<int>({1, 2, 3}));
  loop.Wait(1100);
  EXPECT_EQ(order, std::vector<int>({1, 2, 3, 4}));
}

TEST(FakeEventLoop, CivilTimeRunsOnFromTheSetInstant) {
  FakeEventLoop loop;
  loop.SetLocalTime(CivilTime{2023, 12, 31, 23, 59, 59, 950}, 60);
  loop.SleepBlocking(100);
  const CivilTime l = loop.LocalTime();
  EXPECT_EQ(std::vector<int>({l.year, l.month, l.day, l.hour, l.millisecond}), std::vector<int>({2024, 1, 1, 0, 50}));
  const CivilTime u = loop.UtcTime();
  EXPECT_EQ(std::vector<int>({u.year, u.hour, u.minute, u.second}), std::vector<int>({2023, 23, 0, 0}));
}

TEST(FakeDevices, SerialInputArrivesOnTimeAndStaleSocketDataIsDropped) {
  FakePlatform p;
  p.serial.responder = [&](const std::string& s) { p.serial.QueueInput(20, s); };
  ASSERT_TRUE(p.serial.Configure(2, "9600,N,8,1"));
  ASSERT_TRUE(p.serial.Open());
  EXPECT_FALSE(p.serial.Configure(3, "9600,N,8,1"));  // refused while open
  ASSERT_TRUE(p.serial.Write("1T"));
  EXPECT_EQ(p.serial.InputCount(), 0);
  p.loop.Wait(1000);  // woken by the arrival
  EXPECT_EQ(p.loop.NowMs(), 20);
  EXPECT_EQ(p.serial.ReadAll(), "1T");

  std::string got;
  std::vector<int> errors;
  p.socket.SetEvents({[] {}, [&](std::size_t) { got += p.socket.GetData(); },
                      [&](int n, const std::string&, int) { errors.push_back(n); }});
  p.socket.Connect();
  p.loop.Wait(1000);
  EXPECT_EQ(p.socket.State(), kSocketConnected);
  p.socket.Deliver(10, "abc");
  p.socket.Close();
  p.socket.connectOutcome = FakeTcpSocket::ConnectOutcome::kRefuse;
  p.socket.Connect();
  p.loop.Wait(p.loop.NowMs() + 1000);
  EXPECT_EQ(got, "");
  EXPECT_EQ(errors, std::vector<int>({kSocketErrRefused}));
  EXPECT_EQ(p.socket.State(), kSocketError);
}

}  // namespace
}  // namespace kolibra::fakes
