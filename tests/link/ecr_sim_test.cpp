// Black-box tests of the ECR simulator over TCP and its pseudo-terminal.
#include <fcntl.h>
#include <termios.h>
#include <time.h>

#include <gtest/gtest.h>

#include "link/sim_process.h"

namespace kolibra::sim {
namespace {

using Chunks = std::vector<std::string>;

bool Quiet(int fd, int ms = 300) { return ReadChunk(fd, ms).empty(); }

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Sends a command and reads up to `count` chunks, waiting up to 3 s for each.
Chunks Command(int fd, const std::string& cmd, std::size_t count) {
  Send(fd, cmd);
  Chunks chunks;
  for (std::string c; chunks.size() < count && !(c = ReadChunk(fd, 3000)).empty();) chunks.push_back(c);
  return chunks;
}

// A simulator on a loopback port with one client connected.
struct TcpSim {
  explicit TcpSim(std::vector<std::string> args) {
    args.insert(args.begin(), "--port=0");
    started = sim.Start(args);
    fd = started ? sim.Connect() : -1;
  }
  ~TcpSim() {
    if (fd >= 0) ::close(fd);
  }
  Simulator sim;
  bool started = false;
  int fd = -1;
};

// The reply fields where the driver reads them: from the first STX and,
// for the numbers, back from the first ETX (16 further back on FT models).
std::string Stamp(const std::string& reply) { return reply.substr(reply.find('\x02') + 1, 16); }
std::string Numbers(const std::string& reply, bool ft) {
  const std::size_t e = reply.find('\x03') - (ft ? 16 : 0);
  return reply.substr(e - 11, 4) + "/" + reply.substr(e - 6, 4);
}

std::string Now(const char* format) {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char buf[32];
  strftime(buf, sizeof buf, format, &local);
  return buf;
}

TEST(EcrSimTcp, EchoThenSecondAnswerAsSeparateChunks) {
  struct Case {
    std::vector<std::string> args;
    std::string command;
    Chunks answers;
  } cases[] = {
      {{}, " K", {" K", "K"}},
      {{}, "48F", {"48F", "48F6"}},
      {{}, "47F", {"47F", "47F99MEY012 99MZT123456"}},
      {{}, "\"PANE\"1000H1R", {"\"PANE\"1000H1R", "\"PANE\"1000H1R"}},
      {{}, "J", {"J"}},
      {{"--mf", "--mf-serial", "12345678", "--rt-serial=ABCDEFGHIJK"}, "47F", {"47F", "47F12345678 ABCDEFGHIJK"}},
      {{"--serial", "87654321"}, "41F", {"41F", "41F87654321"}},
      {{"--echo-only", "--xoff"}, "1T", {"1T\x13"}},
      {{"--no-closing"}, "1T", {"1T", "1T"}},
      {{"--silent"}, " K", {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.command);
    TcpSim s(k.args);
    ASSERT_GE(s.fd, 0);
    EXPECT_EQ(Command(s.fd, k.command, k.answers.size()), k.answers);
    EXPECT_TRUE(Quiet(s.fd)) << "extra answer";
  }
}

TEST(EcrSimTcp, ClosingReplyCarriesDateTimeAndNumbersWhereTheDriverReadsThem) {
  for (bool ft : {false, true}) {
    SCOPED_TRACE(ft ? "FT model" : "other models");
    std::vector<std::string> args = {"--gap-ms=100", "--first-receipt=41", "--first-number=7"};
    if (ft) args.push_back("--model-ft");
    TcpSim s(args);
    ASSERT_GE(s.fd, 0);
    // 1000 + 2 x 500 - 200 (a return) = 1800 cents to pay.
    Command(s.fd, "\"PANE\"1000H1R", 2);
    Command(s.fd, "2*500H3R", 2);
    Command(s.fd, "9M200H1R", 2);
    EXPECT_EQ(Command(s.fd, "500H1T", 2).size(), 2u);
    EXPECT_TRUE(Quiet(s.fd)) << "receipt closed before it was paid";

    const std::string before = Now("%d-%m-20%y %H-%M");
    Chunks got = Command(s.fd, "1300H2T", 3);
    const std::string after = Now("%d-%m-20%y %H-%M");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], "1300H2T");
    const std::string& reply = got[2];
    EXPECT_GE(reply.size(), 36u);
    EXPECT_EQ(reply.front(), '\x02');
    EXPECT_EQ(reply.back(), '\x03');
    EXPECT_TRUE(Stamp(reply) == before || Stamp(reply) == after) << Stamp(reply) << " vs " << before;
    EXPECT_EQ(Numbers(reply, ft), "0007/0041");

    // The ACK is taken silently; a tender without amount closes the next receipt.
    Send(s.fd, "\x06");
    EXPECT_TRUE(Quiet(s.fd));
    got = Command(s.fd, "1T", 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(Numbers(got[2], ft), "0007/0042");
  }
}

TEST(EcrSimTcp, GarbageEchoDropsAndJunk) {
  {
    TcpSim s({"--garbage-echo"});
    const Chunks got = Command(s.fd, "1000H1R", 2);
    ASSERT_EQ(got.size(), 2u);
    for (const std::string& answer : got) {
      ASSERT_EQ(answer.size(), 7u);
      for (std::size_t i = 0; i < answer.size(); ++i) EXPECT_NE(answer[i], "1000H1R"[i]) << i;
    }
  }
  TcpSim s({"--drop-after=2"});
  Command(s.fd, "a", 1);
  Command(s.fd, "j", 1);
  Send(s.fd, "J");
  bool eof = false;
  ReadChunk(s.fd, 3000, &eof);
  EXPECT_TRUE(eof);
  // A new connection counts afresh and survives junk and a reset from the last.
  const int junkFd = s.sim.Connect();
  std::string junk(200000, '\0');
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 131 + 7);
  Send(junkFd, junk);
  linger hard{1, 0};
  setsockopt(junkFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(junkFd);
  const int fd = s.sim.Connect();
  EXPECT_EQ(Command(fd, "a", 1), (Chunks{"a"}));
  ::close(fd);
}

TEST(EcrSimPty, DumpAnswerComesWithTheEchoInOneWrite) {
  const std::string link = testing::TempDir() + "ecr_sim_pty_link";
  Simulator sim;
  ASSERT_TRUE(sim.Start({"--no-tcp", "--pty-link", link, "--gap-ms=100"}));
  const std::string pty = sim.Endpoint("pty");
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(pty, target);

  const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio;
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  const std::pair<std::string, std::string> cases[] = {
      {" K", " K"}, {"48F", "48F6"}, {"41F", "41F99123456"}, {"1000H1R", "1000H1R"}};
  for (const auto& [command, answer] : cases) {
    EXPECT_EQ(Command(fd, command, 1), Chunks{answer}) << command;
    EXPECT_TRUE(Quiet(fd)) << "extra answer to " << command;
  }
  // The closing reply follows the tender's echo as a write of its own.
  const Chunks got = Command(fd, "1000H1T", 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "1000H1T");
  EXPECT_EQ(Numbers(got[1], false).substr(5), "0001");
  ::close(fd);
}

}  // namespace
}  // namespace kolibra::sim
