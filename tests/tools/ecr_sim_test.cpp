// Black-box tests of the ECR simulator over TCP and its pseudo-terminal.
#include <termios.h>
#include <time.h>

#include <gtest/gtest.h>

#include <chrono>

#include "fakes/fake_platform.h"
#include "support/child_process.h"

namespace kolibra::support {
namespace {

using Chunks = std::vector<std::string>;

bool Quiet(int fd, int ms = 300) { return ReadChunk(fd, ms).empty(); }

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

long MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

// True when the peer closes the connection within timeoutMs.
bool ClosedByPeer(int fd, int timeoutMs = 2000) {
  pollfd p{fd, POLLIN, 0};
  char c;
  return ::poll(&p, 1, timeoutMs) == 1 && ::read(fd, &c, 1) == 0;
}

// Sends a command and reads up to `count` chunks, each with the ms elapsed
// since the one before it (or since the send).
struct Timed {
  Chunks chunks;
  std::vector<long> gaps;
};
Timed TimedCommand(int fd, const std::string& cmd, std::size_t count) {
  Timed t;
  Send(fd, cmd);
  auto last = std::chrono::steady_clock::now();
  for (std::string c; t.chunks.size() < count && !(c = ReadChunk(fd, 3000)).empty();) {
    t.chunks.push_back(c);
    t.gaps.push_back(MsSince(last));
    last = std::chrono::steady_clock::now();
  }
  return t;
}

Chunks Command(int fd, const std::string& cmd, std::size_t count) {
  return TimedCommand(fd, cmd, count).chunks;
}

// A simulator on a loopback port with one client connected, or on a
// pseudo-terminal only with fd its open line.
struct Sim {
  explicit Sim(std::vector<std::string> args, bool pty = false, const std::filesystem::path& log = {}) {
    const std::vector<std::string> where = pty ? std::vector<std::string>{"--no-tcp", "--pty"}
                                               : std::vector<std::string>{"--port=0"};
    args.insert(args.begin(), "--exit-after-ms=60000");
    args.insert(args.begin(), where.begin(), where.end());
    if (sim.Start(args, 1, log)) fd = pty ? ::open(sim.Endpoint("pty").c_str(), O_RDWR | O_NOCTTY) : sim.Connect();
  }
  ~Sim() {
    if (fd >= 0) ::close(fd);
  }
  EcrSimulator sim;
  int fd = -1;
};

// Each delay holds back its own answer; the reply chunks come apart.
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

// Echo and second answer as separate chunks; the harsher options keep every byte.
TEST(EcrSimTcp, AnswersKeepTheirBytes) {
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
      {{"--merge-answer"}, "48F", {"48F48F6"}},
      {{"--merge-answer", "--xoff"}, "1000H1R", {"1000H1R\x13" "1000H1R"}},
      {{"--xon-after=100"}, "1000H1R", {"1000H1R\x13", "\x11", "1000H1R"}},
      {{"--xon-after=100", "--merge-answer"}, " K", {" K\x13", "\x11", "K"}},
      {{"--paper-out=1"}, "1000H1R", {"1000H1R", "ERR07"}},
      {{"--paper-out=1", "--merge-answer"}, " K", {" KERR07"}},
      {{"--paper-out=2"}, "48F", {"48F", "48F6"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE((k.args.empty() ? "" : k.args.front() + " ") + k.command);
    Sim s(k.args);
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
    Sim s(args);
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

TEST(EcrSimTcp, DelaysHoldBackTheirOwnAnswer) {
  struct Case {
    std::vector<std::string> args;
    std::string command;
    std::vector<bool> late;  // per chunk: waited for the 400 ms delay
  } cases[] = {
      {{"--echo-delay=400"}, "1000H1R", {true, false}},
      {{"--answer-delay-ms=400"}, "1000H1R", {false, true}},
      {{"--reply-delay=400"}, "1T", {false, false, true}},
      {{"--reply-chunks=3", "--chunk-pause=400"}, "1T", {false, false, false, true, true}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args.back());
    Sim s(k.args);
    ASSERT_GE(s.fd, 0);
    const Timed got = TimedCommand(s.fd, k.command, k.late.size());
    ASSERT_EQ(got.chunks.size(), k.late.size());
    for (std::size_t i = 0; i < k.late.size(); ++i) {
      if (k.late[i]) {
        EXPECT_GE(got.gaps[i], 350) << "chunk " << i;
      } else {
        EXPECT_LT(got.gaps[i], 300) << "chunk " << i;
      }
    }
    EXPECT_EQ(got.chunks[0], k.command);
    if (got.chunks.size() > 2) {
      std::string reply;
      for (std::size_t i = 2; i < got.chunks.size(); ++i) reply += got.chunks[i];
      EXPECT_EQ(reply.size(), 36u);
      EXPECT_EQ(reply.front(), '\x02');
      EXPECT_EQ(reply.back(), '\x03');
    }
    EXPECT_TRUE(Quiet(s.fd, 100)) << "extra answer";
  }
}

TEST(EcrSimTcp, SecondClientReplacesTheFirstOrIsRefused) {
  for (bool single : {false, true}) {
    SCOPED_TRACE(single ? "--single-client" : "default");
    Sim s(single ? std::vector<std::string>{"--single-client"} : std::vector<std::string>{});
    ASSERT_GE(s.fd, 0);
    ASSERT_EQ(Command(s.fd, " K", 2).size(), 2u);  // the first client is served
    const int second = s.sim.Connect();
    ASSERT_GE(second, 0);
    const int dropped = single ? second : s.fd;
    const int kept = single ? s.fd : second;
    EXPECT_TRUE(ClosedByPeer(dropped));
    EXPECT_EQ(Command(kept, " K", 2), (Chunks{" K", "K"}));
    ::close(second);
  }
}

// The Nth command is answered, then the connection drops; during the reboot
// new clients are closed at once; afterwards the open receipt is gone.
TEST(EcrSimTcp, RebootDropsTheClientAndForgetsTheOpenReceipt) {
  fakes::ScratchDir dir;
  const std::string stats = dir.File("stats.txt");
  Sim s({"--reboot-after=2", "--reboot-ms=600", "--stats-file", stats});
  ASSERT_GE(s.fd, 0);
  EXPECT_EQ(Command(s.fd, "1000H1R", 2).size(), 2u);
  EXPECT_EQ(Command(s.fd, "2000H1R", 2).size(), 2u);
  EXPECT_TRUE(ClosedByPeer(s.fd));

  const int during = s.sim.Connect();
  ASSERT_GE(during, 0);
  EXPECT_TRUE(ClosedByPeer(during));
  ::close(during);

  int after = -1;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (after >= 0) ::close(after);
        after = s.sim.Connect();
        return after >= 0 && Command(after, "48F", 2).size() == 2;  // leaves the receipt alone
      },
      3000));
  // 3000 cents of sales taken before the reboot would leave 500 short.
  EXPECT_EQ(Command(after, "500H1T", 3).size(), 3u);
  ::close(after);
  s.sim.Stop();
  EXPECT_EQ(ReadFile(stats), "receipts=1\ntaken=3\nduplicates=0\nline 1 500H1T\n");
}

TEST(EcrSimPty, RebootSilencesTheLineForAWhile) {
  Sim pty({"--reboot-after=1", "--reboot-ms=700"}, true);
  const int fd = pty.fd;
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Command(fd, "48F", 1), Chunks{"48F6"});
  Send(fd, "48F");
  EXPECT_TRUE(Quiet(fd, 300));
  ::usleep(600 * 1000);
  EXPECT_EQ(Command(fd, "48F", 1), Chunks{"48F6"});
}

// A line re-sent within one receipt counts twice; lines of a receipt never
// closed, dump commands and a paper-out refusal are not printed.
TEST(EcrSimTcp, CountersTellLinesTakenTwice) {
  struct Step {
    std::string command;
    std::size_t answers;
  };
  struct Case {
    std::vector<std::string> args;
    std::vector<Step> steps;
    std::string statsAfterClose;
    std::string statsOnExit;
  } cases[] = {
      {{},
       {{" K", 2}, {"48F", 2}, {"1000H1R", 2}, {"1000H1R", 2}, {"1T", 3}, {"500H1R", 2}, {"500H1R", 2}},
       "receipts=1\ntaken=3\nduplicates=1\nline 2 1000H1R\nline 1 1T\n",
       "receipts=1\ntaken=5\nduplicates=2\nline 2 1000H1R\nline 1 1T\n"},
      {{"--paper-out=2"},
       {{"1000H1R", 2}, {"2000H1R", 2}, {"1T", 3}, {" K", 2}, {"1T", 3}},
       "receipts=1\ntaken=2\nduplicates=0\nline 1 1000H1R\nline 1 1T\n",
       "receipts=2\ntaken=3\nduplicates=0\nline 1 1000H1R\nline 2 1T\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.statsOnExit);
    fakes::ScratchDir dir;
    const std::string stats = dir.File("stats.txt");
    std::vector<std::string> args = k.args;
    args.insert(args.end(), {"--verbose", "--stats-file", stats});
    Sim s(args, false, dir.File("sim.log"));
    ASSERT_GE(s.fd, 0);
    bool closed = false;
    for (const Step& step : k.steps) {
      EXPECT_EQ(Command(s.fd, step.command, step.answers).size(), step.answers) << step.command;
      if (step.answers == 3 && !closed) {
        closed = true;
        EXPECT_EQ(ReadFile(stats), k.statsAfterClose);
      }
    }
    s.sim.Stop();
    EXPECT_EQ(ReadFile(stats), k.statsOnExit);
    const std::string log = ReadFile(dir.File("sim.log"));
    const char* summary = k.args.empty() ? "receipts closed 1, lines taken 5, lines taken twice 2"
                                         : "receipts closed 2, lines taken 3, lines taken twice 0";
    EXPECT_NE(log.find(summary), std::string::npos) << log;
    EXPECT_EQ(log.find("taken 2 times in one receipt: 1000H1R") != std::string::npos, k.args.empty());
    EXPECT_NE(log.find("taken 2 times in one receipt: 500H1R") == std::string::npos, k.args.empty());
  }
}

// The 23-byte serial-number answer takes 10 bits a byte at the given rate.
TEST(EcrSimPty, BaudPacesTheLine) {
  struct Case {
    std::vector<std::string> args;
    long minMs, maxMs;
  } cases[] = {
      {{}, 0, 250},
      {{"--baud=2400"}, 60, 1500},  // ~96 ms
      {{"--baud", "600"}, 300, 3000},  // ~383 ms
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args.empty() ? "unpaced" : k.args.back());
    Sim pty(k.args, true);
    const int fd = pty.fd;
    ASSERT_GE(fd, 0);
    const std::string want = "47F99MEY012 99MZT123456";
    Send(fd, "47F");
    const auto start = std::chrono::steady_clock::now();
    std::string got;
    for (std::string c; got.size() < want.size() && !(c = ReadChunk(fd, 3000)).empty();) got += c;
    const long ms = MsSince(start);
    EXPECT_EQ(got, want);
    EXPECT_GE(ms, k.minMs);
    EXPECT_LE(ms, k.maxMs);
  }
}

}  // namespace
}  // namespace kolibra::support
