// The end of a job and of a dump: result files and the texts the driver records.
#include "outcome/dump.h"
#include "outcome/job_outcome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

void ExpectIdle(Rig& r) {
  EXPECT_FALSE(r.ctx.dump.inProgress || r.ctx.dump.running);
  EXPECT_TRUE(!r.fp.serial.IsOpen() && !r.ctx.link.trace.IsOpen());
}

// RT on slot 1, MF on slot 2; success switches the other slots off.
TEST(Dump, RtAndMfEcrs) {
  for (bool rt : {true, false}) {
    SCOPED_TRACE(rt ? "RT" : "MF");
    const int slot = rt ? 1 : 2;
    Rig r;
    r.ctx.settings.slotOn.fill(true);
    r.ctx.state.port.fill(PortState::kAvailable);
    r.ctx.settings.trace = true;
    r.ctx.settings.footerRt = !rt;
    r.ctx.settings.paymentsIndex = 2;
    r.ctx.dump.tenderFamily = "ST";
    r.Put("SR_ERR", "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n", slot);
    r.Put("SR_ERR", "E520: left by a job\r\n", 3);  // not the dump's: it stays
    // MF: the last 8 of a short identification.
    r.answers = {{"48F", rt ? "48F6" : "48F0"}, {"47F", rt ? "47F12345678X99MZT123456" : "47F" + std::string(16, '9')},
                 {"41F", rt ? "41F87654321" : "41FX12345678"}};
    StartDump(r.ctx, slot);
    EXPECT_EQ(r.ctx.dump.rt, rt);
    EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
    EXPECT_EQ(r.ctx.dump.tenderFamily, rt ? "ZT" : "ST");
    EXPECT_EQ(r.ctx.settings.paymentsIndex, rt ? 0 : 2);
    EXPECT_EQ(r.ctx.settings.footerRt, rt);
    EXPECT_EQ(r.Read("SR_MATR", slot), std::string(rt ? "99MZT123456\r\nStato: RT" : "12345678\r\nStato: MF") +
                                           "\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n");
    EXPECT_FALSE(r.ctx.dump.pending[slot - 1] || r.Has("SR_ERR", slot));
    EXPECT_EQ(r.Read("SR_ERR", 3), "E520: left by a job\r\n");
    EXPECT_EQ(r.ctx.state.dumpText[slot - 1], "DUMP ESEGUITO");
    EXPECT_EQ(r.fp.serial.portNumber, slot);
    EXPECT_EQ(r.DataFile("tracedump.txt").find("<-->  <-- 12345678X99MZT123456\r\n") != std::string::npos, rt);
    for (int s = 0; s < 4; ++s) {
      EXPECT_EQ(r.ctx.settings.slotOn[s], s == slot - 1) << s;
      EXPECT_EQ(r.ctx.state.slotLocked[s], s != slot - 1) << s;
      EXPECT_EQ(r.ctx.state.port[s], s == slot - 1 ? PortState::kAvailable : PortState::kSwitchedOff) << s;
    }
    ExpectIdle(r);
  }
}

// An echo-only or missing answer to the serial request, or none at all, fails the dump (the waiting
// job gets its error). Over the network, a dump that finds the connection dropped fails at once and
// opens it again, so that the next dump reaches the ECR.
TEST(Dump, SerialRequestEchoedOnlyOrUnansweredOrConnectionDroppedFailsTheDump) {
  for (const std::string answer : {"41F", "", "mute", "network"}) {
    SCOPED_TRACE(answer);
    Rig r;
    r.Put("SR_START", "");
    const bool mute = answer == "mute", network = answer == "network", silent = answer.empty();
    r.answers["41F"] = mute ? "" : answer;
    if (silent) r.answers["48F"] = "";  // the status request unanswered too: no identification asked
    r.echoUnknown = !mute;
    if (network) {
      r.ctx.settings.linkMode = LinkMode::kNetwork;
      r.ctx.settings.address = "127.0.0.1";
      r.fp.socket.responder = [&](const std::string& b) {
        r.fp.socket.Deliver(10, b);  // the echo, then the second answer
        if (b == " K") r.fp.socket.Deliver(30, "K");
        if (r.answers.contains(b)) r.fp.socket.Deliver(30, r.answers.at(b));
      };
      r.answers = {{"48F", "48F6"}, {"47F", "47F12345678X99MZT123456"}, {"41F", "41F87654321"}};
    }
    StartDump(r.ctx, 1);
    EXPECT_EQ(std::ranges::count(r.fp.serial.writes, "47F"), silent || mute || network ? 0 : 1);
    EXPECT_EQ(r.Read("SR_ERR"), "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n");
    EXPECT_FALSE(r.Has("SR_START") || r.Has("FINESCO") || r.Has("SR_MATR"));
    EXPECT_TRUE(r.ctx.dump.pending[0]);
    EXPECT_EQ(r.ctx.state.dumpText[0], "DUMP NON ESEGUITO : -1");
    ExpectIdle(r);
    if (!network) continue;
    EXPECT_EQ(r.fp.socket.connectTimes.size(), 1u);
    r.fp.loop.Wait(r.fp.loop.NowMs() + 100);  // connected
    StartDump(r.ctx, 1);
    EXPECT_EQ(r.Read("SR_MATR").substr(0, 11), "99MZT123456");
    EXPECT_FALSE(r.Has("SR_ERR"));
    EXPECT_EQ(r.fp.socket.connectTimes.size(), 1u);
  }
}

// What the calling application did to the slot's files while the job ran.
enum Since { kUntouched, kNewJob, kStartGone, kNewCommand, kStartWrittenAgain };

TEST(ReportJobOutcome, FilesAndStatusForEachCode) {
  const std::string ok = "TUTTO OK", uncertain = "ESITO INCERTO";
  const std::string e520 = "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio\r\n";
  // oldErr: an error file of an earlier job is present; status: after "KOLIBRA TERMINATO : " ("-": the status
  // keeps its text); err: the error file afterwards.
  const struct { int16_t code; bool busy, oldErr; std::string status, err; bool dati, start, finesco;
    Since since = kUntouched;
  } cases[] = {
      {0, true, true, ok, "", false, false, true},
      {-4, true, false, "TIMEOUT SCADUTO", "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n", true, false, false},
      {-11, true, false, "ERRORE DI CONVERSIONE FILE DI INPUT", "E511: Errore di conversione del file di input\r\n", true, false, false},
      // Never reached the ECR, or may have printed: an error file, never FINESCO.
      {-12, true, false, "", "E512: Collegamento con l'Ecr non riuscito: controllare porta seriale o connessione di rete\r\n", true, false, false},
      {-20, true, false, uncertain, e520, true, false, false},
      {-100, true, true, "", "E506: Trasmissione non avvenuta: file di input non presente\r\n", true, false, false},
      {0, false, false, "-", "", true, true, false},  // not busy: no file touched
      // Withdrawn (start file gone or another job's): no result file, and the new job's files stay
      // for it to run; only the command file that ran goes.
      {0, true, false, ok, "", true, true, false, kNewJob},
      {-20, true, false, uncertain, "", true, true, false, kNewJob},
      {0, true, false, ok, "", true, false, false, kStartGone},
      {0, true, false, ok, "", true, false, true, kNewCommand},
      // Another start file beside the job's own command file: still this job, given its result.
      {0, true, false, ok, "", false, false, true, kStartWrittenAgain},
      {-20, true, false, uncertain, e520, true, false, false, kStartWrittenAgain},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + (c.busy ? " busy" : ""));
    Rig r;
    r.SetSlot(3);
    r.Put("SR_DATI", "SALE,N1,P1000;\r\n", 3);
    r.Put("SR_START", "", 3);
    if (c.oldErr) r.Put("SR_ERR", "old\r\n", 3);
    r.ctx.job.startIdentity = r.fp.fs.Inspect(r.File("SR_START", 3)).identity;
    r.ctx.job.commandIdentity = r.fp.fs.Inspect(r.File("SR_DATI", 3)).identity;
    if (c.since == kNewJob || c.since == kNewCommand) r.Put("SR_DATI", "SALE,N2,P2000;\r\n", 3);
    if (c.since == kNewJob || c.since == kStartGone) std::filesystem::remove(r.File("SR_START", 3));
    if (c.since == kNewJob) r.Put("SR_START", "", 3);
    if (c.since == kStartWrittenAgain) {
      r.Put("SR_START.tmp", "1\r\n", 3);
      std::filesystem::rename(r.File("SR_START.tmp", 3), r.File("SR_START", 3));
    }
    r.ctx.state.status = r.ctx.state.ecrMessage = "before";
    r.ctx.cycle.jobBusy = c.busy;
    bool resultBeforeStartGone = false;  // what the calling application finds when the start file goes
    r.fp.fs.beforeRemove = [&](const std::string& path) {
      if (path == r.File("SR_START", 3)) resultBeforeStartGone = r.Has("FINESCO", 3) || r.Has("SR_ERR", 3);
    };
    ReportJobOutcome(r.ctx, static_cast<JobResult>(c.code));
    const bool written = c.status != "-";
    EXPECT_EQ(r.ctx.state.status, written ? "KOLIBRA TERMINATO : " + c.status : "before");
    EXPECT_EQ(r.ctx.state.ecrMessage, written && c.code == 0 ? "" : "before");
    EXPECT_EQ(r.Read("SR_ERR", 3), c.err);
    EXPECT_EQ(r.Has("SR_DATI", 3), c.dati);
    EXPECT_EQ(r.Has("SR_START", 3), c.start);
    EXPECT_EQ(r.Has("FINESCO", 3), c.finesco);
    EXPECT_EQ(resultBeforeStartGone, !c.start && c.since != kStartGone);
    EXPECT_EQ(r.DataFile("LOGFILE.TXT").find("ritirato") != std::string::npos,
              c.since == kNewJob || c.since == kStartGone);
  }
}

}  // namespace
}  // namespace kolibra
