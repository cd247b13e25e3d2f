// Black-box tests of the ECR simulator: they start the built program and
// talk to it over TCP or its pseudo-terminal, the way the driver does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const char kSim[] = KOLIBRA_BINARY_DIR "/kolibra-ecr-sim";

// Reads one chunk (one read()); "" on time-out; sets eof when the peer closed.
std::string ReadChunk(int fd, int timeout_ms, bool* eof = nullptr) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return "";
  char buf[8192];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n <= 0) {
    if (eof) *eof = true;
    return "";
  }
  return std::string(buf, static_cast<size_t>(n));
}

// Reads `count` chunks, waiting up to 3 s for each.
std::vector<std::string> ReadChunks(int fd, size_t count) {
  std::vector<std::string> chunks;
  while (chunks.size() < count) {
    std::string c = ReadChunk(fd, 3000);
    if (c.empty()) break;
    chunks.push_back(c);
  }
  return chunks;
}

bool Quiet(int fd, int ms = 300) { return ReadChunk(fd, ms).empty(); }

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class Sim {
 public:
  // Starts the simulator and reads its endpoint lines.
  explicit Sim(std::vector<std::string> args, bool tcp = true, bool pty = false) {
    args.insert(args.begin(), kSim);
    args.push_back("--exit-after-ms=60000");  // never outlive a broken test
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kSim, argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string text;
    int lines = (tcp ? 1 : 0) + (pty ? 1 : 0);
    while (lines > 0) {
      std::string c = ReadChunk(out[0], 5000);
      if (c.empty()) break;
      text += c;
      lines = (tcp ? 1 : 0) + (pty ? 1 : 0);
      for (char ch : text) lines -= ch == '\n';
    }
    close(out[0]);
    size_t at = text.find("tcp ");
    if (at != std::string::npos) {
      port_ = std::atoi(text.c_str() + text.find(':', at) + 1);
    }
    at = text.find("pty ");
    if (at != std::string::npos) pty_path_ = text.substr(at + 4, text.find('\n', at) - at - 4);
  }

  ~Sim() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

  int Connect() const {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  int port() const { return port_; }
  const std::string& pty_path() const { return pty_path_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string pty_path_;
};

// A TCP client that closes itself.
struct Client {
  explicit Client(const Sim& sim) : fd(sim.Connect()) {}
  ~Client() {
    if (fd >= 0) close(fd);
  }
  std::vector<std::string> Command(const std::string& cmd, size_t chunks) {
    Send(fd, cmd);
    return ReadChunks(fd, chunks);
  }
  int fd;
};

using Chunks = std::vector<std::string>;

TEST(EcrSimTcp, EchoThenSecondAnswerAsSeparateChunks) {
  Sim sim({"--port=0", "--gap-ms=100"});
  ASSERT_GT(sim.port(), 0);
  Client c(sim);
  ASSERT_GE(c.fd, 0);
  struct Case {
    std::string command;
    Chunks answers;
  } cases[] = {
      {" K", {" K", "K"}},
      {"48F", {"48F", "48F6"}},
      {"47F", {"47F", "47F99MEY012 99MZT123456"}},
      {"41F", {"41F", "41F99123456"}},
      {"\"PANE\"1000H1R", {"\"PANE\"1000H1R", "\"PANE\"1000H1R"}},
      {"J", {"J"}},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(c.Command(k.command, k.answers.size()), k.answers) << k.command;
    EXPECT_TRUE(Quiet(c.fd)) << "extra answer to " << k.command;
  }
}

TEST(EcrSimTcp, IdentityOptionsShapeTheDumpAnswers) {
  Sim sim({"--port", "0", "--mf", "--mf-serial", "12345678", "--rt-serial=ABCDEFGHIJK",
           "--serial", "87654321"});
  Client c(sim);
  EXPECT_EQ(c.Command("48F", 2), (Chunks{"48F", "48F0"}));
  EXPECT_EQ(c.Command("47F", 2), (Chunks{"47F", "47F12345678 ABCDEFGHIJK"}));
  EXPECT_EQ(c.Command("41F", 2), (Chunks{"41F", "41F87654321"}));
}

// The fields as the driver takes them: relative to the first STX (s) and the
// first ETX (e).
struct ReplyFields {
  std::string day, month, year, time, first, receipt;
};

ReplyFields ReadReply(const std::string& reply, bool model_ft) {
  ReplyFields f;
  size_t s = reply.find('\x02');
  size_t e = reply.find('\x03');
  if (s == std::string::npos || e == std::string::npos || e < s + 28) return f;
  size_t shift = model_ft ? 16 : 0;
  f.day = reply.substr(s + 1, 2);
  f.month = reply.substr(s + 4, 2);
  f.year = reply.substr(s + 9, 2);
  f.time = reply.substr(s + 12, 5);
  f.first = reply.substr(e - 11 - shift, 4);
  f.receipt = reply.substr(e - 6 - shift, 4);
  return f;
}

std::string Today(const char* format) {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char buf[32];
  strftime(buf, sizeof buf, format, &local);
  return buf;
}

TEST(EcrSimTcp, ClosingReplyCarriesDateTimeAndNumbersWhereTheDriverReadsThem) {
  for (bool ft : {false, true}) {
    SCOPED_TRACE(ft ? "FT model" : "other models");
    std::vector<std::string> args = {"--port=0", "--gap-ms=100", "--first-receipt=41",
                                     "--first-number=7"};
    if (ft) args.push_back("--model-ft");
    Sim sim(args);
    Client c(sim);
    // 1000 + 2 x 500 - 200 (a return) = 1800 cents to pay.
    c.Command("\"PANE\"1000H1R", 2);
    c.Command("2*500H3R", 2);
    c.Command("9M200H1R", 2);
    EXPECT_EQ(c.Command("500H1T", 2).size(), 2u);
    EXPECT_TRUE(Quiet(c.fd)) << "receipt closed before it was paid";

    std::string before = Today("%d %m %y %H-%M");
    Chunks got = c.Command("1300H2T", 3);
    std::string after = Today("%d %m %y %H-%M");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "1300H2T");
    EXPECT_EQ(got[1], "1300H2T");
    const std::string& reply = got[2];
    EXPECT_GE(reply.size(), 36u);
    EXPECT_EQ(reply.front(), '\x02');
    EXPECT_EQ(reply.back(), '\x03');
    ReplyFields f = ReadReply(reply, ft);
    std::string seen = f.day + " " + f.month + " " + f.year + " " + f.time;
    EXPECT_TRUE(seen == before || seen == after) << seen << " vs " << before;
    EXPECT_EQ(f.first, "0007");
    EXPECT_EQ(f.receipt, "0041");

    // The ACK is taken silently; a tender without amount closes the next receipt.
    Send(c.fd, "\x06");
    EXPECT_TRUE(Quiet(c.fd));
    got = c.Command("1T", 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(ReadReply(got[2], ft).receipt, "0042");
  }
}

TEST(EcrSimTcp, FaultModes) {
  {
    Sim sim({"--port=0", "--silent"});
    Client c(sim);
    Send(c.fd, " K");
    EXPECT_TRUE(Quiet(c.fd, 500));
  }
  {
    Sim sim({"--port=0", "--garbage-echo"});
    Client c(sim);
    Chunks got = c.Command("1000H1R", 2);
    ASSERT_EQ(got.size(), 2u);
    for (const std::string& answer : got) {
      ASSERT_EQ(answer.size(), 7u);
      for (size_t i = 0; i < answer.size(); ++i) EXPECT_NE(answer[i], "1000H1R"[i]) << i;
    }
  }
  {
    Sim sim({"--port=0", "--echo-only", "--xoff"});
    Client c(sim);
    EXPECT_EQ(c.Command("1T", 1), (Chunks{"1T\x13"}));
    EXPECT_TRUE(Quiet(c.fd)) << "echo-only sent a second answer or a closing reply";
  }
  {
    Sim sim({"--port=0", "--no-closing"});
    Client c(sim);
    EXPECT_EQ(c.Command("1T", 2).size(), 2u);
    EXPECT_TRUE(Quiet(c.fd));
  }
  {
    Sim sim({"--port=0", "--drop-after=2"});
    Client c(sim);
    c.Command("a", 1);
    c.Command("j", 1);
    Send(c.fd, "J");
    bool eof = false;
    ReadChunk(c.fd, 3000, &eof);
    EXPECT_TRUE(eof);
    Client again(sim);  // a new connection counts afresh
    EXPECT_EQ(again.Command("a", 1), (Chunks{"a"}));
  }
}

TEST(EcrSimTcp, SurvivesJunkAndAbruptDisconnectsAndServesTheNewestClient) {
  Sim sim({"--port=0"});
  Client first(sim);
  Client second(sim);  // replaces the first
  bool eof = false;
  ReadChunk(first.fd, 3000, &eof);
  EXPECT_TRUE(eof);

  std::string junk(200000, '\0');
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 131 + 7);
  Send(second.fd, junk);
  linger hard{1, 0};  // close with a reset
  setsockopt(second.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(second.fd);
  second.fd = -1;

  Client third(sim);
  EXPECT_EQ(third.Command(" K", 2), (Chunks{" K", "K"}));
}

TEST(EcrSimPty, DumpAnswerComesWithTheEchoInOneWrite) {
  std::string link = testing::TempDir() + "ecr_sim_pty_link";
  Sim sim({"--no-tcp", "--pty-link", link, "--gap-ms=100"}, false, true);
  ASSERT_FALSE(sim.pty_path().empty());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(sim.pty_path(), target);

  int fd = open(sim.pty_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios tio;
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);

  struct Case {
    std::string command;
    Chunks answers;
  } cases[] = {
      {" K", {" K"}},
      {"48F", {"48F6"}},
      {"47F", {"47F99MEY012 99MZT123456"}},
      {"41F", {"41F99123456"}},
      {"1000H1R", {"1000H1R"}},
  };
  for (const Case& k : cases) {
    Send(fd, k.command);
    EXPECT_EQ(ReadChunks(fd, 1), k.answers) << k.command;
    EXPECT_TRUE(Quiet(fd)) << "extra answer to " << k.command;
  }
  // The closing reply follows the tender's echo as a write of its own.
  Send(fd, "1000H1T");
  Chunks got = ReadChunks(fd, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "1000H1T");
  EXPECT_EQ(ReadReply(got[1], false).receipt, "0001");
  close(fd);
}

}  // namespace
