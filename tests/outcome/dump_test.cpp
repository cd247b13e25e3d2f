#include "outcome/dump.h"

#include <gtest/gtest.h>

#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

std::string Matr(const std::string& serial, const char* state) {
  return serial + "\r\n" + state + "\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n";
}

void ExpectIdle(Rig& r) {
  EXPECT_FALSE(r.ctx.dump.inProgress || r.ctx.dump.running);
  EXPECT_EQ(r.ctx.cycle.pauseMarker, 1);
  EXPECT_TRUE(r.PauseTickArmed());
  EXPECT_FALSE(r.fp.serial.IsOpen());
  EXPECT_EQ(r.ctx.link.trace.file, nullptr);
}

TEST(Dump, RtAndMfEcrs) {
  for (bool rt : {true, false}) {
    SCOPED_TRACE(rt ? "RT" : "MF");
    Rig r;
    r.ctx.ui.trace.value = 1;
    r.ctx.ui.footerRt.value = rt ? 0 : 1;
    r.ctx.ui.paymentsIndex = 2;
    r.ctx.dump.tenderFamily = "ST";
    if (rt) {
      r.answers = {{"48F", "48F6"}, {"47F", "47F12345678X99MZT123456"}, {"41F", "41F87654321"}};
    } else {  // the last 8 of a short identification
      r.answers = {{"48F", "48F0"}, {"47F", "47F" + std::string(16, '9')}, {"41F", "41FX12345678"}};
    }
    StartDump(r.ctx, 1);

    EXPECT_EQ(r.ctx.dump.rt, rt);
    EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
    EXPECT_EQ(r.ctx.dump.tenderFamily, rt ? "ZT" : "ST");
    EXPECT_EQ(r.ctx.ui.paymentsIndex, rt ? 0 : 2);
    EXPECT_EQ(r.ctx.ui.footerRt.value, rt ? 1 : 0);
    EXPECT_EQ(r.Read("SR_MATR"), rt ? Matr("99MZT123456", "Stato: RT") : Matr("12345678", "Stato: MF"));
    EXPECT_FALSE(r.ctx.dump.pending[0]);
    ExpectIdle(r);
    if (rt) {
      const std::string trace = r.DataFile("tracedump.txt");
      EXPECT_NE(trace.find("<-->  <-- 12345678X99MZT123456\r\n"), std::string::npos);
    }
  }
}

TEST(Dump, SuccessOnSlotTwoSwitchesTheOthersOff) {
  Rig r;
  for (auto& box : r.ctx.ui.slotCheck) box = CheckBox{1, true};
  r.ctx.ui.slotShape.fill(kColourGreen);
  r.ctx.ui.windowShown = true;
  r.Put("SR_ERR", "old\r\n", 2);
  r.answers["41F"] = "41F00000042";
  StartDump(r.ctx, 2);

  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(r.ctx.ui.slotCheck[s].value, s == 1 ? 1 : 0) << s;
    EXPECT_EQ(r.ctx.ui.slotCheck[s].enabled, s == 1) << s;
    EXPECT_EQ(r.ctx.ui.slotShape[s], s == 1 ? kColourGreen : kColourRed) << s;
  }
  EXPECT_EQ(r.fp.serial.portNumber, 2);
  EXPECT_EQ(r.ctx.ui.dumpText[1], "DUMP ESEGUITO");
  EXPECT_EQ(r.ctx.ui.ecrMessage, "00000042");
  EXPECT_EQ(r.Read("SR_MATR", 2), Matr("00000042", "Stato: MF"));
  EXPECT_FALSE(r.Has("SR_ERR", 2));
  ExpectIdle(r);
}

TEST(Dump, SerialRequestEchoedOnlyOrUnansweredFailsTheDump) {
  for (const char* answer : {"41F", ""}) {
    SCOPED_TRACE(answer);
    Rig r;
    r.ctx.ui.windowShown = true;
    r.Put("SR_START", "");
    r.answers["41F"] = answer;
    StartDump(r.ctx, 1);

    EXPECT_EQ(r.Read("SR_ERR"), "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n");
    EXPECT_FALSE(r.Has("SR_START") || r.Has("FINESCO") || r.Has("SR_MATR"));
    EXPECT_TRUE(r.ctx.dump.pending[0]);
    EXPECT_EQ(r.ctx.ui.dumpText[0], "DUMP NON ESEGUITO : -1");
    ExpectIdle(r);
  }
}

TEST(Dump, NoDumpWhenResetUnansweredOrLinkBusy) {
  for (int which = 0; which < 3; ++which) {  // silent ECR, job running, dump running
    SCOPED_TRACE(which);
    Rig r;
    r.ctx.dump.pending[1] = false;
    r.echoUnknown = which != 0;
    if (which > 0) r.fp.serial.Open();  // held by the job or dump now running
    r.ctx.cycle.jobBusy = which == 1;
    r.ctx.dump.inProgress = which == 2;
    StartDump(r.ctx, 2);

    EXPECT_EQ(r.fp.serial.writes.size(), which == 0 ? 10u : 0u);
    EXPECT_EQ(r.fp.serial.IsOpen(), which > 0);
    EXPECT_EQ(r.ctx.dump.inProgress, which == 2);
    EXPECT_FALSE(r.Has("SR_ERR", 2) || r.Has("SR_MATR", 2));
  }
}

TEST(Dump, SerialAnswerZeroShowsTheWindowTexts) {
  Rig r;
  std::string serial = "0";
  int16_t result = 0;
  Norvikocx21_EvDumpConfDone(r.ctx, serial, result);
  EXPECT_TRUE(r.ctx.ui.windowShown);
  EXPECT_EQ(r.ctx.ui.dumpText[0], "DUMP ESEGUITO");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("0", "Stato: MF"));
}

}  // namespace
}  // namespace kolibra
