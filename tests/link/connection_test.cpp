// The TCP connection, its events and the serial port set-up.
#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"

namespace kolibra {
namespace {

using Fake = fakes::FakeTcpSocket;

class ConnectionTest : public LinkTest {
 protected:
  ConnectionTest() {
    ctx.ui.optionRete = true;
    ctx.ui.remoteIp = "192.168.1.50";
  }
};

TEST_F(ConnectionTest, ReconnectsWithinThePolls) {
  p.socket.connectDelayMs = 1500;
  EXPECT_TRUE(ResetReStartConnection(ctx, 10));
  EXPECT_EQ(Now(), 2000);
  EXPECT_EQ(p.socket.RemoteHost(), "192.168.1.50");
  EXPECT_EQ(p.socket.remotePort(), 8000);
  EXPECT_EQ(ctx.ui.connShape, kColourGreen);

  // A standing connection is closed first (200 ms) and made again.
  const int64_t start = Now();
  EXPECT_TRUE(ResetReStartConnection(ctx, 10));
  EXPECT_EQ(Now() - start, 200 + 2000);
  EXPECT_EQ(p.socket.connectTimes.size(), 2u);

  p.socket.connectOutcome = Fake::ConnectOutcome::kNever;  // nothing listening: eleven polls
  EXPECT_FALSE(ResetReStartConnection(ctx, 10));
  EXPECT_EQ(Now() - start, 200 + 2000 + 200 + 11000);
  ctx.ui.remoteIp.clear();  // no address: no connect at all
  EXPECT_FALSE(ResetReStartConnection(ctx, 2));
  EXPECT_EQ(p.socket.connectTimes.size(), 3u);
}

TEST_F(ConnectionTest, SocketThatWillNotCloseGivesUp) {
  TraceOnToFile();
  p.socket.ForceState(kSocketConnected);
  p.socket.closeDelayMs = -1;
  EXPECT_FALSE(CloseSocketConnection(ctx));
  EXPECT_EQ(Now(), 200 + 31 * 200);
  EXPECT_EQ(ctx.ui.status, "ERRORE NELLA CHIUSURA DELLA CONNESSIONE");

  const int64_t start = Now();
  OpenSocketConnection(ctx, false);
  EXPECT_EQ(Now() - start, 200 + 21 * 1000);
  EXPECT_TRUE(p.socket.connectTimes.empty());
  const auto lines = TraceLines();
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], " -> Retry n.1 -> ERRORE NELLA CHIUSURA DELLA CONNESSIONE");
  EXPECT_EQ(lines[20], " -> Retry n.21 -> ERRORE NELLA CHIUSURA DELLA CONNESSIONE");
}

TEST_F(ConnectionTest, OnlyTheFirstChunkAfterARearmIsKept) {
  p.socket.ForceState(kSocketConnected);
  WSResetReceive(ctx);
  p.socket.Deliver(10, "ab");
  p.socket.Deliver(20, "cd");
  Pause(ctx, 100);
  EXPECT_EQ(ctx.link.rx.text, "ab");
  EXPECT_TRUE(ctx.link.rx.dataArrived);
  EXPECT_FALSE(ctx.link.rx.armed);
  EXPECT_EQ(p.socket.GetData(), "");  // the second was drained and dropped
}

TEST_F(ConnectionTest, ErrorsSetTheirFlagsAndAreTraced) {
  TraceOnToFile();
  p.socket.ForceState(kSocketConnected);
  ctx.ui.connShape = kColourGreen;
  Winsock1_Error(ctx, 10050, "Network is down", 9);
  EXPECT_TRUE(ctx.link.rx.socketError);
  EXPECT_FALSE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.ui.status, "WS_Error n.10050 - Network is down - 9");
  EXPECT_EQ(ctx.ui.connShape, kColourRed);
  EXPECT_EQ(p.socket.State(), kSocketClosed);

  ctx.ui.status.clear();
  Winsock1_Error(ctx, kSocketErrTimedOut, "Connection timed out", 6);
  EXPECT_FALSE(ctx.link.rx.socketError);
  EXPECT_TRUE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.ui.status, "");
  EXPECT_EQ(p.loop.postedPending(), 0u);  // only a refusal reconnects
  EXPECT_EQ(TraceLines(), std::vector<std::string>({" -> WS_Error n.10050 - Network is down - 9",
                                                    " -> WS_Error n.10060 - Connection timed out - 6"}));
}

TEST_F(ConnectionTest, RefusalReconnectsAfterTheHandlerWithoutNesting) {
  p.socket.connectOutcome = Fake::ConnectOutcome::kRefuse;
  EXPECT_FALSE(ResetReStartConnection(ctx, 10));
  EXPECT_LT(Now(), 14000);  // reconnects inside the polls do not stretch the limit
  EXPECT_TRUE(ctx.link.rx.connectionError);
  EXPECT_EQ(ctx.ui.connShape, kColourRed);
  const std::size_t connects = p.socket.connectTimes.size();
  EXPECT_GT(connects, 3u);  // each refusal started a new connect

  // Refusals keep coming for a minute: the reconnects follow one another.
  Pause(ctx, 60000);
  EXPECT_GT(p.socket.connectTimes.size(), connects + 20);
  EXPECT_LE(p.loop.maxWaitDepth(), 4);
  EXPECT_LE(p.loop.postedPending(), 1u);
  EXPECT_EQ(ctx.ui.resetConnCaption, "Reset Connessione");

  // Once the ECR accepts, the queued reconnect connects and nothing follows.
  p.socket.connectOutcome = Fake::ConnectOutcome::kConnect;
  Pause(ctx, 5000);
  EXPECT_EQ(p.socket.State(), kSocketConnected);
  EXPECT_FALSE(ctx.link.reconnectQueued);
  EXPECT_EQ(p.loop.postedPending(), 0u);
}

TEST_F(ConnectionTest, ButtonsRestoreTheirCaptions) {
  p.socket.ForceState(kSocketConnected);
  std::vector<std::string> captions;
  p.loop.Schedule(1000, [&] { captions.push_back(ctx.ui.resetConnCaption); });
  ResetConnClicked(ctx);
  EXPECT_EQ(captions, std::vector<std::string>({"In Chiusura ..."}));
  EXPECT_EQ(ctx.ui.resetConnCaption, "Reset Connessione");
  EXPECT_EQ(Now(), 200 + 2000 + 2000);
  EXPECT_EQ(p.socket.connectTimes.size(), 1u);

  p.loop.Schedule(Now() + 500, [&] { captions.push_back(ctx.ui.validateIpCaption); });
  ValidateIpClicked(ctx);
  ctx.ui.remoteIp = "10.0.0";
  p.loop.Schedule(Now() + 500, [&] { captions.push_back(ctx.ui.validateIpCaption); });
  ValidateIpClicked(ctx);
  EXPECT_EQ(captions, std::vector<std::string>({"In Chiusura ...", "IP OK", "IP non Valido"}));
  EXPECT_EQ(ctx.ui.validateIpCaption, "Valida IP");
}

TEST(CheckIPAddressTest, Table) {
  const std::pair<std::string, bool> cases[] = {
      {"255.255.255.255", true}, {"1.2.3.4.x", true}, {" 1.2.3.4", true},   {"-1.2.3.4", true},
      {"1.2.3", false},          {"1.2.3.256", false}, {"1..3.4", false},    {"1.2.3.4e9", false},
  };
  for (const auto& [address, ok] : cases) EXPECT_EQ(CheckIPAddress(address), ok) << address;
}

TEST_F(LinkTest, TraceStampIsUtcWithFixedWidths) {
  EXPECT_EQ(TraceTimeStamp(CivilTime{2026, 12, 5, 9, 5, 7, 4}), "20261205_090507.004 <--> ");
  p.loop.SetLocalTime(CivilTime{2026, 1, 1, 0, 30, 0, 0}, 60);
  EXPECT_EQ(TraceTimeStamp(ctx), "20251231_233000.000 <--> ");
  // Ticked but no file open: nothing is written and nothing breaks.
  ctx.ui.trace.value = 1;
  EXPECT_FALSE(TraceOn(ctx));
  Winsock1_Connect(ctx);
  TraceOnToFile();
  ctx.ui.trace.value = 0;
  TraceLine(ctx, " -> hidden");
  ctx.ui.trace.value = 1;
  Winsock1_Connect(ctx);
  TraceRaw(ctx, "raw");
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("trace.txt")), "20251231_233000.000 <-->  -> Connection OK\r\nraw\r\n");
}

using SerialSetup = LinkTest;

TEST_F(SerialSetup, PortSettingsAndBaudFile) {
  ctx.ui.optionRs232 = true;
  ctx.baudRate = 115200;
  EXPECT_TRUE(ConfigureCommPort(ctx, 3));
  EXPECT_EQ(p.serial.portNumber, 3);
  EXPECT_EQ(p.serial.settings, "115200,N,8,1");

  ctx.cycle.currentSlot = 2;
  OpenCommPort(ctx);
  EXPECT_TRUE(p.serial.IsOpen());
  EXPECT_EQ(p.serial.portNumber, 2);
  EXPECT_FALSE(PrepareLink(ctx, 4));  // refused while open
  CloseCommPort(ctx);
  EXPECT_FALSE(p.serial.IsOpen());

  ctx.ui.baudText = "19200";
  StoreBaudRate(ctx);
  EXPECT_EQ(ctx.baudRate, 19200);
  EXPECT_EQ(fakes::ReadFileBytes(dir.File("KBChkBd.txt")), "19200\r\n");
  EXPECT_TRUE(ConfigureCommPort(ctx, 1));
  EXPECT_EQ(p.serial.settings, "19200,N,8,1");

  p.serial.failConfigure = true;
  EXPECT_FALSE(PrepareLink(ctx, 1));
  ctx.ui.optionRs232 = false;
  ctx.ui.optionRete = true;
  for (int16_t n = 1; n <= 4; ++n) EXPECT_TRUE(PrepareLink(ctx, n));
}

TEST_F(SerialSetup, EachSlotBoxSwitchesPollingByItself) {
  ctx.cycle.timer21 = p.loop.CreateTimer([] {});
  ctx.ui.slotCheck[0].value = 1;
  SlotCheckClicked(ctx, 1);
  EXPECT_TRUE(p.loop.TimerEnabled(ctx.cycle.timer21));
  EXPECT_EQ(p.loop.TimerInterval(ctx.cycle.timer21), 1000);
  EXPECT_FALSE(ctx.ui.frame3Enabled);
  EXPECT_TRUE(ctx.ui.testButtonEnabled);
  ctx.ui.slotCheck[1].value = 0;
  SlotCheckClicked(ctx, 2);
  EXPECT_FALSE(p.loop.TimerEnabled(ctx.cycle.timer21));
  EXPECT_TRUE(ctx.ui.frame3Enabled);
  EXPECT_TRUE(ctx.ui.frame4Enabled);
  EXPECT_FALSE(ctx.ui.testButtonEnabled);
}

}  // namespace
}  // namespace kolibra
