// Settings files: item reading, defaults, garbage, round trips, and the
// polling interval.
#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/text_util.h"
#include "app_rig.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

TEST(SettingsItems, SplitAndLeadingNumbers) {
  const std::pair<const char*, std::vector<std::string>> items[] = {
      {"  0 ,1\r\n\r\n2", {"0", "1", "", "2"}},
      {"\"127.0.0.1\"\r\n\" a, b \" x,y", {"127.0.0.1", " a, b ", "y"}},
      {"unterminated \"quote", {"unterminated \"quote"}},
      {"a\nb\rc", {"a", "b", "c"}},
  };
  for (const auto& [text, expected] : items) EXPECT_EQ(ReadItems(text), expected) << text;

  const struct {
    const char* text;
    double value;
    const char* written;
  } numbers[] = {{"500ms", 500, "500"}, {".5", 0.5, ".5"}, {"7.", 7, "7."}, {"abc", 0, ""},
                 {"1.2.3", 1.2, "1.2"}, {"-5", 0, ""},     {"1,5", 1, "1"}};
  for (const auto& c : numbers) {
    std::string written;
    EXPECT_DOUBLE_EQ(LeadingNumber(c.text, &written), c.value) << c.text;
    EXPECT_EQ(written, c.written) << c.text;
  }
  EXPECT_GT(LeadingNumber(std::string(500, '9')), 1e300);  // no overflow to 0
  EXPECT_EQ(FormatDecimal(1e20), "100000000000000000000");
}

TEST(Settings, NoFilesGiveTheDefaults) {
  AppRig r;
  r.ctx.ui.optionRs232 = false;
  ReadSlotSettings(r.ctx);
  ReadTimerSettings(r.ctx);
  ReadBaudSettings(r.ctx);
  ReadProgramSettings(r.ctx);
  for (const auto& check : r.ctx.ui.slotCheck) EXPECT_EQ(check.value, 1);
  EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, 1000);
  EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "1\r\n");
  EXPECT_EQ(r.ctx.baudRate, 9600);
  EXPECT_FALSE(r.ctx.ui.optionRs232 || r.ctx.ui.optionRete);
}

TEST(Settings, SlotTimerAndBaudFilesWithGarbage) {
  const std::pair<std::string, std::array<int, 4>> slots[] = {
      {"1100\r\n", {1, 1, 0, 0}},  {"101\r\n", {1, 1, 1, 1}}, {"1x0y1\r\n", {1, 0, 0, 0}},
      {"\"0110\"", {0, 1, 1, 0}}, {std::string("\x01\xff\0\x80", 4), {0, 0, 0, 0}},
  };
  for (const auto& [content, values] : slots) {
    SCOPED_TRACE(content);
    AppRig r;
    r.PutSetting("KBCHKCOM.TXT", content);
    ReadSlotSettings(r.ctx);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.ctx.ui.slotCheck[i].value, values[i]) << i;
  }
  const struct {
    const char* content;
    int32_t interval;
    const char* box;
  } timers[] = {{"500ms\r\n", 500, "500ms"}, {"1.5\r\n", 1500, "1.5"}, {"xyz\r\n", 1000, "1"}};
  for (const auto& c : timers) {
    SCOPED_TRACE(c.content);
    AppRig r;
    r.PutSetting("KBTIMER1.TXT", c.content);
    ReadTimerSettings(r.ctx);
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, c.interval);
    EXPECT_EQ(r.ctx.ui.timerValue, c.box);
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), std::string(c.box) + "\r\n");
  }
  const std::pair<const char*, int32_t> bauds[] = {
      {"19200\r\n", 19200}, {"fast\r\n", 9600}, {"-1", 9600}, {"115200.5", 9600}, {"99999999999", 9600}};
  for (const auto& [content, baud] : bauds) {
    SCOPED_TRACE(content);
    AppRig r;
    r.PutSetting("KBChkBd.txt", content);
    ReadBaudSettings(r.ctx);
    EXPECT_EQ(r.ctx.baudRate, baud);
    EXPECT_EQ(r.ctx.ui.baudText, std::to_string(baud));
  }
}

TEST(Settings, ProgramFileShortOrGarbageClearsTheLaterBoxes) {
  for (bool garbage : {false, true}) {
    SCOPED_TRACE(garbage ? "garbage" : "three lines");
    AppRig r;
    r.ctx.ui.trace.value = 1;
    r.ctx.ui.pag4Bancomat.value = 1;
    r.ctx.ui.remoteIp = "10.0.0.1";
    std::string content = "1\r\n1\r\n2\r\n";
    if (garbage) {
      content = "yes\r\n\x01\x02\r\n7\r\n\xff\r\n999.1.1.1\r\n1.0\r\n";
      content += std::string(1 << 20, '\0');  // a huge tail is never read
    }
    r.PutSetting("KBCHKSCO.TXT", content);
    ReadProgramSettings(r.ctx);
    EXPECT_EQ(r.ctx.ui.passThrough.value, garbage ? 0 : 1);
    EXPECT_EQ(r.ctx.ui.footerRt.value, garbage ? 0 : 1);
    EXPECT_EQ(r.ctx.ui.paymentsIndex, garbage ? 0 : 2);  // 7 is out of range
    EXPECT_TRUE(r.ctx.ui.optionRs232);
    EXPECT_FALSE(r.ctx.ui.optionRete);
    EXPECT_EQ(r.ctx.ui.remoteIp, "");
    EXPECT_EQ(r.ctx.ui.trace.value, 0);  // only the text "1" ticks it
    EXPECT_EQ(r.ctx.ui.pag4Bancomat.value, 0);
  }
}

TEST(Settings, SaveAndReadBackRoundTrip) {
  AppRig r;
  OperatorState& ui = r.ctx.ui;
  ui.slotCheck[0].value = 0;
  ui.slotCheck[2].value = 0;
  ui.baudText = "38400";
  ui.passThrough.value = 1;
  ui.paymentsIndex = 2;
  ui.optionRete = true;
  ui.optionRs232 = false;
  ui.remoteIp = "10.1.2.3";
  ui.trace.value = 1;
  ui.pag4Bancomat.value = 1;
  SaveSettings(r.ctx);
  EXPECT_EQ(r.Setting("KBCHKCOM.TXT"), "0101\r\n");
  EXPECT_EQ(r.Setting("KBChkBd.txt"), "38400\r\n");
  EXPECT_EQ(r.Setting("KBCHKSCO.TXT"), "1\r\n0\r\n2\r\n1\r\n10.1.2.3\r\n1\r\n1\r\n");

  AppRig back;
  for (const char* name : {"KBCHKCOM.TXT", "KBChkBd.txt", "KBCHKSCO.TXT"}) back.PutSetting(name, r.Setting(name));
  ReadSlotSettings(back.ctx);
  ReadBaudSettings(back.ctx);
  ReadProgramSettings(back.ctx);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.ctx.ui.slotCheck[i].value, ui.slotCheck[i].value);
  EXPECT_EQ(back.ctx.baudRate, 38400);
  EXPECT_EQ(back.ctx.ui.passThrough.value, 1);
  EXPECT_EQ(back.ctx.ui.paymentsIndex, 2);
  EXPECT_TRUE(back.ctx.ui.optionRete);
  EXPECT_FALSE(back.ctx.ui.optionRs232);
  EXPECT_EQ(back.ctx.ui.remoteIp, "10.1.2.3");
  EXPECT_EQ(back.fp.socket.RemoteHost(), "10.1.2.3");
  EXPECT_EQ(back.ctx.ui.trace.value, 1);
  EXPECT_EQ(back.ctx.ui.pag4Bancomat.value, 1);

  // An address that fails the check is saved as "0"; later lines keep their places.
  r.ctx.ui.remoteIp = "10.1.2";
  SaveSettings(r.ctx);
  EXPECT_EQ(r.Setting("KBCHKSCO.TXT"), "1\r\n0\r\n2\r\n1\r\n0\r\n1\r\n1\r\n");
}

TEST(PollingInterval, CalculateTimerTable) {
  const struct {
    const char* value;
    int32_t interval;
    const char* box;  // "1" is the untouched window default
  } cases[] = {
      {"5", 5000, "5"},        {"75", 60000, "60"},     {"500", 500, "500ms"},
      {"500ms", 500, "500ms"}, {"90000", 60000, "60"},  {"", 1000, "1"},
      {"0", 1000, "1"},        {"100", 100, "100ms"},   {"60000", 60000, "60000ms"},
      {"2.5", 2500, "2.5"},    {"0.0001", 100, "0.0001"}, {"abc", 1000, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    AppRig r;
    CalculateTimer(r.ctx, c.value, false);
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, c.interval);
    EXPECT_EQ(r.ctx.ui.timerValue, c.box);
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "");
  }
}

TEST(PollingInterval, SavedTextUsesMillisecondsOrSecondsWithAPoint) {
  const std::pair<const char*, const char*> cases[] = {
      {"500", "500\r\n"}, {"1.5", "1.5\r\n"}, {"1234", "1.234\r\n"}, {"99", "60\r\n"}};
  for (const auto& [value, file] : cases) {
    SCOPED_TRACE(value);
    AppRig r;
    CalculateTimer(r.ctx, value, true);
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), file);
    // What was saved reads back to the same interval.
    const int32_t saved = r.ctx.cycle.pollingIntervalMs;
    ReadTimerSettings(r.ctx);
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, saved);
  }
}

TEST(PollingInterval, OperatorChange) {
  AppRig r;
  r.StartPolling(1000);
  r.ctx.ui.timerValue = "3";
  cmdChgTimer_Click(r.ctx);
  EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.timer21), 3000);
  EXPECT_TRUE(r.fp.loop.TimerEnabled(r.ctx.cycle.timer21));
  EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "3\r\n");

  // Zero: a message, then the one-second default; a disabled timer stays disabled.
  EnablePollingTimer(r.ctx, false);
  r.ctx.ui.timerValue = "0";
  cmdChgTimer_Click(r.ctx);
  EXPECT_EQ(r.fp.notifier.messages, std::vector<std::string>{"Valore non ammesso"});
  EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, 1000);
  EXPECT_FALSE(r.fp.loop.TimerEnabled(r.ctx.cycle.timer21));

  // Refused while a job runs: nothing changes.
  r.ctx.cycle.jobBusy = true;
  r.ctx.ui.timerValue = "9";
  cmdChgTimer_Click(r.ctx);
  EXPECT_EQ(r.fp.notifier.messages.back(), "Connessione in corso, valore non accettato");
  EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, 1000);
  EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "1\r\n");
}

}  // namespace
}  // namespace kolibra
