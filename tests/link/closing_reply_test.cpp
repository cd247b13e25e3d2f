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

TEST_F(SendJobLinesTest, NetworkReplyShortChunksDoNotUseAttemptsAndSilenceGivesUp) {
  NetworkEcr({"short", "shorter", Reply("  12", "0345")});
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T", "\x06"}));
  EXPECT_EQ(Output(), kOutput);

  NetworkEcr({});
  p.socket.sends.clear();
  ctx.tenderLineCount = 1;
  const int64_t start = Now();
  EXPECT_TRUE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(Now() - start, 20 + 5 * 1500);  // five time-outs
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T"}));
  EXPECT_EQ(Output(), "");
}

TEST_F(SendJobLinesTest, EndlessShortChunksAreBounded) {
  NetworkEcr({});
  std::function<void()> drip = [&] {
    p.socket.Deliver(0, "abc");
    p.loop.After(40, drip);
  };
  p.loop.Schedule(100, drip);
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(SendJobLines(ctx, {"1T"}));
  EXPECT_EQ(Output(), "");
  EXPECT_LT(Now(), 5 * 10 * 2 * 40 + 1000);
}

}  // namespace
}  // namespace kolibra
