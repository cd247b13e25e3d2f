// The link over real descriptors: loopback TCP and a pseudo-terminal, against
// the ECR simulator run as a child process. Skipped when it is not built.
#include <gtest/gtest.h>

#include "core/app_context.h"
#include "fakes/fake_platform.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"
#include "link/transmission.h"
#include "platform/posix/posix_platform.h"
#include "support/child_process.h"

namespace kolibra {
namespace {

class RealLinkTest : public ::testing::Test {
 protected:
  RealLinkTest() : ctx(posix.platform()) {
    ctx.link.outputPath = dir.File("SR_OUT.001");
    InitLink(ctx);
  }
  ~RealLinkTest() override { posix.socket().Close(); }

  // Starts the simulator on TCP; false to skip.
  bool Tcp(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"--port", "0", "--exit-after-ms=60000"});
    if (!sim.Start(extra)) return false;
    ctx.settings.linkMode = LinkMode::kNetwork;
    ctx.settings.address = "127.0.0.1";
    ctx.link.remotePort = sim.Port();
    return true;
  }
  // Starts the simulator on a pty and opens the port; false to skip.
  bool Pty(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), {"--no-tcp", "--pty", "--exit-after-ms=60000"});
    if (!sim.Start(extra)) return false;
    ctx.settings.linkMode = LinkMode::kSerial;
    posix.serial().SetDevicePath(1, sim.Endpoint("pty"));
    ctx.cycle.currentSlot = 1;
    OpenSerialPort(ctx);
    return posix.serial().IsOpen();
  }
  std::string Output() { return fakes::ReadFileBytes(ctx.link.outputPath); }

  PosixPlatform posix;
  fakes::ScratchDir dir;
  AppContext ctx;
  support::EcrSimulator sim;
};

#define SKIP_WITHOUT(cond) \
  if (!(cond)) GTEST_SKIP() << "ECR simulator not available"

const std::vector<std::string> kReceipt = {"1000H1R", "250H2R", "1250H1T"};

TEST_F(RealLinkTest, TcpReceiptBecomesTheOutputFile) {
  SKIP_WITHOUT(Tcp());
  ASSERT_TRUE(Reconnect(ctx, 10));
  EXPECT_TRUE(SendCommand(ctx, " K"));
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(SendJobLines(ctx, kReceipt));
  const std::string out = Output();
  EXPECT_EQ(out.rfind("TIME,CASS. 1 ", 0), 0u) << out;
  EXPECT_NE(out.find("\r\nDATE,"), std::string::npos) << out;
  EXPECT_NE(out.find("  SCONTR. N. 0001,E,A1;\r\n"), std::string::npos) << out;
}

TEST_F(RealLinkTest, PtyReceiptWithXoffPauses) {
  SKIP_WITHOUT(Pty({"--xoff"}));
  EXPECT_TRUE(SendCommand(ctx, " K"));
  ctx.tenderLineCount = 1;
  const int64_t start = posix.loop().NowMs();
  EXPECT_TRUE(SendJobLines(ctx, kReceipt));
  EXPECT_GE(posix.loop().NowMs() - start, 3 * 200);  // one XOFF pause per line
  EXPECT_NE(Output().find("  SCONTR. N. 0001,E,A1;\r\n"), std::string::npos) << Output();
}

TEST_F(RealLinkTest, RefusedConnectionFailsTheSetUp) {
  SKIP_WITHOUT(Tcp({"--exit-after-ms", "1"}));
  ::usleep(300 * 1000);  // the simulator has gone: nothing listens
  EXPECT_FALSE(Reconnect(ctx, 1));
  EXPECT_TRUE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.state.connection, ConnectionState::kClosed);
  EXPECT_FALSE(SendCommand(ctx, " K"));
}

}  // namespace
}  // namespace kolibra
