// The end of the user's session (a Windows logoff or shutdown): the session
// is asked to wait while a job or dump runs, and its end runs the whole
// shutdown before the handler returns.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/startup.h"
#include "app_rig.h"
#include "core/messages.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

TEST(SessionEnd, WaitsForTheJobAndShutsDownBeforeReturning) {
  const struct {
    const char* name;
    bool jobRunning;  // the session ends during a job (forced)
  } cases[] = {{"idle", false}, {"during a job", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppRig r;
    r.AnswerDumps();
    r.PutSetting("KBCHKSCO.TXT", "0\r\n0\r\n0\r\n0\r\n");
    r.PutSetting("KBCHKCOM.TXT", "1100\r\n");
    // The dump of slot 1 runs at 1000; then a job that the ECR never
    // answers, and one waiting on slot 2 (switched off by the dump).
    std::string reasonDuring, reasonAfter = "unset";
    r.fp.loop.Schedule(2500, [&] {
      r.silentEcr = true;
      r.Put("SR_DATI", "SALE,N1,P1000;\r\n");
      r.Put("SR_START", "1\r\n");
      r.Put("SR_START", "1\r\n", 2);
    });
    r.fp.loop.Schedule(5000, [&] { reasonDuring = r.fp.loop.SessionBusyReason(); });
    const int64_t endAt = c.jobRunning ? 6000 : 60000;
    if (!c.jobRunning) r.fp.loop.Schedule(50000, [&] { reasonAfter = r.fp.loop.SessionBusyReason(); });
    bool ended = false, settingsSaved = false, slot2Answered = false, slot1Kept = false;
    r.fp.loop.Schedule(endAt, [&] {
      ASSERT_TRUE(r.fp.loop.EndSession());
      // All done when the handler returns.
      ended = r.ctx.cycle.ended;
      settingsSaved = r.Setting("KBCHKCOM.TXT") == "1000\r\n";
      slot2Answered = !r.Has("SR_START", 2) && r.Has("SR_ERR", 2);
      slot1Kept = r.Has("SR_START") && !r.Has("SR_ERR");
    });
    DriverOptions o;
    o.settingsDir = r.settings.path();
    o.dataDir = r.data.path();
    EXPECT_EQ(RunDriver(r.ctx, o), kExitOk);

    EXPECT_EQ(reasonDuring, kSessionEndBlocked);
    if (!c.jobRunning) {
      EXPECT_EQ(reasonAfter, "");
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(settingsSaved);
    EXPECT_TRUE(slot2Answered);
    // A job cut by the session's end keeps its files for the journal to
    // answer at the next start; an ended one was answered by its end.
    EXPECT_EQ(slot1Kept, c.jobRunning);
  }
}

}  // namespace
}  // namespace kolibra
