#include "outcome/job_outcome.h"

#include <gtest/gtest.h>

#include "outcome/messages.h"
#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

struct OutcomeCase {
  int16_t code;
  const char* status;    // status box after "KOLIBRA TERMINATO : "
  const char* errLine;   // SR_ERR line, "" when none is written
  bool datiKept;
  bool finesco;
};

const OutcomeCase kCases[] = {
    {0, "TUTTO OK", "", false, true},
    {-4, "TIMEOUT SCADUTO", "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr",
     true, false},
    {-11, "ERRORE DI CONVERSIONE FILE DI INPUT", "E511: Errore di conversione del file di input",
     true, false},
    {-12, "", "", true, true},
    {-100, "", "", true, true},
    {-7, "", "", true, true},  // a code outside the table: no texts
};

TEST(ReportJobOutcome, EachCodeWithWindowShownAndHidden) {
  for (const OutcomeCase& c : kCases) {
    for (bool shown : {true, false}) {
      SCOPED_TRACE("code " + std::to_string(c.code) + (shown ? " shown" : " hidden"));
      Rig r;
      r.SetSlot(3);
      r.Put("SR_DATI", "SALE,N1,P1000;\r\n", 3);
      r.Put("SR_START", "", 3);
      if (c.code == 0) r.Put("SR_ERR", "old\r\n", 3);
      r.ctx.ui.windowShown = shown;
      r.ctx.ui.ecrMessage = "previous";
      r.ctx.ui.status = "TRASMISSIONE KOLIBRA IN CORSO ..";
      r.ctx.ui.testButtonEnabled = false;
      r.ctx.cycle.jobBusy = true;

      ReportJobOutcome(r.ctx, c.code);

      if (shown) {
        EXPECT_EQ(r.ctx.ui.status, std::string("KOLIBRA TERMINATO : ") + c.status);
        EXPECT_EQ(r.ctx.ui.ecrMessage, c.code == 0 ? "" : "previous");
      } else {
        EXPECT_EQ(r.ctx.ui.status, "TRASMISSIONE KOLIBRA IN CORSO ..");
        EXPECT_EQ(r.ctx.ui.ecrMessage, "previous");
      }
      const std::string err = *c.errLine ? std::string(c.errLine) + "\r\n" : "";
      EXPECT_EQ(r.Read("SR_ERR", 3), err);
      EXPECT_EQ(r.Has("SR_DATI", 3), c.datiKept);
      EXPECT_FALSE(r.Has("SR_START", 3));
      EXPECT_EQ(r.Has("FINESCO", 3), c.finesco);
      EXPECT_FALSE(r.Has("SR_ERR", 1));

      EXPECT_FALSE(r.ctx.cycle.jobBusy);
      EXPECT_EQ(r.ctx.cycle.pauseMarker, 2);
      EXPECT_TRUE(r.Timer21Armed(1000));
      EXPECT_TRUE(r.ctx.ui.testButtonEnabled);
      EXPECT_EQ(r.ctx.ui.trayIcon, 0);
      EXPECT_EQ(r.ctx.ui.trayTip, "Kolibra in attesa esecuzione...");
    }
  }
}

TEST(ReportJobOutcome, OlderErrorFileSuppressesEndOfReceiptForCodeWithoutText) {
  Rig r;
  r.Put("SR_DATI", "x\r\n");
  r.Put("SR_START", "");
  r.Put("SR_ERR", "E504: old\r\n");
  r.ctx.cycle.jobBusy = true;
  ReportJobOutcome(r.ctx, -12);
  EXPECT_FALSE(r.Has("SR_START"));
  EXPECT_FALSE(r.Has("FINESCO"));
  EXPECT_EQ(r.Read("SR_ERR"), "E504: old\r\n");
}

TEST(ReportJobOutcome, JobNotBusyTouchesNoFileButReturnsToIdle) {
  for (int16_t code : {0, -4}) {
    Rig r;
    r.Put("SR_DATI", "x\r\n");
    r.Put("SR_START", "");
    r.ctx.ui.windowShown = true;
    r.ctx.ui.status = "before";
    r.ctx.ui.testButtonEnabled = false;
    r.ctx.ui.trayIcon = 1;
    r.ctx.cycle.jobBusy = false;

    ReportJobOutcome(r.ctx, code);

    EXPECT_EQ(r.ctx.ui.status, "before");
    EXPECT_TRUE(r.Has("SR_DATI"));
    EXPECT_TRUE(r.Has("SR_START"));
    EXPECT_FALSE(r.Has("SR_ERR"));
    EXPECT_FALSE(r.Has("FINESCO"));
    EXPECT_TRUE(r.Timer21Armed(1000));
    EXPECT_EQ(r.ctx.cycle.pauseMarker, 2);
    EXPECT_TRUE(r.ctx.ui.testButtonEnabled);
    EXPECT_EQ(r.ctx.ui.trayIcon, 0);
    EXPECT_EQ(r.ctx.ui.trayTip, "Kolibra in attesa esecuzione...");
  }
}

TEST(MessageCatalogue, DumpTexts) {
  EXPECT_EQ(DumpErrorText(-1), "Errore generico sull'Ecr, verificare sul manuale del registratore");
  EXPECT_EQ(DumpFailedText(-1), "DUMP NON ESEGUITO : -1");
  EXPECT_EQ(OutcomeErrorText(0), "");
  EXPECT_EQ(OutcomeStatusText(-100), "");
}

}  // namespace
}  // namespace kolibra
