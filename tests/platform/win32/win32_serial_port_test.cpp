#include "platform/win32/win32_serial_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/serial_cases.h"
#include "win32_test_util.h"

namespace kolibra {
namespace {

TEST(Win32SerialPortTest, ConfigureTakesKnownRatesAndPortNumbersOnly) {
  Win32EventLoop loop;
  Win32SerialPort port(loop);
  testing::ExpectConfigureTakesKnownRatesAndPortNumbersOnly(port);
  EXPECT_EQ(Win32SerialPort::DeviceName(12), "\\\\.\\COM12");
}

TEST(Win32SerialPortTest, APortThatDoesNotExistStaysClosed) {
  Win32EventLoop loop;
  Win32SerialPort port(loop);
  ASSERT_TRUE(port.Configure(Win32SerialPort::kMaxPortNumber, "9600,N,8,1"));
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.Write("K"));
  EXPECT_EQ(port.ReadAll(), "");
  EXPECT_EQ(port.InputCount(), 0);
}

// Needs two COM ports joined by a null-modem line, named by
// KOLIBRA_TEST_COM_PAIR="a,b"; the port on COMb plays the ECR. Under Wine:
//   socat pty,raw,echo=0,link=$D/ttyA pty,raw,echo=0,link=$D/ttyB &
//   wine64 reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d $D/ttyA /f
//   wine64 reg add 'HKLM\Software\Wine\Ports' /v COM6 /t REG_SZ /d $D/ttyB /f
//   wineserver -k; KOLIBRA_TEST_COM_PAIR=5,6 wine64 <tests>.exe
TEST(Win32SerialPortTest, BytesTravelUnchangedAndWaitWakesOnArrivalWithoutSpinning) {
  const char* pair = std::getenv("KOLIBRA_TEST_COM_PAIR");
  int a = 0, b = 0;
  if (pair == nullptr || std::sscanf(pair, "%d,%d", &a, &b) != 2) {
    GTEST_SKIP() << "KOLIBRA_TEST_COM_PAIR is not set to two joined COM ports";
  }
  Win32EventLoop loop;
  Win32SerialPort port(loop), ecr(loop), intruder(loop);
  ASSERT_TRUE(port.Configure(a, "9600,N,8,1"));
  ASSERT_TRUE(ecr.Configure(b, "9600,N,8,1"));
  ASSERT_TRUE(port.Open());
  ASSERT_TRUE(ecr.Open());
  EXPECT_FALSE(port.Configure(a, "9600,N,8,1"));  // refused while open
  // Held exclusively (Windows' COM driver refuses a second opener; Wine does not).
  ASSERT_TRUE(intruder.Configure(a, "9600,N,8,1"));
  if (!testing::RunningOnWine()) {
    EXPECT_FALSE(intruder.Open());
  }
  const auto timedWait = [&](int64_t budgetMs) {
    const int64_t t0 = loop.NowMs();
    loop.Wait(t0 + budgetMs);
    return loop.NowMs() - t0;
  };
  const auto receive = [&](Win32SerialPort& p, std::size_t want) {
    std::string got;
    for (const int64_t end = loop.NowMs() + 3000; got.size() < want && loop.NowMs() < end;) {
      got += p.ReadAll();
      if (got.size() < want) loop.Wait(end);
    }
    return got;
  };

  // XOFF, XON, CR, LF, NUL, DEL and high bytes are data, not line control.
  const std::string all("1000H1R\x13\x11\r\n\0\x7f\xe0\xff", 15);
  ASSERT_TRUE(port.Write(all));
  EXPECT_EQ(receive(ecr, all.size()), all);
  // Nothing is waiting for port: after at most one wake-up per port for
  // input already taken, the loop sleeps to the deadline.
  for (int i = 0; i < 2; ++i) loop.Wait(loop.NowMs());
  EXPECT_GE(timedWait(200), 190);
  ASSERT_TRUE(ecr.Write(all));
  EXPECT_LT(timedWait(2000), 1000);  // woken by the arrival
  for (const int64_t end = loop.NowMs() + 2000; port.InputCount() < 15 && loop.NowMs() < end;) loop.Wait(end);
  const int64_t cpu0 = testing::CpuMs();
  EXPECT_GE(timedWait(300), 290);  // input left unread: no wake-ups until it is read
  EXPECT_LT(testing::CpuMs() - cpu0, 50);
  EXPECT_EQ(port.ReadAll(), all);
  // Output keeps flowing after the ECR sent XOFF: the port does not obey it.
  ASSERT_TRUE(port.Write("K"));
  EXPECT_EQ(receive(ecr, 1), "K");
  ASSERT_TRUE(ecr.Write("Y"));  // read: watched again
  EXPECT_LT(timedWait(2000), 1000);
  EXPECT_EQ(receive(port, 1), "Y");
  port.Close();
  intruder.Close();
  EXPECT_TRUE(intruder.Open());  // released on close
}

}  // namespace
}  // namespace kolibra
