#include "ui/operator_actions.h"

#include <algorithm>
#include <cstdio>

#include "core/messages.h"
#include "core/operator_events.h"
#include "core/poll_timer.h"
#include "core/version.h"
#include "link/tcp_link.h"
#include "outcome/job_outcome.h"
#include "ui/control_protocol.h"
#include "ui/operator_window.h"

namespace kolibra {

namespace {

bool LinkBusy(const AppContext& ctx) { return ctx.cycle.jobBusy || ctx.dump.inProgress; }

ActionResult Accepted(std::string text) { return ActionResult{true, std::move(text)}; }
ActionResult Refused(std::string text) { return ActionResult{false, std::move(text)}; }

const char* YesNo(bool yes) { return yes ? "si" : "no"; }

std::string SlotName(int slot) { return "COM " + std::to_string(slot); }

const char* ColourName(int32_t colour) {
  if (colour == kColourGreen) return "verde";
  if (colour == kColourRed) return "rosso";
  return "-";
}

std::string DisabledBox(const std::string& label) {
  return label + ": casella disattivata, valore non accettato";
}

// A click on a check box that leaves it ticked or not; a disabled box takes
// no click.
ActionResult SetBox(CheckBox& box, bool ticked, const std::string& label) {
  if (!box.enabled) return Refused(DisabledBox(label));
  box.value = ticked ? 1 : 0;
  return Accepted(label + ": " + YesNo(ticked));
}

std::string SlotPattern(const AppContext& ctx) {
  std::string pattern;
  for (const CheckBox& box : ctx.ui.slotCheck) pattern += box.value == 1 ? '1' : '0';
  return pattern;
}

std::string PollingState(AppContext& ctx) {
  return std::string("Ricerca lavori: ") + (PollTimerEnabled(ctx) ? "attiva" : "ferma");
}

std::string LinkModeName(const OperatorState& ui) {
  if (ui.networkChosen && !ui.serialChosen) return "Rete";
  if (ui.serialChosen && !ui.networkChosen) return "Seriale";
  return "nessuno";
}

std::string LastJobText(const LastJob& job) {
  if (!job.any) return "nessuno";
  std::string text = OutcomeStatusText(job.code);
  if (text.empty()) text = OutcomeErrorText(job.code);
  char when[32];
  const CivilTime& t = job.endedAt;
  std::snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", t.day % 100, t.month % 100,
                t.year % 10000, t.hour % 100, t.minute % 100, t.second % 100);
  return SlotName(job.slot) + ", " + text + " (" + std::to_string(static_cast<int>(job.code)) +
         "), " + when;
}

}  // namespace

ActionResult PressTestButton(AppContext& ctx) {
  // A test receipt written while a job or dump runs would change the line
  // count of the running job, or the files of its slot.
  if (LinkBusy(ctx)) return Refused(kBusyCommandRefused);
  if (!ctx.ui.testButtonEnabled) return Refused("Pulsante \" Esegui Test\" disattivato");
  const bool allPending = std::all_of(ctx.dump.pending.begin(), ctx.dump.pending.end(),
                                      [](bool pending) { return pending; });
  const int ready = TestReceiptSlot(ctx);
  const bool slotReady = ready != 0;
  const bool jobWaiting = slotReady && TestReceiptBlocked(ctx, ready);
  const int slot = PrintTestReceipt(ctx);
  if (slot != 0) return Accepted("Scontrino di prova scritto per la porta " + SlotName(slot));
  if (allPending && ctx.ui.windowShown) return Refused(ctx.ui.ecrMessage);
  if (jobWaiting && ctx.ui.windowShown) return Refused(kTestReceiptJobWaiting);
  if (!slotReady || !ctx.ui.windowShown) {
    return Refused("Nessuna porta attiva con il dump eseguito: scontrino di prova non scritto");
  }
  return Refused("Scontrino di prova non scritto nella cartella dati");
}

ActionResult ChooseSpeed(AppContext& ctx, const std::string& baudText) {
  if (std::find_if(kSpeedItems.begin(), kSpeedItems.end(),
                   [&](const char* item) { return baudText == item; }) == kSpeedItems.end()) {
    return Refused("Velocita' non ammessa: 9600, 19200, 38400, 57600 o 115200");
  }
  ctx.ui.baudText = baudText;
  StoreBaudRate(ctx);
  return Accepted("Velocita' di comunicazione: " + ctx.ui.baudText);
}

ActionResult SetSlotBoxes(AppContext& ctx, const std::string& pattern) {
  if (pattern.size() != kSlotCount ||
      pattern.find_first_not_of("01") != std::string::npos) {
    return Refused("Porte: quattro cifre 0 o 1, per esempio 1100");
  }
  std::array<bool, kSlotCount> change{};
  bool anyChange = false;
  for (int n = 1; n <= kSlotCount; ++n) {
    const CheckBox& box = ctx.ui.slotCheck[n - 1];
    change[n - 1] = (box.value == 1) != (pattern[n - 1] == '1');
    if (change[n - 1] && !box.enabled) return Refused(DisabledBox(SlotName(n)));
    anyChange = anyChange || change[n - 1];
  }
  // Ticking a box switches polling on: during a job that would let a second
  // job start inside the first.
  if (anyChange && LinkBusy(ctx)) return Refused(kBusyValueRefused);
  // The cleared boxes first: the last click decides whether polling runs, and
  // any box ticked by this command leaves it running.
  for (const bool ticking : {false, true}) {
    for (int n = 1; n <= kSlotCount; ++n) {
      if (!change[n - 1] || (pattern[n - 1] == '1') != ticking) continue;
      ctx.ui.slotCheck[n - 1].value = ticking ? 1 : 0;
      SlotBoxClicked(ctx, n);
    }
  }
  return Accepted("Porte attive: " + SlotPattern(ctx) + "\n" + PollingState(ctx));
}

ActionResult ChooseLinkMode(AppContext& ctx, bool network) {
  OperatorState& ui = ctx.ui;
  const bool change = ui.networkChosen != network || ui.serialChosen == network;
  // Every link operation of the running job branches on the mode.
  if (change && LinkBusy(ctx)) return Refused(kBusyValueRefused);
  ui.networkChosen = network;
  ui.serialChosen = !network;
  return Accepted("Collegamento: " + LinkModeName(ui));
}

ActionResult TypeAddress(AppContext& ctx, const std::string& address) {
  if (!IsValidIpAddress(address)) return Refused("IP non Valido");
  ctx.ui.remoteIp = address;
  return Accepted("IP OK");
}

ActionResult PressResetConnection(AppContext& ctx) {
  // Re-opening the connection under a running job would cut its receipt.
  if (LinkBusy(ctx)) return Refused(kBusyCommandRefused);
  ResetConnClicked(ctx);
  return Accepted(std::string("Connessione: ") + ColourName(ctx.ui.connectionIndicator));
}

ActionResult SetTraceBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.ui.trace, ticked, "Abilita Trace");
}

ActionResult SetPassThroughBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.ui.passThrough, ticked, "Attiva Input Xon-Xoff");
}

ActionResult SetFourthPaymentBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.ui.pag4Bancomat, ticked, "Pagam.4 = Bancomat");
}

ActionResult ChoosePayments(AppContext& ctx, int payments) {
  const int index = payments == 5 ? 0 : payments == 6 ? 1 : payments == 8 ? 2 : -1;
  if (index < 0) return Refused("N. dei Pagamenti: 5, 6 o 8");
  ctx.ui.paymentsIndex = index;
  return Accepted(std::string("N. dei Pagamenti: ") + kPaymentItems[index]);
}

std::string PollingText(AppContext& ctx) {
  return "Timer in sec.: " + PrintableText(ctx.ui.timerValue) + " (" +
         std::to_string(ctx.cycle.pollingIntervalMs) + " ms)";
}

std::string WindowStatusText(AppContext& ctx) {
  const OperatorState& ui = ctx.ui;
  std::string t;
  t += "Kolibra " + VersionText() + "\n";
  t += "Cartella dati: " + PrintableText(ctx.dataDir) + "\n";
  t += "Porta  Attiva  Stato   Stato dump\n";
  bool anyDisabled = false;
  for (int n = 1; n <= kSlotCount; ++n) {
    const CheckBox& box = ui.slotCheck[n - 1];
    std::string active = YesNo(box.value == 1);
    if (!box.enabled) active += " *";
    anyDisabled = anyDisabled || !box.enabled;
    std::string dump = ui.dumpText[n - 1];
    if (dump.empty()) dump = ctx.dump.pending[n - 1] ? kDumpNotDone : kDumpDone;
    char line[160];
    std::snprintf(line, sizeof line, "%-6s %-7s %-7s %s\n", SlotName(n).c_str(), active.c_str(),
                  ColourName(ui.slotIndicator[n - 1]), PrintableText(dump).c_str());
    t += line;
  }
  if (anyDisabled) t += "(* casella disattivata)\n";
  t += std::string("Connessione: ") + ColourName(ui.connectionIndicator) + "\n";
  t += "Stato  Kolibra : " + PrintableText(ui.status) + "\n";
  t += "Messaggi ECR : " + PrintableText(ui.ecrMessage) + "\n";
  t += "Matricola: " + PrintableText(ui.serialNumber) + "\n";
  t += PollingText(ctx) + ", " + PollingState(ctx) + "\n";
  t += "Velocita' di comunicazione: " + PrintableText(ui.baudText) + "\n";
  t += "Collegamento: " + LinkModeName(ui) + "\n";
  t += "Indirizzo IP: " + PrintableText(ui.remoteIp) + "\n";
  t += std::string("Abilita Trace: ") + YesNo(ui.trace.value == 1) + "\n";
  t += std::string("Attiva Input Xon-Xoff: ") + YesNo(ui.passThrough.value == 1) + "\n";
  t += std::string("Tipo Footer RT: ") + YesNo(ui.footerRt.value == 1) + "\n";
  const int payments = ui.paymentsIndex >= 0 && ui.paymentsIndex < 3 ? ui.paymentsIndex : 2;
  t += std::string("N. dei Pagamenti: ") + kPaymentItems[payments] + "\n";
  t += std::string("Pagam.4 = Bancomat: ") + YesNo(ui.pag4Bancomat.value == 1) + "\n";
  t += std::string("Esegui Test: ") + (ui.testButtonEnabled ? "attivo" : "disattivato") + "\n";
  t += "Icona: " + PrintableText(ui.trayTip) + "\n";
  t += "Ultimo lavoro: " + LastJobText(ctx.cycle.lastJob) + "\n";
  return t;
}

}  // namespace kolibra
