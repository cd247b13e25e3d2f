// The ECR simulator, black-box over TCP and its pty, where the end-to-end tests do not show it:
// options they leave alone, delays, counters, the second client; a trace's steps and their replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "fakes/fake_platform.h"
#include "replay.h"
#include "support/child_process.h"

namespace kolibra::support {
namespace {

using Chunks = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using Gaps = std::vector<long>;

bool Quiet(int fd, int ms = 300) { return ReadChunk(fd, ms).empty(); }
void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}
long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Sends a command and reads up to `count` chunks; gaps[i]: ms since the chunk before (or the send).
Chunks Command(int fd, const std::string& cmd, std::size_t count, Gaps* gaps = nullptr) {
  Chunks chunks;
  Send(fd, cmd);
  auto last = Clock::now();
  for (std::string c; chunks.size() < count && !(c = ReadChunk(fd, 3000)).empty(); last = Clock::now()) {
    chunks.push_back(c);
    if (gaps) gaps->push_back(MsSince(last));
  }
  return chunks;
}

// A simulator on a loopback port with one client connected, or on a pty only with fd its open line.
struct Sim {
  explicit Sim(std::vector<std::string> args, bool pty = false, const std::filesystem::path& log = {}) {
    const Chunks where = pty ? Chunks{"--no-tcp", "--pty"} : Chunks{"--port=0"};
    args.insert(args.begin(), "--exit-after-ms=60000");
    args.insert(args.begin(), where.begin(), where.end());
    if (sim.Start(args, 1, log)) fd = pty ? ::open(sim.Endpoint("pty").c_str(), O_RDWR | O_NOCTTY) : sim.Connect();
  }
  ~Sim() { if (fd >= 0) ::close(fd); }
  EcrSimulator sim;
  int fd = -1;
};

// Each answer its own chunk, bytes in order; a delay holds back its own answer (minGap: ms after the chunk
// before or the send; 0: under 300 ms; none: not timed); a closing reply ("R") whole or in pieces. On the pty
// the 23-byte answer is timed whole: 10 bits a byte at the given rate (~383 ms at 600), else unpaced.
TEST(EcrSim, AnswersKeepTheirBytesAndDelays) {
  const struct { Chunks args; std::string command; Chunks answers; Gaps minGap = {}; bool pty = false; } cases[] = {
      {{}, "J", {"J"}},
      {{"--mf", "--mf-serial", "12345678", "--rt-serial=ABCDEFGHIJK"}, "47F", {"47F", "47F12345678 ABCDEFGHIJK"}},
      {{"--echo-only", "--xoff"}, "1T", {"1T\x13"}}, {{"--no-closing"}, "1T", {"1T", "1T"}}, {{"--silent"}, " K", {}},
      {{"--merge-answer", "--xoff"}, "1000H1R", {"1000H1R\x13" "1000H1R"}},
      {{"--xon-after=100", "--merge-answer"}, " K", {" K\x13", "\x11", "K"}},
      {{"--paper-out=1"}, "1000H1R", {"1000H1R", "ERR07"}}, {{"--paper-out=1", "--merge-answer"}, " K", {" KERR07"}},
      {{"--paper-out=2"}, "48F", {"48F", "48F6"}},
      {{"--echo-delay=400"}, "1000H1R", {"1000H1R", "1000H1R"}, {350, 0}},
      {{"--answer-delay-ms=400"}, "1000H1R", {"1000H1R", "1000H1R"}, {0, 350}},
      {{"--reply-delay=400"}, "1T", {"1T", "1T", "R"}, {0, 0, 350}},
      {{"--reply-chunks=3", "--chunk-pause=400"}, "1T", {"1T", "1T", "R", "R", "R"}, {0, 0, 0, 350, 350}},
      {{"--baud", "600"}, "47F", {"47F99MEY012 99MZT123456"}, {300}, true},
      {{"--verbose"}, "47F", {"47F99MEY012 99MZT123456"}, {0}, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE((k.args.empty() ? "" : k.args.front() + " ") + k.command);
    Sim s(k.args, k.pty);
    ASSERT_GE(s.fd, 0);
    Gaps gaps;
    const auto start = Clock::now();
    Chunks got = Command(s.fd, k.command, k.answers.size(), &gaps);
    if (k.pty) {
      std::string all = got.empty() ? "" : got[0];
      for (std::string c; all.size() < k.answers[0].size() && !(c = ReadChunk(s.fd, 3000)).empty();) all += c;
      got = {all};
      gaps = {MsSince(start)};
    }
    std::string reply;
    for (auto i = std::ranges::find(k.answers, "R") - k.answers.begin(); i < std::ssize(got); ++i) {
      reply += std::exchange(got[i], "R");
    }
    EXPECT_EQ(got, k.answers);
    EXPECT_TRUE(reply.empty() || (reply.size() == 36 && reply.front() == '\x02' && reply.back() == '\x03')) << reply;
    for (std::size_t i = 0; i < k.minGap.size() && i < gaps.size(); ++i) {
      EXPECT_TRUE(k.minGap[i] ? gaps[i] >= k.minGap[i] : gaps[i] < 300) << "chunk " << i << ": " << gaps[i] << " ms";
    }
    EXPECT_TRUE(Quiet(s.fd)) << "extra answer";
  }
}

// The date and time from the first STX, the numbers back from the first ETX (16 further back on
// FT models); closed only once paid.
TEST(EcrSimTcp, ClosingReplyCarriesDateTimeAndNumbersWhereTheDriverReadsThem) {
  for (bool ft : {false, true}) {
    SCOPED_TRACE(ft ? "FT model" : "other models");
    Chunks args = {"--gap-ms=100", "--first-receipt=41", "--first-number=7"};
    if (ft) args.push_back("--model-ft");
    Sim s(args);
    ASSERT_GE(s.fd, 0);
    const auto numbers = [ft](const std::string& reply) {
      const std::size_t e = reply.find('\x03') - (ft ? 16 : 0);
      return reply.substr(e - 11, 4) + "/" + reply.substr(e - 6, 4);
    };
    // 1000 + 2 x 500 - 200 (a return) = 1800 cents to pay.
    for (const char* sale : {"\"PANE\"1000H1R", "2*500H3R", "9M200H1R"}) Command(s.fd, sale, 2);
    EXPECT_EQ(Command(s.fd, "500H1T", 2).size(), 2u);
    EXPECT_TRUE(Quiet(s.fd)) << "receipt closed before it was paid";

    const std::string before = Now("%d-%m-20%y %H-%M");
    Chunks got = Command(s.fd, "1300H2T", 3);
    const std::string after = Now("%d-%m-20%y %H-%M");
    ASSERT_EQ(got.size(), 3u);
    const std::string& reply = got[2];
    EXPECT_EQ(got[1], "1300H2T");
    EXPECT_GE(reply.size(), 36u);
    EXPECT_TRUE(reply.front() == '\x02' && reply.back() == '\x03');
    const std::string stamp = reply.substr(1, 16);
    EXPECT_TRUE(stamp == before || stamp == after) << stamp << " vs " << before;
    EXPECT_EQ(numbers(reply), "0007/0041");
    // The ACK is taken silently; a tender without amount closes the next receipt.
    Send(s.fd, "\x06");
    EXPECT_TRUE(Quiet(s.fd));
    got = Command(s.fd, "1T", 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(numbers(got[2]), "0007/0042");
  }
}

TEST(EcrSimTcp, SecondClientReplacesTheFirstOrIsRefused) {
  for (bool single : {false, true}) {
    SCOPED_TRACE(single ? "--single-client" : "default");
    Sim s(single ? Chunks{"--single-client"} : Chunks{});
    ASSERT_GE(s.fd, 0);
    ASSERT_EQ(Command(s.fd, " K", 2).size(), 2u);  // the first client is served
    const int second = s.sim.Connect();
    ASSERT_GE(second, 0);
    pollfd p{single ? second : s.fd, POLLIN, 0};
    char c;
    EXPECT_TRUE(::poll(&p, 1, 2000) == 1 && ::read(p.fd, &c, 1) == 0) << "not closed";
    EXPECT_EQ(Command(single ? s.fd : second, " K", 2), (Chunks{" K", "K"}));
    ::close(second);
  }
}

// A line re-sent within one receipt counts twice; lines of a receipt never closed, dump commands
// and a paper-out refusal are not printed.
TEST(EcrSimTcp, CountersTellLinesTakenTwice) {
  // steps: each command and how many answers it gets.
  const struct { Chunks args; std::vector<std::pair<std::string, std::size_t>> steps;
    std::string statsAfterClose, statsOnExit, summary; } cases[] = {
      {{}, {{" K", 2}, {"48F", 2}, {"1000H1R", 2}, {"1000H1R", 2}, {"1T", 3}, {"500H1R", 2}, {"500H1R", 2}},
       "receipts=1\ntaken=3\nduplicates=1\nline 2 1000H1R\nline 1 1T\n",
       "receipts=1\ntaken=5\nduplicates=2\nline 2 1000H1R\nline 1 1T\n", "receipts closed 1, lines taken 5, lines taken twice 2"},
      {{"--paper-out=2"}, {{"1000H1R", 2}, {"2000H1R", 2}, {"1T", 3}, {" K", 2}, {"1T", 3}},
       "receipts=1\ntaken=2\nduplicates=0\nline 1 1000H1R\nline 1 1T\n",
       "receipts=2\ntaken=3\nduplicates=0\nline 1 1000H1R\nline 2 1T\n", "receipts closed 2, lines taken 3, lines taken twice 0"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.statsOnExit);
    fakes::ScratchDir dir;
    const std::string stats = dir.File("stats.txt");
    Chunks args = k.args;
    args.insert(args.end(), {"--verbose", "--stats-file", stats});
    Sim s(args, false, dir.File("sim.log"));
    ASSERT_GE(s.fd, 0);
    bool closed = false;
    for (const auto& [command, answers] : k.steps) {
      EXPECT_EQ(Command(s.fd, command, answers).size(), answers) << command;
      EXPECT_TRUE(answers != 3 || closed || ReadFile(stats) == k.statsAfterClose) << ReadFile(stats);
      closed = closed || answers == 3;
    }
    s.sim.Stop();
    EXPECT_EQ(ReadFile(stats), k.statsOnExit);
    const std::string log = ReadFile(dir.File("sim.log"));
    EXPECT_NE(log.find(k.summary), std::string::npos) << log;
    for (const char* line : {"1000H1R", "500H1R"}) {
      EXPECT_EQ(log.find(std::string("taken 2 times in one receipt: ") + line) != std::string::npos, k.args.empty());
    }
  }
}

TEST(ReplaySteps, ParsedAndWalked) {
  const std::string t = "20261206_235959.900 <-->  ", u = "20261207_000000.000 <-->  ";
  std::vector<ecrsim::ReplayStep> steps;
  // A network dump across midnight, its answers marked, then trimmed copies.
  ecrsim::ParseTrace(t + "--> 48F\r\n" + t + "<-- 48F ( 0 )\r\n" + u + "<-- 48F6 ( 1 )\r\n" + u + "<-- 6\r\n",
                     "d", steps);
  // A serial job: an unanswered reset (written again untraced), a line answered with the start
  // of the closing reply, the reply traced twice.
  ecrsim::ParseTrace(t + "-->  K\r\n" + t + "--> 1T\r\n" + t + "<-- 1T\x02" "ab\r\n" + u + "<-- \x02" "abc\x03\r\n" +
                         u + "<-- \x02" "abc\x03\r\n",
                     "j", steps);
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_TRUE(steps[0].reset);
  ASSERT_EQ(steps[1].answers.size(), 2u);
  EXPECT_EQ(steps[1].answers[0].bytes + "|" + steps[1].answers[1].bytes, "48F|48F6");
  EXPECT_EQ(steps[1].answers[1].afterMs, 100);
  EXPECT_TRUE(steps[2].answers.empty());
  ASSERT_EQ(steps[3].answers.size(), 2u);
  EXPECT_EQ(steps[3].answers[0].bytes + steps[3].answers[1].bytes, "1T\x02" "abc\x03");
  // Commands in turn, for a replay that goes on and one that stops: the step answered ("-"
  // none), then the start of the report (nothing reported unless one is expected).
  const struct { bool stop; std::vector<std::pair<std::string, std::string>> commands; } walks[] = {
      {false, {{" K", "d (reset before the dump)|"}, {"48F", "d line 1|"}, {" K", "j line 1|"}, {" K", "-|"},
               {"2T", "j line 2|command 5 differs from j line 2 at byte 1:"}, {"1T", "-|command 6 comes after the end"}}},
      {true, {{" K", "d (reset before the dump)|"}, {"47F", "-|command 2 differs from d line 1 at byte 2:"}, {"48F", "-|"}}},
  };
  for (const auto& w : walks) {
    ecrsim::Replay replay(steps, w.stop);
    for (const auto& [command, expected] : w.commands) {
      std::string report;
      const ecrsim::ReplayStep* step = replay.Next(command, report);
      const std::string got = (step ? step->where : "-") + "|" + report;
      EXPECT_EQ(expected.ends_with('|') ? got : got.substr(0, expected.size()), expected) << command;
    }
  }
}

// What is no trace is refused at start (reason, exit code 2), read no further than the size limit: a device,
// a folder, a file over 64 MB (sparse), an empty file, bytes without a traced command; a good trace beside too.
TEST(ReplaySteps, WhatIsNoTraceIsRefused) {
  fakes::ScratchDir dir;
  const std::string trace = dir.File("tracedump.txt");
  WriteFile(trace, "20261206_235959.900 <-->  --> 48F\r\n20261206_235959.950 <-->  <-- 48F6 ( 1 )\r\n");
  WriteFile(dir.File("empty.txt"), "");
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + i / 13) & 0xFF);
  WriteFile(dir.File("noise.bin"), noise);
  std::filesystem::create_directory(dir.File("folder"));
  std::ofstream(dir.File("big.txt"), std::ios::binary).close();
  std::filesystem::resize_file(dir.File("big.txt"), (64u << 20) + 1);
  const struct { std::string file, why; } rows[] = {
      {"/dev/zero", "not a trace file (not a plain file)"}, {dir.File("folder"), "not a trace file (not a plain file)"},
      {dir.File("big.txt"), "not a trace file (over 64 MB)"}, {dir.File("missing"), "cannot read it"},
      {dir.File("empty.txt"), "not a kolibra trace (no traced command in it)"},
      {dir.File("noise.bin"), "not a kolibra trace (no traced command in it)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const std::string log = dir.File("sim.log");
    WriteFile(log, "");
    ChildProcess sim;
    const auto start = Clock::now();
    ASSERT_TRUE(sim.Start({KOLIBRA_BINARY_DIR "/kolibra-ecr-sim", "--port=0", "--replay", trace, "--replay", row.file},
                          log));
    const int status = sim.WaitExit(10000);
    EXPECT_LT(MsSince(start), 5000);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(ReadFile(log), "kolibra-ecr-sim: " + row.file + ": " + row.why + "\n");
  }
}

}  // namespace
}  // namespace kolibra::support
