// Settings files: item reading, defaults, garbage, round trips, and the polling interval.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app_rig.h"
#include "ui/operator_actions.h"
#include "ui/operator_window.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

// Missing files give the defaults; garbage gives the defaults or what can be read.
TEST(Settings, SlotTimerAndBaudFiles) {
  const std::pair<const char*, std::array<bool, 4>> slots[] = {
      {nullptr, {1, 1, 1, 1}}, {"1100\r\n", {1, 1, 0, 0}}, {"101\r\n", {1, 1, 1, 1}},
      {"1x0y1\r\n", {1, 0, 0, 0}}, {"\x01\xff\x80\x02", {0, 0, 0, 0}}};
  for (const auto& [content, values] : slots) {
    AppRig r;
    if (content) r.PutSetting("KBCHKCOM.TXT", content);
    ReadSlotSettings(r.ctx);
    EXPECT_EQ(r.ctx.settings.slotOn, values) << (content ? content : "none");
  }
  AppRig noTimer;  // no polling file: one second, and the file written
  ReadTimerSettings(noTimer.ctx);
  EXPECT_EQ(noTimer.ctx.cycle.pollingIntervalMs, 1000);
  EXPECT_EQ(noTimer.Setting("KBTIMER1.TXT"), "1\r\n");
  const std::pair<const char*, int32_t> bauds[] = {
      {nullptr, 9600}, {"19200\r\n", 19200}, {"fast\r\n", 9600}, {"-1", 9600}, {"99999999999", 9600}};
  for (const auto& [content, baud] : bauds) {
    AppRig r;
    if (content) r.PutSetting("KBChkBd.txt", content);
    ReadBaudSettings(r.ctx);
    EXPECT_EQ(r.ctx.settings.baudRate, baud) << (content ? content : "none");
    EXPECT_EQ(r.ctx.settings.speedText, std::to_string(baud));
  }
#ifndef _WIN32
  // A link is never followed: the defaults, as for a missing file (Windows' C++ library makes no links).
  AppRig r;
  r.PutSetting("elsewhere", "0000\r\n");
  std::filesystem::create_symlink(r.settings.File("elsewhere"), r.settings.File("KBCHKCOM.TXT"));
  ReadSlotSettings(r.ctx);
  EXPECT_EQ(r.ctx.settings.slotOn, (std::array<bool, 4>{1, 1, 1, 1}));
#endif
}

TEST(Settings, SaveAndReadBackRoundTrip) {
  AppRig r;
  DriverSettings& settings = r.ctx.settings;
  settings.slotOn[0] = settings.slotOn[2] = false;
  settings.speedText = "38400";
  settings.passThrough = settings.trace = settings.fourthPaymentCard = true;
  settings.paymentsIndex = 2;
  settings.linkMode = LinkMode::kNetwork;
  settings.address = "10.1.2.3";
  SaveSettings(r.ctx);

  settings = DriverSettings{};
  ReadSlotSettings(r.ctx);
  ReadBaudSettings(r.ctx);
  ReadProgramSettings(r.ctx);
  EXPECT_EQ(settings.slotOn, (std::array<bool, 4>{0, 1, 0, 1}));
  EXPECT_EQ(settings.baudRate, 38400);
  EXPECT_TRUE(settings.passThrough && settings.trace && settings.fourthPaymentCard);
  EXPECT_EQ(settings.paymentsIndex, 2);
  EXPECT_EQ(settings.linkMode, LinkMode::kNetwork);
  EXPECT_EQ(settings.address, "10.1.2.3");
  EXPECT_EQ(r.fp.socket.RemoteHost(), "10.1.2.3");

  // An address that fails the check is saved as "0"; later lines keep their places.
  settings.address = "10.1.2";
  SaveSettings(r.ctx);
  const std::string saved = "1\r\n0\r\n2\r\n1\r\n0\r\n1\r\n1\r\n";
  EXPECT_EQ(r.Setting("KBCHKSCO.TXT"), saved);
  // A save cut short (the disk full mid-write, the rename refused) leaves each file whole as it was, logged
  // with the system's reason; nothing of the attempt is left.
  settings.trace = false;
  for (const bool fullDisk : {true, false}) {
    const std::string file = r.settings.File("KBCHKSCO.TXT");
    r.fp.notifier.logs.clear();
    fullDisk ? r.fp.fs.FailFlush(-1) : r.fp.fs.FailReplace(file, 1, "Disk quota exceeded");
    SaveSettings(r.ctx);
    r.fp.fs.FailFlush(0);
    EXPECT_EQ(r.Setting("KBCHKSCO.TXT"), saved) << fullDisk;
    EXPECT_EQ(r.LogsWith("Impossibile scrivere " + file + (fullDisk ? "" : ": Disk quota exceeded")), 1);
    for (const auto& e : std::filesystem::directory_iterator(r.settings.path()))
      EXPECT_FALSE(e.path().filename().string().starts_with("~KB")) << e.path();
  }

  // A file larger than any settings file is not read at all; garbage clears the boxes.
  const std::string garbage = "yes\r\n\x01\x02\r\n7\r\n\xff\r\n999.1.1.1\r\n1.0\r\n";
  r.PutSetting("KBCHKSCO.TXT", garbage + std::string(1 << 20, '\0'));
  ReadProgramSettings(r.ctx);
  EXPECT_EQ(settings.address, "10.1.2");
  r.PutSetting("KBCHKSCO.TXT", garbage);
  ReadProgramSettings(r.ctx);
  EXPECT_FALSE(settings.passThrough || settings.footerRt || settings.trace || settings.fourthPaymentCard);
  EXPECT_EQ(settings.paymentsIndex, 0);  // 7 is out of range
  EXPECT_EQ(settings.linkMode, LinkMode::kSerial);
  EXPECT_EQ(settings.address, "");
}

#ifndef _WIN32
// Every writer of the settings files leaves them the driver's user's to write and its group's to read, whatever
// the umask (the service's 0007 would leave them group-writable, a user's 077 unreadable to the group); a file
// left group-writable by an older version is replaced.
TEST(Settings, FilesWrittenOwnerWriteGroupReadWhateverTheUmask) {
  for (const mode_t mask : {mode_t{0007}, mode_t{0077}, mode_t{0}}) {
    SCOPED_TRACE(mask);
    AppRig r;
    r.PutSetting("KBCHKCOM.TXT", "1111\r\n");
    chmod(r.settings.File("KBCHKCOM.TXT").c_str(), 0666);
    const mode_t before = umask(mask);
    ReadTimerSettings(r.ctx);
    SaveSettings(r.ctx);
    StoreBaudRate(r.ctx);
    SetPollingValue(r.ctx, "5", true);
    umask(before);
    for (const char* name : {"KBCHKCOM.TXT", "KBTIMER1.TXT", "KBChkBd.txt", "KBCHKSCO.TXT"}) {
      struct stat st {};
      EXPECT_EQ(stat(r.settings.File(name).c_str(), &st), 0) << name;
      EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
    }
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "5\r\n");
  }
}
#endif

// The typed value: interval, box text, and the saved text (seconds with ".", reading back to the same interval).
TEST(PollingInterval, CalculateTimerTable) {
  const struct { const char* value; int32_t interval; const char* box, * saved; } cases[] = {  // box "1": untouched
      {"5", 5000, "5", "5"},           {"75", 60000, "60", "60"},        {"500", 500, "500ms", "500"},
      {"500ms", 500, "500ms", "500"},  {"", 1000, "1", "1"},             {"0", 1000, "1", "1"},
      {"100", 100, "100ms", "100"},    {"60000", 60000, "60000ms", "60"}, {"1.5", 1500, "1.5", "1.5"},
      {"1234", 1234, "1234ms", "1.234"}, {"0.0001", 100, "0.0001", "100"}, {"abc", 1000, "1", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    AppRig r;
    EXPECT_EQ(SetPollingValue(r.ctx, c.value, false), c.interval);
    EXPECT_EQ(r.ctx.settings.pollingValue, c.box);
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "");
    SetPollingValue(r.ctx, c.value, true);
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), std::string(c.saved) + "\r\n");
    ReadTimerSettings(r.ctx);
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, c.interval);
    // The value as found in the polling file: read as typed, the box written back.
    r.PutSetting("KBTIMER1.TXT", std::string(c.value) + "\r\n");
    ReadTimerSettings(r.ctx);
    EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, c.interval);
    EXPECT_EQ(r.ctx.settings.pollingValue, c.box);
    EXPECT_EQ(r.Setting("KBTIMER1.TXT"), std::string(c.box) + "\r\n");
  }
}

}  // namespace
}  // namespace kolibra
