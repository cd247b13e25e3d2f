// The receipt's closing reply and the output file it becomes.
#include <gtest/gtest.h>

#include "link/closing_reply.h"
#include "link/link_fixture.h"

namespace kolibra {
namespace {

const std::string kStx = "\x02";
const std::string kEtx = "\x03";
const std::string kHead = kStx + "05-12-2026 09-41";

// STX, date and time, filler, then first number, one character, receipt
// number and two characters before ETX (the numbers end 3 before ETX).
std::string Reply(const std::string& first, const std::string& number, const std::string& afterNumbers = "") {
  return kHead + "ABCDEFG" + first + "-" + number + "ZZ" + afterNumbers + kEtx;
}

TEST(OutputRecords, FieldPositionsAndNumberFormats) {
  struct Case {
    std::string reply;
    bool footerRt;
    bool modelFt;
    std::string number;
  };
  const std::string sixteen = "0123456789abcdef";
  const Case cases[] = {
      {Reply("  12", "0345"), false, false, "0345"},
      {Reply("  12", "  45"), false, false, "  45"},
      {Reply("  12", "0345"), true, false, "0012-0345"},
      {Reply("AB12", "  78"), true, false, "AB12-0078"},
      {Reply(" -12", "78  "), true, false, "-0012-0078"},
      {Reply("0007", "0123", sixteen), true, true, "0007-0123"},
      {Reply("0007", "0123", sixteen), false, true, "0123"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    const auto r = BuildOutputRecords(c.reply, c.footerRt, c.modelFt);
    ASSERT_TRUE(!r.HasError() && r.Value().has_value());
    EXPECT_EQ(r.Value()->time, "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;");
    EXPECT_EQ(r.Value()->date, "DATE,05/12/26  SCONTR. N. " + c.number + ",E,A1;");
  }
}

TEST(OutputRecords, MissingFramesWriteNothingAndShortRepliesFault) {
  // 0 no records, 1 records, 5 error 5
  const auto outcome = [](const std::string& reply, bool footerRt, bool modelFt) {
    const auto r = BuildOutputRecords(reply, footerRt, modelFt);
    return r.HasError() ? r.Error().number : r.Value().has_value() ? 1 : 0;
  };
  EXPECT_EQ(outcome(kHead + std::string(20, 'x'), false, false), 0);
  EXPECT_EQ(outcome(std::string(40, 'x') + kEtx, false, false), 0);
  // Fields past the end of the reply, or before its start (ETX early).
  EXPECT_EQ(outcome(kStx + "05-12" + kEtx, false, false), 5);
  EXPECT_EQ(outcome(kEtx + kHead, false, false), 5);
  // The FT form reads 16 further back: a reply long enough for the others is not.
  const std::string etxAt21 = std::string(21, 'x') + kEtx + kHead;
  EXPECT_EQ(outcome(etxAt21, true, false), 1);
  EXPECT_EQ(outcome(etxAt21, false, true), 5);
}

class SendJobLinesTest : public LinkTest {
 protected:
  // A serial ECR that echoes every line and sends the closing reply after "1T".
  void SerialEcr(const std::string& reply) {
    UseSerial();
    p.serial.responder = [this, reply](const std::string& s) {
      if (s == "\x06") return;
      p.serial.QueueInput(10, s);
      if (s == "1T") p.serial.QueueInput(100, reply);
    };
  }
  // A network ECR: echo and second answer per line; after "1T" the chunks
  // arrive 50 ms apart.
  void NetworkEcr(std::vector<std::string> chunks) {
    UseNetwork();
    p.socket.responder = [this, chunks](const std::string& s) {
      if (s == "\x06") return;
      p.socket.Deliver(10, s);
      p.socket.Deliver(20, "ok");
      if (s != "1T") return;
      for (std::size_t i = 0; i < chunks.size(); ++i) p.socket.Deliver(100 + 50 * int64_t(i), chunks[i]);
    };
  }
  std::string Output() { return fakes::ReadFileBytes(ctx.link.outputPath); }
};

const std::string kOutput =
    "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;\r\n"
    "DATE,05/12/26  SCONTR. N. 0345,E,A1;\r\n";


TEST_F(SendJobLinesTest, ClosingReplyOnlyAfterTheLastPaymentLine) {
  SerialEcr(Reply("  12", "0345"));
  ctx.tenderLineCount = 2;
  EXPECT_TRUE(SendJobLines(ctx, {"1000H1R", "5T", "1000H1R", "1T"}));
  EXPECT_EQ(p.serial.writes, std::vector<std::string>({"1000H1R", "5T", "1000H1R", "1T", "\x06"}));
  EXPECT_EQ(ctx.tenderLineCount, 0);
  EXPECT_EQ(Output(), kOutput);
  EXPECT_FALSE(ctx.link.output.IsOpen());
}

TEST_F(SendJobLinesTest, ShortReplyIsReportedAsAFailure) {
  SerialEcr(kStx + "05-12-2026" + kEtx);
  ctx.tenderLineCount = 1;
  EXPECT_FALSE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(p.notifier.messages, std::vector<std::string>({"Error 5 (Invalid procedure call or argument) in "
                                                           "procedure DoSendFile of Modulo Module1"}));
  EXPECT_FALSE(ctx.link.output.IsOpen());
  EXPECT_EQ(Output(), "");
}

TEST_F(SendJobLinesTest, NetworkReplyIsJoinedUntilEtxAndSilenceIsAFailure) {
  NetworkEcr({"short", "shorter", Reply("  12", "0345")});
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T", "\x06"}));
  EXPECT_EQ(Output(), kOutput);

  NetworkEcr({});
  p.socket.sends.clear();
  ctx.tenderLineCount = 1;
  const int64_t start = Now();
  EXPECT_FALSE(SendJobLines(ctx, {"1T"}));  // the receipt may be closed or not
  EXPECT_EQ(Now() - start, 20 + 5 * 1500);  // five time-outs
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T"}));
  EXPECT_EQ(Output(), "");
  EXPECT_TRUE(ctx.link.receiptMayBeClosed);
}

// However the ECR's bytes are cut into reads, the reply reaches the output
// file: split anywhere, run together with the payment line's answers, or
// (serial) byte by byte and longer than the short form.
TEST_F(SendJobLinesTest, ClosingReplyHoweverItIsCut) {
  const std::string reply = Reply("  12", "0345");
  const std::string ft = Reply("  12", "0345", "0123456789abcdef");
  const struct {
    const char* name;
    bool network;
    bool modelFt;
    std::vector<std::pair<int64_t, std::string>> after1T;  // the ECR's reads after "1T"
  } cases[] = {
      {"tcp, 20 + 16", true, false, {{10, "1T"}, {20, "1T"}, {100, reply.substr(0, 20)}, {150, reply.substr(20)}}},
      {"tcp, all in one read", true, false, {{10, "1T1T" + reply}}},
      {"tcp, answer and reply in one read", true, false, {{10, "1T"}, {20, "1T" + reply.substr(0, 9)},
                                                          {60, reply.substr(9)}}},
      {"tcp, reply in place of the answer", true, false, {{10, "1T"}, {20, reply}}},
      {"serial, echo and reply in one read", false, false, {{10, "1T" + reply}}},
      {"serial, reply after the echo's read", false, false, {{10, "1T" + reply.substr(0, 5)},
                                                             {40, reply.substr(5)}}},
      {"serial, FT reply byte by byte", false, true, {{10, "1T"}}},
      // XOFF after the echo from an ECR that never sends XON: no hold.
      {"serial, XOFF never released", false, false, {{10, "1T\x13"}, {40, reply}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakePlatform fp;
    fakes::ScratchDir d;
    AppContext cx(fp.platform);
    InitLink(cx);
    cx.link.outputPath = d.File("SR_OUT.001");
    cx.settings.linkMode = c.network ? LinkMode::kNetwork : LinkMode::kSerial;
    cx.dump.tenderFamily = c.modelFt ? "FT" : "ST";
    cx.tenderLineCount = 1;
    fp.socket.ForceState(kSocketConnected);
    ASSERT_TRUE(fp.serial.Configure(1, "9600,N,8,1") && fp.serial.Open());
    const auto respond = [&](const std::string& s) {
      if (s != "1T") return;
      for (const auto& [at, bytes] : c.after1T) {
        if (c.network) fp.socket.Deliver(at, bytes);
        if (!c.network) fp.serial.QueueInput(at, bytes);
      }
      if (c.modelFt) {  // about 1 ms a byte at 9600 baud
        for (std::size_t i = 0; i < ft.size(); ++i) fp.serial.QueueInput(100 + int64_t(i), ft.substr(i, 1));
      }
    };
    fp.socket.responder = respond;
    fp.serial.responder = respond;
    EXPECT_TRUE(SendJobLines(cx, {"1T"}));
    EXPECT_EQ(fakes::ReadFileBytes(cx.link.outputPath), kOutput);
    const auto& sent = c.network ? fp.socket.sends : fp.serial.writes;
    EXPECT_EQ(sent, std::vector<std::string>({"1T", "\x06"}));
    EXPECT_LT(fp.loop.NowMs(), 1000);
  }
}

TEST_F(SendJobLinesTest, EndlessShortChunksAreBounded) {
  NetworkEcr({});
  std::function<void()> drip = [&] {
    p.socket.Deliver(0, "abc");
    p.loop.After(40, drip);
  };
  p.loop.Schedule(100, drip);
  ctx.tenderLineCount = 1;
  EXPECT_FALSE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(Output(), "");
  EXPECT_LT(Now(), 5 * 20 * 40 + 1000);
}

}  // namespace
}  // namespace kolibra
