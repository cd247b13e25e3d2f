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

TEST(OutputRecords, FieldsAndNumberFormats) {
  struct Case {
    std::string reply;
    bool footerRt;
    bool modelFt;
    std::string date;
  };
  const std::string sixteen = "0123456789abcdef";
  const Case cases[] = {
      {Reply("  12", "0345"), false, false, "DATE,05/12/26  SCONTR. N. 0345,E,A1;"},
      {Reply("  12", "  45"), false, false, "DATE,05/12/26  SCONTR. N.   45,E,A1;"},
      {Reply("  12", "0345"), true, false, "DATE,05/12/26  SCONTR. N. 0012-0345,E,A1;"},
      {Reply("AB12", "  78"), true, false, "DATE,05/12/26  SCONTR. N. AB12-0078,E,A1;"},
      {Reply("0007", "0123", sixteen), true, true, "DATE,05/12/26  SCONTR. N. 0007-0123,E,A1;"},
      {Reply("0007", "0123", sixteen), false, true, "DATE,05/12/26  SCONTR. N. 0123,E,A1;"},
  };
  for (const Case& c : cases) {
    const auto r = BuildOutputRecords(c.reply, c.footerRt, c.modelFt);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->time, "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;");
    EXPECT_EQ(r->date, c.date);
  }
  EXPECT_EQ(Reply("  12", "0345").size(), 36u);
}

TEST(OutputRecords, MissingFramesWriteNothingAndShortRepliesFault) {
  EXPECT_FALSE(BuildOutputRecords(kHead + std::string(20, 'x'), false, false));
  EXPECT_FALSE(BuildOutputRecords(std::string(40, 'x') + kEtx, false, false));
  EXPECT_FALSE(BuildOutputRecords("", true, true));
  // Fields past the end of the reply, or before its start (ETX early).
  const std::string tooShort[] = {kStx + "05-12" + kEtx, kHead.substr(0, 14) + kEtx, kEtx + kHead};
  for (const auto& r : tooShort) EXPECT_THROW(BuildOutputRecords(r, false, false), LinkFault) << r;
  // Fields that exist for the plain form may not exist for the RT or FT form.
  const std::string etxAt8 = "abcdefgh" + kEtx + kHead;
  EXPECT_NO_THROW(BuildOutputRecords(etxAt8, false, false));
  EXPECT_THROW(BuildOutputRecords(etxAt8, true, false), LinkFault);
  const std::string etxAt21 = std::string(21, 'x') + kEtx + kHead;
  EXPECT_NO_THROW(BuildOutputRecords(etxAt21, true, false));
  EXPECT_THROW(BuildOutputRecords(etxAt21, false, true), LinkFault);
}

TEST(OutputRecords, FourDigitFormat) {
  const std::pair<std::string, std::string> cases[] = {
      {"  12", "0012"}, {"12  ", "0012"}, {" -12", "-0012"}, {"AB12", "AB12"}, {"1 2 ", "1 2 "}, {"+7", "0007"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(FormatFourDigits(in), out) << in;
}

class DoSendFileTest : public LinkTest {
 protected:
  // An ECR that echoes every line and sends the closing reply after "1T".
  void SerialEcr(const std::string& reply) {
    if (!p.serial.IsOpen()) UseSerial();
    p.serial.responder = [this, reply](const std::string& s) {
      if (s == "\x06") return;
      p.serial.QueueInput(10, s);
      if (s == "1T") p.serial.QueueInput(100, reply);
    };
  }
  std::string Output() { return fakes::ReadFileBytes(ctx.link.outputPath); }
};

const std::string kOutput =
    "TIME,CASS. 1 09:41 CASSA   1 ,E,A1;\r\n"
    "DATE,05/12/26  SCONTR. N. 0345,E,A1;\r\n";

TEST_F(DoSendFileTest, ClosingReplyOnlyAfterTheLastPaymentLine) {
  SerialEcr(Reply("  12", "0345"));
  ctx.tenderLineCount = 2;
  EXPECT_TRUE(DoSendFile(ctx, {"1000H1R", "5T", "1000H1R", "1T"}));
  EXPECT_EQ(p.serial.writes, std::vector<std::string>({"1000H1R", "5T", "1000H1R", "1T", "\x06"}));
  EXPECT_EQ(ctx.tenderLineCount, 0);
  EXPECT_EQ(Output(), kOutput);
  EXPECT_EQ(ctx.link.output, nullptr);
}

TEST_F(DoSendFileTest, AckGoesOutWithoutReplyAndNoTenderCountReadsNoReply) {
  SerialEcr("");
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(DoSendFile(ctx, {"1T"}));
  EXPECT_EQ(p.serial.writes.back(), "\x06");
  EXPECT_EQ(Output(), "");

  // No tender count: no reply is read and the old output is emptied. "AT" has
  // no digit before T.
  SerialEcr(Reply("  12", "0345"));
  p.serial.writes.clear();
  fakes::WriteFileBytes(ctx.link.outputPath, "old");
  EXPECT_TRUE(DoSendFile(ctx, {"1000H1R", "1T", "AT"}));
  EXPECT_EQ(p.serial.writes.size(), 3u);
  EXPECT_TRUE(p.fs.Exists(ctx.link.outputPath));
  EXPECT_EQ(Output(), "");
}

TEST_F(DoSendFileTest, ShortReplyOrUnwritableOutputIsAnUnexpectedFailure) {
  SerialEcr(kStx + "05-12-2026" + kEtx);
  ctx.tenderLineCount = 1;
  EXPECT_FALSE(DoSendFile(ctx, {"1T"}));
  EXPECT_EQ(p.notifier.messages, std::vector<std::string>({"Error 5 (Invalid procedure call or argument) in "
                                                           "procedure DoSendFile of Modulo Module1"}));
  EXPECT_EQ(ctx.link.output, nullptr);
  EXPECT_EQ(Output(), "");

  p.serial.writes.clear();
  ctx.link.outputPath = dir.File("missing/SR_OUT.001");
  EXPECT_FALSE(DoSendFile(ctx, {"1T"}));
  ASSERT_EQ(p.notifier.messages.size(), 2u);
  EXPECT_NE(p.notifier.messages[1].find("in procedure DoSendFile of Modulo Module1"), std::string::npos);
  EXPECT_TRUE(p.serial.writes.empty());
}

class NetworkReplyTest : public DoSendFileTest {
 protected:
  // Echo and second answer for every line; after "1T" the chunks of
  // `reply` arrive 50 ms apart.
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
};

TEST_F(NetworkReplyTest, ShortChunkPairsDoNotUseAttempts) {
  NetworkEcr({"short", "shorter", Reply("  12", "0345")});
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(DoSendFile(ctx, {"1T"}));
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T", "\x06"}));
  EXPECT_EQ(Output(), kOutput);
}

TEST_F(NetworkReplyTest, FiveTimeOutsLeaveTheOutputEmpty) {
  NetworkEcr({});
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(DoSendFile(ctx, {"1T"}));
  EXPECT_EQ(Now(), 20 + 5 * 1500);
  EXPECT_EQ(p.socket.sends, std::vector<std::string>({"1T"}));
  EXPECT_EQ(Output(), "");
}

TEST_F(NetworkReplyTest, EndlessShortChunksAreBounded) {
  NetworkEcr({});
  std::function<void()> drip = [&] {
    p.socket.Deliver(0, "abc");
    p.loop.After(40, drip);
  };
  p.loop.Schedule(100, drip);
  ctx.tenderLineCount = 1;
  EXPECT_TRUE(DoSendFile(ctx, {"1T"}));
  EXPECT_EQ(Output(), "");
  EXPECT_LT(Now(), 5 * 10 * 2 * 40 + 1000);
}

TEST_F(NetworkReplyTest, SocketFailureDuringTheReplyFailsTheStream) {
  NetworkEcr({});
  p.socket.InjectError(200, kSocketErrAborted, "Connection is aborted");
  ctx.tenderLineCount = 1;
  EXPECT_FALSE(DoSendFile(ctx, {"1T", "2T"}));
  EXPECT_EQ(p.socket.sends.size(), 1u);
  EXPECT_EQ(ctx.link.output, nullptr);
  EXPECT_TRUE(ctx.link.rx.connectionError);
}

}  // namespace
}  // namespace kolibra
