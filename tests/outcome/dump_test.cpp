// The configuration dump against a scripted ECR on the serial fake.
#include "outcome/dump.h"

#include <gtest/gtest.h>

#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

// Identification answer whose last 20 characters are MF serial (8), one
// unused character and the RT serial (11).
std::string Ident(const std::string& mf, const std::string& rt) { return "47F" + mf + "X" + rt; }

std::string Matr(const std::string& serial, const char* state) {
  return serial + "\r\n" + state + "\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n";
}

void ExpectIdleAfterDump(Rig& r) {
  EXPECT_FALSE(r.ctx.dump.inProgress);
  EXPECT_FALSE(r.ctx.dump.running);
  EXPECT_EQ(r.ctx.cycle.pauseMarker, 1);
  EXPECT_TRUE(r.Timer21Armed(1000));
  EXPECT_FALSE(r.fp.serial.IsOpen());
  EXPECT_EQ(r.ctx.link.trace.file, nullptr);
}

TEST(Dump, RtEcrSetsFooterPaymentsAndWritesRtSerial) {
  Rig r;
  r.ctx.ui.trace.value = 1;
  r.ctx.ui.paymentsIndex = 2;
  r.answers["48F"] = "48F6";
  r.answers["47F"] = Ident("12345678", "99MZT123456");
  r.answers["41F"] = "41F87654321";

  StartDump(r.ctx, 1);

  EXPECT_TRUE(r.ctx.dump.rt);
  EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
  EXPECT_EQ(r.ctx.dump.rtSerial, "99MZT123456");
  EXPECT_EQ(r.ctx.dump.tenderFamily, "ZT");
  EXPECT_EQ(r.ctx.ui.paymentsIndex, 0);
  EXPECT_EQ(r.ctx.ui.footerRt.value, 1);
  EXPECT_EQ(r.ctx.ui.serialNumber, "99MZT123456");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("99MZT123456", "Stato: RT"));
  EXPECT_FALSE(r.ctx.dump.pending[0]);
  ExpectIdleAfterDump(r);

  // The answers as the dump traces them, right after the time stamp.
  const std::string trace = fakes::ReadFileBytes(JoinPath(r.dir.path(), "tracedump.txt"));
  for (const char* answer : {"6", "12345678X99MZT123456", "87654321"}) {
    EXPECT_NE(trace.find(std::string("<-->  <-- ") + answer + "\r\n"), std::string::npos)
        << answer << "\n" << trace;
  }
}

TEST(Dump, TraceFileReplacedButEmptyWithoutTrace) {
  Rig r;
  fakes::WriteFileBytes(JoinPath(r.dir.path(), "tracedump.txt"), "old dump\r\n");
  r.answers["48F"] = "48F6";
  r.answers["41F"] = "41F87654321";
  StartDump(r.ctx, 1);
  EXPECT_EQ(fakes::ReadFileBytes(JoinPath(r.dir.path(), "tracedump.txt")), "");
  EXPECT_TRUE(r.Has("SR_MATR"));
}

TEST(Dump, TenderFamilyChoosesNumberOfPayments) {
  const struct {
    const char* family;
    int index;
  } cases[] = {{"ZT", 0}, {"AT", 0}, {"ST", 1}, {"OT", 2}, {"ET", 2}, {"FT", 2}, {"QQ", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family);
    Rig r;
    r.ctx.ui.paymentsIndex = -1;  // an unknown family leaves it as it was
    r.answers["47F"] = Ident("12345678", std::string("99M") + c.family + "123456");
    StartDump(r.ctx, 1);
    EXPECT_EQ(r.ctx.dump.tenderFamily, c.family);
    EXPECT_EQ(r.ctx.ui.paymentsIndex, c.index);
    // No "6" to the status request: MF mode, footer unticked.
    EXPECT_FALSE(r.ctx.dump.rt);
    EXPECT_EQ(r.ctx.ui.footerRt.value, 0);
  }
}

TEST(Dump, MfEcrTakesLastEightOfSerialAnswerAndKeepsShortIdentification) {
  Rig r;
  r.ctx.ui.footerRt.value = 1;
  r.ctx.ui.paymentsIndex = 2;
  r.ctx.dump.tenderFamily = "ST";
  r.ctx.dump.rtSerial = "stale";
  r.answers["48F"] = "48F0";
  r.answers["47F"] = "47F" + std::string(16, '9');  // 19 characters
  r.answers["41F"] = "41F" + std::string("X12345678");  // 12 characters

  StartDump(r.ctx, 1);

  EXPECT_FALSE(r.ctx.dump.rt);
  EXPECT_EQ(r.ctx.dump.rtSerial, "");
  EXPECT_EQ(r.ctx.dump.tenderFamily, "ST");
  EXPECT_EQ(r.ctx.ui.paymentsIndex, 2);
  EXPECT_EQ(r.ctx.ui.footerRt.value, 0);
  EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
  EXPECT_EQ(r.ctx.ui.serialNumber, "12345678");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("12345678", "Stato: MF"));
  ExpectIdleAfterDump(r);
}

TEST(Dump, SuccessOnOneSlotSwitchesTheOthersOff) {
  Rig r;
  for (auto& box : r.ctx.ui.slotCheck) box = CheckBox{1, true};
  r.ctx.ui.slotShape.fill(kColourGreen);
  r.ctx.ui.windowShown = true;
  r.Put("SR_ERR", "old\r\n", 2);
  r.answers["41F"] = "41F0000000042";

  StartDump(r.ctx, 2);

  EXPECT_EQ(r.fp.serial.portNumber, 2);
  for (int s = 1; s <= 4; ++s) {
    SCOPED_TRACE(s);
    const CheckBox& box = r.ctx.ui.slotCheck[s - 1];
    EXPECT_EQ(box.value, s == 2 ? 1 : 0);
    EXPECT_EQ(box.enabled, s == 2);
    EXPECT_EQ(r.ctx.ui.slotShape[s - 1], s == 2 ? kColourGreen : kColourRed);
  }
  EXPECT_EQ(r.ctx.ui.dumpText[1], "DUMP ESEGUITO");
  EXPECT_EQ(r.ctx.ui.ecrMessage, "00000042");
  EXPECT_EQ(r.Read("SR_MATR", 2), Matr("00000042", "Stato: MF"));
  EXPECT_FALSE(r.Has("SR_ERR", 2));
  EXPECT_FALSE(r.Has("SR_MATR", 1));
  EXPECT_EQ(r.ctx.cycle.currentSlot, 2);
  ExpectIdleAfterDump(r);
}

TEST(Dump, FailedSerialRequestIsReportedAsFailedDump) {
  // "41F" alone is the echo without a serial number; no answer at all times out.
  for (const char* answer : {"41F", ""}) {
    SCOPED_TRACE(std::string("answer '") + answer + "'");
    Rig r;
    r.ctx.ui.windowShown = true;
    r.ctx.ui.trace.value = 1;
    r.Put("SR_START", "");
    r.answers["41F"] = answer;

    StartDump(r.ctx, 1);

    EXPECT_EQ(r.Read("SR_ERR"),
              "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n");
    EXPECT_FALSE(r.Has("SR_START"));
    EXPECT_FALSE(r.Has("FINESCO"));
    EXPECT_FALSE(r.Has("SR_MATR"));
    EXPECT_TRUE(r.ctx.dump.pending[0]);
    EXPECT_EQ(r.ctx.ui.dumpText[0], "DUMP NON ESEGUITO : -1");
    ExpectIdleAfterDump(r);
  }
}

TEST(Dump, UnansweredResetStartsNoDump) {
  Rig r;
  r.echoUnknown = false;
  r.ctx.dump.pending[0] = false;
  r.ctx.ui.dumpText[0] = "before";
  r.ctx.ui.windowShown = true;
  r.fp.loop.SetTimer(r.ctx.cycle.timer21, 1000, true);

  StartDump(r.ctx, 1);

  for (const auto& w : r.fp.serial.writes) EXPECT_EQ(w, " K");
  EXPECT_FALSE(r.ctx.dump.inProgress);
  EXPECT_FALSE(r.ctx.dump.pending[0]);
  EXPECT_FALSE(r.Has("SR_ERR"));
  EXPECT_FALSE(r.Has("SR_MATR"));
  EXPECT_EQ(r.ctx.ui.dumpText[0], "before");
  EXPECT_FALSE(r.fp.serial.IsOpen());
  // The job cycle re-enables polling after its scan.
  EXPECT_FALSE(r.fp.loop.TimerEnabled(r.ctx.cycle.timer21));
}

TEST(Dump, RefusedWhileBusyWithoutTouchingThePort) {
  for (int which = 0; which < 3; ++which) {
    Rig r;
    r.fp.serial.Configure(1, "9600,N,8,1");
    r.fp.serial.Open();
    if (which == 0) r.ctx.cycle.jobBusy = true;
    if (which == 1) r.ctx.dump.inProgress = true;
    if (which == 2) r.ctx.cycle.closing = true;

    StartDump(r.ctx, 2);

    EXPECT_TRUE(r.fp.serial.writes.empty());
    EXPECT_TRUE(r.fp.serial.IsOpen());
    EXPECT_EQ(r.ctx.cycle.currentSlot, 1);
  }
}

TEST(Dump, CompletionWithSerialZeroShowsTheWindowTexts) {
  Rig r;
  r.ctx.ui.windowShown = false;
  r.ctx.dump.inProgress = true;
  std::string serial = "0";
  int16_t result = 0;

  Norvikocx21_EvDumpConfDone(r.ctx, serial, result);

  EXPECT_TRUE(r.ctx.ui.windowShown);
  EXPECT_EQ(r.ctx.ui.ecrMessage, "0");
  EXPECT_EQ(r.ctx.ui.dumpText[0], "DUMP ESEGUITO");
  EXPECT_EQ(r.ctx.dump.mfSerial, "0");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("0", "Stato: MF"));
  EXPECT_FALSE(r.ctx.dump.inProgress);
}

}  // namespace
}  // namespace kolibra
