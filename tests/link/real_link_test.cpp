// The link over real descriptors: loopback TCP and a pseudo-terminal, against
// the ECR simulator run as a child process. Skipped when it is not built.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "fakes/fake_platform.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/transmission.h"
#include "platform/posix/posix_platform.h"

namespace kolibra {
namespace {

std::string SimulatorPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path own = fs::path(KOLIBRA_BINARY_DIR) / "kolibra-ecr-sim";
  if (fs::exists(own, ec)) return own.string();
  for (const auto& entry : fs::directory_iterator(KOLIBRA_SOURCE_DIR, ec)) {
    const fs::path candidate = entry.path() / "kolibra-ecr-sim";
    if (entry.path().filename().string().rfind("build", 0) == 0 && fs::exists(candidate, ec)) {
      return candidate.string();
    }
  }
  return {};
}

// The simulator as a child process; its endpoint lines are read on start.
class Simulator {
 public:
  bool Start(std::vector<std::string> args, int endpoints) {
    const std::string path = SimulatorPath();
    if (path.empty()) return false;
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(path.c_str()));
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(path.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    std::string buffer;
    while (static_cast<int>(lines_.size()) < endpoints) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
      char c;
      if (::read(out_, &c, 1) != 1) return false;
      if (c == '\n') {
        lines_.push_back(buffer);
        buffer.clear();
      } else {
        buffer += c;
      }
    }
    return true;
  }
  ~Simulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  // The value of the endpoint line "<kind> <value>".
  std::string Endpoint(const std::string& kind) const {
    for (const auto& l : lines_) {
      if (l.rfind(kind + " ", 0) == 0) return l.substr(kind.size() + 1);
    }
    return {};
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::vector<std::string> lines_;
};

class RealLinkTest : public ::testing::Test {
 protected:
  RealLinkTest() : ctx(posix.platform()) {
    ctx.link.outputPath = dir.File("SR_OUT.001");
    InitLink(ctx);
  }
  ~RealLinkTest() override { posix.socket().Close(); }

  // Starts the simulator on TCP and connects; false to skip.
  bool Tcp(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"--port", "0"});
    if (!sim.Start(extra, 1)) return false;
    const std::string ep = sim.Endpoint("tcp");
    const auto colon = ep.rfind(':');
    ctx.ui.optionRete = true;
    ctx.ui.remoteIp = ep.substr(0, colon);
    ctx.link.remotePort = std::stoi(ep.substr(colon + 1));
    return true;
  }
  bool Pty(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"--no-tcp", "--pty"});
    if (!sim.Start(extra, 1)) return false;
    ctx.ui.optionRs232 = true;
    posix.serial().SetDevicePath(1, sim.Endpoint("pty"));
    ctx.cycle.currentSlot = 1;
    OpenCommPort(ctx);
    return posix.serial().IsOpen();
  }
  std::string Output() { return fakes::ReadFileBytes(ctx.link.outputPath); }

  PosixPlatform posix;
  fakes::ScratchDir dir;
  AppContext ctx;
  Simulator sim;
};

#define SKIP_WITHOUT(cond) \
  if (!(cond)) GTEST_SKIP() << "ECR simulator not available"

const std::vector<std::string> kReceipt = {"1000H1R", "250H2R", "1250H1T"};

TEST_F(RealLinkTest, TcpReceiptBecomesTheOutputFile) {
  SKIP_WITHOUT(Tcp());
  ASSERT_TRUE(ResetReStartConnection(ctx, 10));
  EXPECT_TRUE(SendString(ctx, " K"));
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(DoSendFile(ctx, kReceipt));
  const std::string out = Output();
  EXPECT_EQ(out.rfind("TIME,CASS. 1 ", 0), 0u) << out;
  EXPECT_NE(out.find("\r\nDATE,"), std::string::npos) << out;
  EXPECT_NE(out.find("  SCONTR. N. 0001,E,A1;\r\n"), std::string::npos) << out;
}

TEST_F(RealLinkTest, PtyReceiptWithXoffPauses) {
  SKIP_WITHOUT(Pty({"--xoff"}));
  EXPECT_TRUE(SendString(ctx, " K"));
  ctx.tenderLineCount = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(DoSendFile(ctx, kReceipt));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 3 * 200);  // one XOFF pause per line
  EXPECT_NE(Output().find("  SCONTR. N. 0001,E,A1;\r\n"), std::string::npos) << Output();
}

TEST_F(RealLinkTest, SilentEcrOnThePtyTimesOut) {
  SKIP_WITHOUT(Pty({"--silent"}));
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  EXPECT_TRUE(SendStringSerial(ctx, "1000H1R"));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 4490);
  EXPECT_LT(ms, 5500);
  EXPECT_LT(double(std::clock() - cpu) / CLOCKS_PER_SEC, 0.05);  // blocked, did not spin
  EXPECT_EQ(ctx.link.answer, "");
}

TEST_F(RealLinkTest, RefusedConnectionFailsTheSetUp) {
  SKIP_WITHOUT(Tcp({"--exit-after-ms", "1"}));
  ::usleep(300 * 1000);  // the simulator has gone: nothing listens
  EXPECT_FALSE(ResetReStartConnection(ctx, 1));
  EXPECT_TRUE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.ui.connShape, kColourRed);
  EXPECT_FALSE(SendString(ctx, " K"));
}

}  // namespace
}  // namespace kolibra
