#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/posix_serial_port.h"
#include "platform_test_util.h"

namespace kolibra {
namespace {

using testing::CpuMs;

// The slave side of a pseudo-terminal plays the serial device; the test is
// the ECR on the master side.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    struct termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    port_.SetDevicePath(3, name);
    ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  }
  void TearDown() override {
    port_.Close();
    if (master_ >= 0) close(master_);
    close(slave_);
  }
  void FromEcr(const std::string& b) { ASSERT_EQ(write(master_, b.data(), b.size()), ssize_t(b.size())); }
  std::string ToEcr(std::size_t want) {
    std::string got;
    char buf[256];
    struct pollfd p = {master_, POLLIN, 0};
    while (got.size() < want && poll(&p, 1, 2000) > 0) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  std::string ReadUntil(std::size_t want, int64_t budgetMs = 2000) {
    std::string got;
    const int64_t end = loop_.NowMs() + budgetMs;
    while (got.size() < want && loop_.NowMs() < end) {
      loop_.Wait(end);
      got += port_.ReadAll();
    }
    return got;
  }
  // Time a Wait with the given budget took.
  int64_t TimedWait(int64_t budgetMs) {
    const int64_t t0 = loop_.NowMs();
    loop_.Wait(t0 + budgetMs);
    return loop_.NowMs() - t0;
  }

  PosixEventLoop loop_;
  PosixSerialPort port_{loop_};
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(SerialPortTest, SettingsAreCheckedAndRefusedWhileOpen) {
  const char* good[] = {"115200,N,8,1", "19200,n,8,1", "38400,E,7,2"};
  const char* bad[] = {"9601,N,8,1", "", "9600,X,8,1", "9600,N,9,1", "9600,N,8,1,", "99999999999,N,8,1"};
  for (const char* s : good) EXPECT_TRUE(port_.Configure(1, s)) << s;
  for (const char* s : bad) EXPECT_FALSE(port_.Configure(1, s)) << s;
  EXPECT_FALSE(port_.Configure(0, "9600,N,8,1"));
  EXPECT_FALSE(port_.Configure(256, "9600,N,8,1"));
  EXPECT_EQ(port_.DevicePath(4), "/dev/ttyS3");

  ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port_.Open());
  EXPECT_FALSE(port_.Configure(3, "9600,N,8,1"));
  EXPECT_FALSE(port_.Configure(2, "19200,N,8,1"));
  port_.Close();
  EXPECT_TRUE(port_.Configure(2, "19200,N,8,1"));

  port_.SetDevicePath(2, "/nonexistent/tty");
  EXPECT_FALSE(port_.Open());
  EXPECT_FALSE(port_.Write("x"));
  EXPECT_EQ(port_.ReadAll(), "");
  EXPECT_EQ(port_.InputCount(), 0);
}

TEST_F(SerialPortTest, BytesTravelUnchangedIncludingFlowControlBytes) {
  ASSERT_TRUE(port_.Open());
  // XOFF, XON, CR, LF, NUL, DEL and high bytes are data, not line control.
  const std::string all("1000H1R\x13\x11\r\n\0\x7f\xe0\xff", 15);
  ASSERT_TRUE(port_.Write(all));
  EXPECT_EQ(ToEcr(all.size()), all);
  FromEcr(all);
  const int64_t end = loop_.NowMs() + 2000;
  while (port_.InputCount() < 15 && loop_.NowMs() < end) loop_.Wait(end);
  EXPECT_EQ(port_.InputCount(), 15);
  EXPECT_EQ(port_.ReadAll(), all);
  EXPECT_EQ(port_.InputCount(), 0);
  // Output keeps flowing after the ECR sent XOFF: the port does not obey it.
  ASSERT_TRUE(port_.Write("K"));
  EXPECT_EQ(ToEcr(1), "K");
}

TEST_F(SerialPortTest, WaitWakesOnArrivalAndDoesNotSpinOnUnreadInput) {
  ASSERT_TRUE(port_.Open());
  FromEcr("X");
  EXPECT_LT(TimedWait(2000), 500);
  const int64_t cpu0 = CpuMs();
  EXPECT_GE(TimedWait(200), 200);  // input left unread: sleeps to the deadline
  EXPECT_LT(CpuMs() - cpu0, 20);
  EXPECT_EQ(port_.ReadAll(), "X");
  FromEcr("Y");  // read: watched again
  EXPECT_LT(TimedWait(2000), 500);
  EXPECT_EQ(port_.ReadAll(), "Y");
}

TEST_F(SerialPortTest, VanishedPeerDoesNotMakeTheLoopSpin) {
  ASSERT_TRUE(port_.Open());
  FromEcr("Z");
  EXPECT_EQ(ReadUntil(1), "Z");
  close(master_);
  master_ = -1;
  const int64_t cpu0 = CpuMs();
  EXPECT_EQ(ReadUntil(1, 300), "");  // waits its full budget without spinning
  EXPECT_LT(CpuMs() - cpu0, 20);
  EXPECT_FALSE(port_.Write("1000H1R"));
}

}  // namespace
}  // namespace kolibra
