// The virtual clock every logic test relies on.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace kolibra::fakes {
namespace {

TEST(FakeEventLoop, WaitAdvancesToEarliestOfDeadlineTimerAndEvent) {
  FakeEventLoop loop;
  int ticks = 0;
  std::vector<int64_t> events;
  auto t = loop.CreateTimer([&] { ++ticks; });
  loop.SetTimer(t, 300, true);
  loop.Schedule(100, [&] { events.push_back(loop.NowMs()); });

  loop.Wait(1000);
  EXPECT_EQ(loop.NowMs(), 100);
  EXPECT_EQ(events.size(), 1u);
  loop.Wait(1000);
  EXPECT_EQ(loop.NowMs(), 300);
  EXPECT_EQ(ticks, 1);
  loop.SetTimer(t, 300, false);
  loop.Wait(1000);
  EXPECT_EQ(loop.NowMs(), 1000);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(loop.waitCalls(), 3);
  // A deadline in the past returns at once without moving time.
  loop.Wait(10);
  EXPECT_EQ(loop.NowMs(), 1000);
}

TEST(FakeEventLoop, PostedCallsRunInALaterWaitWithoutMovingTime) {
  FakeEventLoop loop;
  std::vector<int> order;
  loop.Post([&] {
    order.push_back(1);
    loop.Post([&] { order.push_back(2); });
  });
  EXPECT_TRUE(order.empty());
  loop.Wait(500);
  EXPECT_EQ(order, std::vector<int>({1}));
  EXPECT_EQ(loop.NowMs(), 0);
  loop.Wait(500);
  EXPECT_EQ(order, std::vector<int>({1, 2}));
}

TEST(FakeEventLoop, SleepMovesTimeWithoutDeliveringAndTimeIsCivil) {
  FakeEventLoop loop;
  bool fired = false;
  loop.Schedule(50, [&] { fired = true; });
  loop.SleepBlocking(100);
  EXPECT_FALSE(fired);
  EXPECT_EQ(loop.NowMs(), 100);
  loop.Wait(100);
  EXPECT_TRUE(fired);

  CivilTime local{2023, 12, 31, 23, 59, 59, 950};
  loop.SetLocalTime(local, 60);
  loop.SleepBlocking(100);
  CivilTime l = loop.LocalTime();
  EXPECT_EQ(l.year, 2024);
  EXPECT_EQ(l.month, 1);
  EXPECT_EQ(l.day, 1);
  EXPECT_EQ(l.millisecond, 50);
  CivilTime u = loop.UtcTime();
  EXPECT_EQ(u.year, 2023);
  EXPECT_EQ(u.hour, 23);
  EXPECT_EQ(u.minute, 0);
  EXPECT_EQ(u.second, 0);
}

TEST(FakeSerialPort, InputBecomesReadableAtItsArrivalTime) {
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
  EXPECT_EQ(p.serial.InputCount(), 0);
}

TEST(FakeTcpSocket, ConnectOutcomesAndStaleDataAreDropped) {
  FakePlatform p;
  int connected = 0;
  std::vector<int> errors;
  std::string got;
  p.socket.SetEvents({[&] { ++connected; },
                      [&](std::size_t) { got += p.socket.GetData(); },
                      [&](int n, const std::string&, int) { errors.push_back(n); }});
  p.socket.Connect();
  p.loop.Wait(1000);
  EXPECT_EQ(p.socket.State(), kSocketConnected);
  EXPECT_EQ(connected, 1);
  p.socket.Deliver(10, "abc");
  p.socket.Close();
  p.loop.Wait(1000);
  EXPECT_EQ(got, "");

  p.socket.connectOutcome = FakeTcpSocket::ConnectOutcome::kRefuse;
  p.socket.Connect();
  p.loop.Wait(p.loop.NowMs() + 1000);
  EXPECT_EQ(errors, std::vector<int>({kSocketErrRefused}));
  EXPECT_EQ(p.socket.State(), kSocketError);
}

TEST(FakeFileSystem, InjectedRemoveFailuresRunOut) {
  FakePlatform p;
  ScratchDir dir;
  const std::string f = dir.File("a.txt");
  WriteFileBytes(f, "x\r\n");
  p.fs.FailRemove(f, 2);
  EXPECT_FALSE(p.fs.Remove(f));
  EXPECT_FALSE(p.fs.Remove(f));
  EXPECT_TRUE(p.fs.Exists(f));
  EXPECT_TRUE(p.fs.Remove(f));
  EXPECT_FALSE(p.fs.Exists(f));
  EXPECT_EQ(p.fs.removeCalls[f], 3);
}

}  // namespace
}  // namespace kolibra::fakes
