#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix/posix_serial_port.h"
#include "platform/serial_cases.h"
#include "platform/posix/platform_test_util.h"

namespace kolibra {
namespace {

TEST(PosixSerialPortTest, ConfigureTakesKnownRatesAndPortNumbersOnly) {
  PosixEventLoop loop;
  PosixSerialPort port(loop);
  testing::ExpectConfigureTakesKnownRatesAndPortNumbersOnly(port);
}

// The slave side of a pseudo-terminal plays the serial device; the test is
// the ECR on the master side.
TEST(PosixSerialPortTest, BytesTravelUnchangedAndWaitWakesOnArrivalWithoutSpinning) {
  PosixEventLoop loop;
  PosixSerialPort port(loop);
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios tio;
  tcgetattr(master, &tio);
  cfmakeraw(&tio);
  tcsetattr(master, TCSANOW, &tio);
  port.SetDevicePath(3, name);
  ASSERT_TRUE(port.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port.Open());
  EXPECT_FALSE(port.Configure(3, "9600,N,8,1"));  // refused while open
  // The port is held exclusively while open, and released on close.
  const auto exclusive = [&] {
    int excl = -1;
    return ioctl(slave, TIOCGEXCL, &excl) == 0 ? excl : -1;
  };
  EXPECT_EQ(exclusive(), 1);
  const auto fromEcr = [&](const std::string& b) { ASSERT_EQ(write(master, b.data(), b.size()), ssize_t(b.size())); };
  const auto toEcr = [&](std::size_t want) {
    std::string got;
    char buf[256];
    for (pollfd p{master, POLLIN, 0}; got.size() < want && poll(&p, 1, 2000) > 0;) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  };
  const auto timedWait = [&](int64_t budgetMs) {
    const int64_t t0 = loop.NowMs();
    loop.Wait(t0 + budgetMs);
    return loop.NowMs() - t0;
  };

  // XOFF, XON, CR, LF, NUL, DEL and high bytes are data, not line control.
  const std::string all("1000H1R\x13\x11\r\n\0\x7f\xe0\xff", 15);
  ASSERT_TRUE(port.Write(all));
  EXPECT_EQ(toEcr(all.size()), all);
  fromEcr(all);
  EXPECT_LT(timedWait(2000), 500);  // woken by the arrival
  testing::WaitFor(loop, [&] { return port.InputCount() == 15; });
  const int64_t cpu0 = testing::CpuMs();
  EXPECT_GE(timedWait(200), 200);  // input left unread: sleeps to the deadline
  EXPECT_LT(testing::CpuMs() - cpu0, 20);
  EXPECT_EQ(port.ReadAll(), all);
  // Output keeps flowing after the ECR sent XOFF: the port does not obey it.
  ASSERT_TRUE(port.Write("K"));
  EXPECT_EQ(toEcr(1), "K");
  fromEcr("Y");  // read: watched again
  EXPECT_LT(timedWait(2000), 500);
  EXPECT_EQ(port.ReadAll(), "Y");
  port.Close();
  EXPECT_EQ(exclusive(), 0);
  close(master);
  close(slave);
}

}  // namespace
}  // namespace kolibra
