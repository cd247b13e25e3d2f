#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/posix_event_loop.h"
#include "platform/posix/posix_serial_port.h"

namespace kolibra {
namespace {

int64_t CpuMs() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
}

// A pseudo-terminal whose slave side plays the serial device; the test is
// the ECR on the master side.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    slavePath_ = name;
    struct termios tio;
    ASSERT_EQ(tcgetattr(master_, &tio), 0);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    port_.SetDevicePath(3, slavePath_);
  }
  void TearDown() override {
    port_.Close();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  void FromEcr(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string ToEcr(std::size_t want) {
    std::string got;
    const int64_t end = loop_.NowMs() + 2000;
    while (got.size() < want && loop_.NowMs() < end) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  // Reads until want bytes came or the budget ran out, waiting in the loop.
  std::string ReadUntil(std::size_t want) {
    std::string got;
    const int64_t end = loop_.NowMs() + 2000;
    while (got.size() < want && loop_.NowMs() < end) {
      loop_.Wait(end);
      got += port_.ReadAll();
    }
    return got;
  }

  PosixEventLoop loop_;
  PosixSerialPort port_{loop_};
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

TEST_F(SerialPortTest, SettingsAreCheckedAndRefusedWhileOpen) {
  struct Case {
    int port;
    const char* settings;
    bool ok;
  } cases[] = {
      {1, "9600,N,8,1", true},    {3, "115200,N,8,1", true}, {4, "19200,n,8,1", true},
      {2, "38400,E,7,2", true},   {2, "57600,O,8,1", true},  {0, "9600,N,8,1", false},
      {256, "9600,N,8,1", false}, {1, "9601,N,8,1", false},  {1, "", false},
      {1, "9600", false},         {1, "9600,X,8,1", false},  {1, "9600,N,9,1", false},
      {1, "9600,N,8,3", false},   {1, "9600,N,8,1,", false}, {1, " 9600,N,8,1", false},
      {1, "-9600,N,8,1", false},  {1, "99999999999,N,8,1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(port_.Configure(c.port, c.settings), c.ok) << c.port << " " << c.settings;
  }
  ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port_.Open());
  EXPECT_FALSE(port_.Configure(3, "9600,N,8,1"));
  EXPECT_FALSE(port_.Configure(2, "19200,N,8,1"));
  EXPECT_EQ(port_.PortNumber(), 3);
  port_.Close();
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_TRUE(port_.Configure(2, "19200,N,8,1"));
}

TEST_F(SerialPortTest, DevicePathsDefaultAndOverride) {
  EXPECT_EQ(port_.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(port_.DevicePath(4), "/dev/ttyS3");
  EXPECT_EQ(port_.DevicePath(3), slavePath_);
  port_.SetDevicePath(1, "/nonexistent/tty");
  ASSERT_TRUE(port_.Configure(1, "9600,N,8,1"));  // does not touch the device
  EXPECT_FALSE(port_.Open());
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_FALSE(port_.Write("x"));
  EXPECT_EQ(port_.ReadAll(), "");
  EXPECT_EQ(port_.InputCount(), 0);
}

TEST_F(SerialPortTest, BytesTravelBothWaysUnchangedIncludingFlowControlBytes) {
  ASSERT_TRUE(port_.Configure(3, "115200,N,8,1"));
  ASSERT_TRUE(port_.Open());
  // XOFF, XON, CR, LF, NUL, DEL and high bytes are data, not line control.
  const std::string all = std::string("1000H1R\x13\x11\r\n\0\x7f\xe0\xff", 15);
  ASSERT_TRUE(port_.Write(all));
  EXPECT_EQ(ToEcr(all.size()), all);
  FromEcr(all);
  EXPECT_EQ(ReadUntil(all.size()), all);
  // Output keeps flowing after the ECR sent XOFF: the port does not obey it.
  ASSERT_TRUE(port_.Write("K"));
  EXPECT_EQ(ToEcr(1), "K");
}

TEST_F(SerialPortTest, InputCountAndReadAllSeeEverythingWaiting) {
  ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port_.Open());
  EXPECT_EQ(port_.InputCount(), 0);
  FromEcr("ABCDE");
  const int64_t end = loop_.NowMs() + 2000;
  while (port_.InputCount() < 5 && loop_.NowMs() < end) loop_.Wait(end);
  EXPECT_EQ(port_.InputCount(), 5);
  EXPECT_EQ(port_.ReadAll(), "ABCDE");
  EXPECT_EQ(port_.InputCount(), 0);
  EXPECT_EQ(port_.ReadAll(), "");
}

TEST_F(SerialPortTest, WaitWakesOnArrivalAndDoesNotSpinOnUnreadInput) {
  ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port_.Open());
  FromEcr("X");
  int64_t t0 = loop_.NowMs();
  loop_.Wait(t0 + 2000);
  EXPECT_LT(loop_.NowMs() - t0, 500);
  // Input left unread: the next wait sleeps to its deadline.
  const int64_t cpu0 = CpuMs();
  t0 = loop_.NowMs();
  loop_.Wait(t0 + 200);
  EXPECT_GE(loop_.NowMs() - t0, 200);
  EXPECT_LT(CpuMs() - cpu0, 20);
  EXPECT_EQ(port_.ReadAll(), "X");
  // Read: the port is watched again.
  FromEcr("Y");
  t0 = loop_.NowMs();
  loop_.Wait(t0 + 2000);
  EXPECT_LT(loop_.NowMs() - t0, 500);
  EXPECT_EQ(port_.ReadAll(), "Y");
}

TEST_F(SerialPortTest, VanishedPeerDoesNotMakeTheLoopSpin) {
  ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port_.Open());
  FromEcr("Z");
  EXPECT_EQ(ReadUntil(1), "Z");
  close(master_);
  master_ = -1;
  const int64_t cpu0 = CpuMs();
  const int64_t end = loop_.NowMs() + 200;
  std::string more;
  while (loop_.NowMs() < end) {
    loop_.Wait(end);
    more += port_.ReadAll();
  }
  EXPECT_EQ(more, "");
  EXPECT_LT(CpuMs() - cpu0, 20);
  EXPECT_FALSE(port_.Write("1000H1R"));
}

TEST_F(SerialPortTest, ReopenStartsWithEmptyInputAndWorks) {
  ASSERT_TRUE(port_.Configure(3, "9600,N,8,1"));
  ASSERT_TRUE(port_.Open());
  port_.Close();
  FromEcr("stale");
  usleep(20000);
  ASSERT_TRUE(port_.Open());
  EXPECT_EQ(port_.ReadAll(), "");
  FromEcr("fresh");
  EXPECT_EQ(ReadUntil(5), "fresh");
}

}  // namespace
}  // namespace kolibra
