// Black-box tests of the ECR simulator over TCP.
#include <time.h>

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace kolibra::support {
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
    args.insert(args.begin(), {"--port=0", "--exit-after-ms=60000"});
    fd = sim.Start(args) ? sim.Connect() : -1;
  }
  ~TcpSim() {
    if (fd >= 0) ::close(fd);
  }
  EcrSimulator sim;
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
      {{}, "J", {"J"}},
      {{"--mf", "--mf-serial", "12345678", "--rt-serial=ABCDEFGHIJK"}, "47F", {"47F", "47F12345678 ABCDEFGHIJK"}},
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

}  // namespace
}  // namespace kolibra::support
