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

// The records, or none when a frame is missing, or error 5 when a field lies
// past the end of the reply or before its start (ETX early).
TEST(OutputRecords, FieldPositionsNumberFormatsAndShortReplies) {
  const std::string sixteen = "0123456789abcdef";
  // The FT form reads 16 further back: a reply long enough for the others is not.
  const std::string etxAt21 = std::string(21, 'x') + kEtx + kHead;
  const struct {
    std::string reply;
    bool footerRt, modelFt;
    std::string number;  // "-": no records; "5": error 5; "?": records
  } cases[] = {
      {Reply("  12", "0345"), false, false, "0345"},
      {Reply("  12", "  45"), false, false, "  45"},
      {Reply("  12", "0345"), true, false, "0012-0345"},
      {Reply("AB12", "  78"), true, false, "AB12-0078"},
      {Reply(" -12", "78  "), true, false, "-0012-0078"},
      {Reply("0007", "0123", sixteen), true, true, "0007-0123"},
      {Reply("0007", "0123", sixteen), false, true, "0123"},
      {kHead + std::string(20, 'x'), false, false, "-"},
      {std::string(40, 'x') + kEtx, false, false, "-"},
      {kStx + "05-12" + kEtx, false, false, "5"},
      {kEtx + kHead, false, false, "5"},
      {etxAt21, true, false, "?"},
      {etxAt21, false, true, "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const auto r = BuildOutputRecords(c.reply, c.footerRt, c.modelFt);
    if (c.number == "5" || c.number == "-") {
      EXPECT_EQ(r.HasError() ? std::to_string(r.Error().number) : r.Value().has_value() ? "?" : "-", c.number);
      continue;
    }
    ASSERT_TRUE(!r.HasError() && r.Value().has_value());
    if (c.number == "?") continue;
    EXPECT_EQ(r.Value()->time, "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;");
    EXPECT_EQ(r.Value()->date, "DATE,05/12/26  SCONTR. N. " + c.number + ",E,A1;");
  }
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
  // A network ECR: echo and second answer per line, no closing reply.
  void NetworkEcr() {
    UseNetwork();
    p.socket.responder = [this](const std::string& s) {
      p.socket.Deliver(10, s);
      p.socket.Deliver(20, "ok");
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

// Silence, or short chunks without end, after the payment line: a failure
// within its time-outs, and the receipt may be closed or not.
TEST_F(SendJobLinesTest, NetworkSilenceOrEndlessChunksAfterThePaymentLineFail) {
  NetworkEcr();
  ctx.tenderLineCount = 1;
  EXPECT_FALSE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(Now(), 20 + 5 * 1500);  // five time-outs
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T"}));
  EXPECT_EQ(Output(), "");
  EXPECT_TRUE(ctx.link.receiptMayBeClosed);

  std::function<void()> drip = [&] {
    p.socket.Deliver(0, "abc");
    p.loop.After(40, drip);
  };
  const int64_t start = Now();
  p.loop.Schedule(start + 100, drip);
  ctx.tenderLineCount = 1;
  EXPECT_FALSE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(Output(), "");
  EXPECT_LT(Now() - start, 5 * 20 * 40 + 1000);
}

// However the ECR's bytes are cut into reads, the reply reaches the output
// file: split anywhere, after short reads, run together with the payment
// line's answers, or (serial) byte by byte and longer than the short form.
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
      {"tcp, joined until ETX", true, false, {{10, "1T"}, {20, "ok"}, {100, "short"}, {150, "shorter"}, {200, reply}}},
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
    LinkRig r;
    auto& fp = r.p;
    auto& cx = r.ctx;
    r.UseSerial();
    if (c.network) r.UseNetwork();
    cx.dump.tenderFamily = c.modelFt ? "FT" : "ST";
    cx.tenderLineCount = 1;
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

}  // namespace
}  // namespace kolibra
