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
  EXPECT_FALSE(r.ctx.dump.inProgress);
  EXPECT_FALSE(r.ctx.dump.running);
  EXPECT_EQ(r.ctx.cycle.pauseMarker, 1);
  EXPECT_TRUE(r.PauseTickArmed());
  EXPECT_FALSE(r.fp.serial.IsOpen());
  EXPECT_EQ(r.ctx.link.trace.file, nullptr);
}

TEST(Dump, RtEcr) {
  Rig r;
  r.ctx.ui.trace.value = 1;
  r.ctx.ui.paymentsIndex = 2;
  r.answers = {{"48F", "48F6"}, {"47F", "47F12345678X99MZT123456"}, {"41F", "41F87654321"}};
  StartDump(r.ctx, 1);

  EXPECT_TRUE(r.ctx.dump.rt);
  EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
  EXPECT_EQ(r.ctx.dump.tenderFamily, "ZT");
  EXPECT_EQ(r.ctx.ui.paymentsIndex, 0);
  EXPECT_EQ(r.ctx.ui.footerRt.value, 1);
  EXPECT_EQ(r.ctx.ui.serialNumber, "99MZT123456");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("99MZT123456", "Stato: RT"));
  EXPECT_FALSE(r.ctx.dump.pending[0]);
  ExpectIdle(r);
  const std::string trace = r.DataFile("tracedump.txt");
  for (const char* answer : {"6", "12345678X99MZT123456", "87654321"}) {
    EXPECT_NE(trace.find(std::string("<-->  <-- ") + answer + "\r\n"), std::string::npos) << answer;
  }
}

TEST(Dump, MfEcrWithShortIdentification) {
  Rig r;
  r.ctx.ui.footerRt.value = 1;
  r.ctx.ui.paymentsIndex = 2;
  r.ctx.dump.tenderFamily = "ST";
  r.answers = {{"48F", "48F0"}, {"47F", "47F" + std::string(16, '9')}, {"41F", "41FX12345678"}};
  StartDump(r.ctx, 1);

  EXPECT_FALSE(r.ctx.dump.rt);
  EXPECT_EQ(r.ctx.dump.rtSerial, "");
  EXPECT_EQ(r.ctx.dump.tenderFamily, "ST");
  EXPECT_EQ(r.ctx.ui.paymentsIndex, 2);
  EXPECT_EQ(r.ctx.ui.footerRt.value, 0);
  EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("12345678", "Stato: MF"));
  ExpectIdle(r);
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
    Rig r;
    r.ctx.ui.windowShown = true;
    r.ctx.ui.trace.value = 1;
    r.Put("SR_START", "");
    r.answers["41F"] = answer;
    StartDump(r.ctx, 1);

    EXPECT_EQ(r.Read("SR_ERR"), "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n");
    EXPECT_FALSE(r.Has("SR_START"));
    EXPECT_FALSE(r.Has("FINESCO"));
    EXPECT_FALSE(r.Has("SR_MATR"));
    EXPECT_TRUE(r.ctx.dump.pending[0]);
    EXPECT_EQ(r.ctx.ui.dumpText[0], "DUMP NON ESEGUITO : -1");
    ExpectIdle(r);
  }
}

TEST(Dump, NoDumpWhenResetUnansweredOrLinkBusy) {
  for (int which = 0; which < 3; ++which) {
    Rig r;
    r.ctx.dump.pending[1] = false;
    if (which == 0) r.echoUnknown = false;
    if (which > 0) r.fp.serial.Open();  // held by the job or dump now running
    r.ctx.cycle.jobBusy = which == 1;
    r.ctx.dump.inProgress = which == 2;
    StartDump(r.ctx, 2);

    EXPECT_EQ(r.fp.serial.writes.size(), which == 0 ? 10u : 0u);
    EXPECT_EQ(r.fp.serial.IsOpen(), which > 0);
    EXPECT_EQ(r.ctx.dump.inProgress, which == 2);
    EXPECT_FALSE(r.ctx.dump.pending[1]);
    EXPECT_FALSE(r.Has("SR_ERR", 2) || r.Has("SR_MATR", 2));
  }
}

TEST(Dump, SerialAnswerZeroShowsTheWindowTexts) {
  Rig r;
  std::string serial = "0";
  int16_t result = 0;
  Norvikocx21_EvDumpConfDone(r.ctx, serial, result);
  EXPECT_TRUE(r.ctx.ui.windowShown);
  EXPECT_EQ(r.ctx.ui.ecrMessage, "0");
  EXPECT_EQ(r.ctx.ui.dumpText[0], "DUMP ESEGUITO");
  EXPECT_EQ(r.Read("SR_MATR"), Matr("0", "Stato: MF"));
}

}  // namespace
}  // namespace kolibra
