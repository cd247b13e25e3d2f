#include "outcome/job_outcome.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "outcome_rig.h"

namespace kolibra {
namespace {

// What the calling application did to the slot's files while the job ran.
enum Since { kUntouched, kNewJob, kStartGone, kNewCommand };

TEST(ReportJobOutcome, FilesWindowAndIdleStateForEachCode) {
  const struct {
    int16_t code;
    bool busy, oldErr;    // oldErr: an error file of an earlier job is present
    const char* status;   // "" = the window keeps its text
    const char* err;      // error file afterwards
    bool dati, start, finesco;
    Since since = kUntouched;
  } cases[] = {
      {0, true, true, "KOLIBRA TERMINATO : TUTTO OK", "", false, false, true},
      {-4, true, false, "KOLIBRA TERMINATO : TIMEOUT SCADUTO",
       "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n", true, false, false},
      {-11, true, false, "KOLIBRA TERMINATO : ERRORE DI CONVERSIONE FILE DI INPUT",
       "E511: Errore di conversione del file di input\r\n", true, false, false},
      // Never reached the ECR: an error file, never FINESCO.
      {-12, true, false, "KOLIBRA TERMINATO : ",
       "E512: Collegamento con l'Ecr non riuscito: controllare porta seriale o connessione di rete\r\n", true,
       false, false},
      // May have printed: never FINESCO, and the operator is told to check.
      {-20, true, false, "KOLIBRA TERMINATO : ESITO INCERTO",
       "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio\r\n", true, false,
       false},
      {-100, true, true, "KOLIBRA TERMINATO : ", "E506: Trasmissione non avvenuta: file di input non presente\r\n",
       true, false, false},
      {0, false, false, "", "", true, true, false},  // not busy: no file touched
      // Withdrawn (start file gone or another job's): no result file and the
      // new job's files stay for it to run; only the command file that ran goes.
      {0, true, false, "KOLIBRA TERMINATO : TUTTO OK", "", true, true, false, kNewJob},
      {-20, true, false, "KOLIBRA TERMINATO : ESITO INCERTO", "", true, true, false, kNewJob},
      {0, true, false, "KOLIBRA TERMINATO : TUTTO OK", "", true, false, false, kStartGone},
      {0, true, false, "KOLIBRA TERMINATO : TUTTO OK", "", true, false, true, kNewCommand},
  };
  for (const auto& c : cases) {
    for (bool shown : {true, false}) {
      SCOPED_TRACE(std::to_string(c.code) + (c.busy ? " busy" : "") + (shown ? " shown" : ""));
      testing_outcome::Rig r;
      r.SetSlot(3);
      r.Put("SR_DATI", "SALE,N1,P1000;\r\n", 3);
      r.Put("SR_START", "", 3);
      if (c.oldErr) r.Put("SR_ERR", "old\r\n", 3);
      r.ctx.cycle.startIdentity = r.fp.fs.Inspect(r.File("SR_START", 3)).identity;
      r.ctx.cycle.commandIdentity = r.fp.fs.Inspect(r.File("SR_DATI", 3)).identity;
      if (c.since == kNewJob || c.since == kNewCommand) r.Put("SR_DATI", "SALE,N2,P2000;\r\n", 3);
      if (c.since == kNewJob || c.since == kStartGone) std::filesystem::remove(r.File("SR_START", 3));
      if (c.since == kNewJob) r.Put("SR_START", "", 3);
      r.ctx.state.watched = shown;
      r.ctx.state.status = r.ctx.state.ecrMessage = "before";
      r.ctx.state.testReceiptReady = false;
      r.ctx.cycle.jobBusy = c.busy;
      // The result file is there when the calling application sees the
      // start file go.
      bool resultBeforeStartGone = false;
      r.fp.fs.beforeRemove = [&](const std::string& path) {
        if (path == r.File("SR_START", 3)) resultBeforeStartGone = r.Has("FINESCO", 3) || r.Has("SR_ERR", 3);
      };
      ReportJobOutcome(r.ctx, static_cast<JobResult>(c.code));
      const bool written = shown && *c.status;
      EXPECT_EQ(r.ctx.state.status, written ? c.status : "before");
      EXPECT_EQ(r.ctx.state.ecrMessage, written && c.code == 0 ? "" : "before");
      EXPECT_EQ(r.Read("SR_ERR", 3), c.err);
      EXPECT_EQ(r.Has("SR_DATI", 3), c.dati);
      EXPECT_EQ(r.Has("SR_START", 3), c.start);
      EXPECT_EQ(r.Has("FINESCO", 3), c.finesco);
      EXPECT_EQ(resultBeforeStartGone, !c.start && c.since != kStartGone);
      EXPECT_EQ(fakes::ReadFileBytes(r.dir.File("LOGFILE.TXT")).find("ritirato") != std::string::npos,
                c.since == kNewJob || c.since == kStartGone);
      EXPECT_FALSE(r.ctx.cycle.jobBusy);
      EXPECT_EQ(r.ctx.cycle.pauseMarker, PauseMarker::kAfterJob);
      EXPECT_TRUE(r.PauseTickArmed());
      EXPECT_TRUE(r.ctx.state.testReceiptReady);
      EXPECT_FALSE(r.ctx.state.jobAnnounced);
    }
  }
}

}  // namespace
}  // namespace kolibra
