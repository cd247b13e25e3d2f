// The driver with its window on a fake host: splash, tray, restore, the test
// receipt button and the exit through the menu with the closing notice.
#include "app/window_driver.h"

#include <gtest/gtest.h>


#include "app_rig.h"
#include "fakes/fake_window_host.h"
#include "platform/window_ids.h"

namespace kolibra {
namespace {

TEST(WindowDriver, SplashTrayRestoreTestReceiptAndExitFromTheMenu) {
  testing_app::AppRig r;
  r.AnswerDumps();
  r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
  // Slot 1 only: unticking a box (as a dump does to the others) would also
  // disable the test button.
  r.PutSetting("KBCHKCOM.TXT", "1000\r\n");
  fakes::FakeWindowHost host;
  struct Seen {
    bool splash = false, main = false, tray = false;
  };
  Seen atStart, afterSplash;
  r.fp.loop.Schedule(100, [&] { atStart = {host.splashShown, host.mainVisible, host.tray.present}; });
  r.fp.loop.Schedule(kSplashLeastMs + 100, [&] {
    afterSplash = {host.splashShown, host.mainVisible, host.tray.present};
    host.events.onTrayMouse(515);
  });
  r.fp.loop.Schedule(4000, [&] {
    EXPECT_TRUE(host.mainVisible);
    EXPECT_EQ(host.text[IDC_TEXT4], "DUMP ESEGUITO");
    EXPECT_EQ(host.text[IDC_TEXT8], "99MZT123456");
    host.Command(IDC_CMBFILE);
    EXPECT_EQ(r.Read("SR_DATI"), "K\"PROVA\"10H1R0M\"PROVA\"10H1R=1T\r\n");
    EXPECT_FALSE(host.enabled[IDC_CMBFILE]);
  });
  r.fp.loop.Schedule(8000, [&] { host.Command(IDM_ESCI); });

  EXPECT_EQ(RunWindowedDriver(r.fp.platform, host, r.Options()), kExitOk);

  EXPECT_TRUE(atStart.splash);
  EXPECT_FALSE(atStart.main);
  EXPECT_FALSE(afterSplash.splash);
  EXPECT_FALSE(afterSplash.main);
  EXPECT_TRUE(afterSplash.tray);
  EXPECT_EQ(host.splash.version, "Version 1.0.0.14");
  EXPECT_FALSE(host.closingAfter.mainVisible || host.closingAfter.trayPresent);
  EXPECT_FALSE(host.closingShown);
  EXPECT_EQ(host.closing, " Chiusura programma Kolibra in corso ...");
  EXPECT_EQ(r.Setting("KBCHKCOM.TXT"), "1000\r\n");
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace kolibra
