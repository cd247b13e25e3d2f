#include "ui/operator_actions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "conversion/numbers.h"
#include "core/messages.h"
#include "core/operator_events.h"
#include "core/poll_timer.h"
#include "core/settings_file.h"
#include "core/version.h"
#include "link/tcp_link.h"
#include "outcome/job_outcome.h"
#include "ui/control_protocol.h"
#include "ui/operator_window.h"
#include "ui/window_facts.h"

namespace kolibra {

namespace {

constexpr int32_t kDefaultIntervalMs = 1000;
constexpr int32_t kShortestIntervalMs = 100;
constexpr int32_t kLongestIntervalMs = 60000;

int32_t RoundInterval(double ms) {
  if (ms >= kLongestIntervalMs) return kLongestIntervalMs;
  const auto rounded = static_cast<int32_t>(std::lround(ms));
  // A fraction of a second small enough to round below 100 ms would make the
  // timer spin; the shortest interval is 100 ms.
  return rounded < kShortestIntervalMs ? kShortestIntervalMs : rounded;
}

// The polling interval as typed or stored: blanks, then digits with an
// optional point; whatever follows ("ms") is not part of it.
constexpr NumberForm kIntervalNumber{" \t", false, true, ""};

bool LinkBusy(const AppContext& ctx) { return ctx.cycle.jobBusy || ctx.dump.inProgress; }

ActionResult Accepted(std::string text) { return ActionResult{true, std::move(text)}; }
ActionResult Refused(std::string text) { return ActionResult{false, std::move(text)}; }
ActionResult Busy(const char* text) { return ActionResult{false, text, true}; }

const char* YesNo(bool yes) { return yes ? "si" : "no"; }

std::string SlotName(int slot) { return "COM " + std::to_string(slot); }

const char* PortColourName(PortState port) {
  if (port == PortState::kAvailable) return "verde";
  if (port == PortState::kSwitchedOff) return "rosso";
  return "-";
}

const char* ConnectionColourName(ConnectionState connection) {
  return connection == ConnectionState::kOpen ? "verde" : "rosso";
}

std::string DisabledBox(const std::string& label) {
  return label + kBoxDisabledSuffix;
}

// A click on a check box that leaves it ticked or not.
ActionResult SetBox(bool& box, bool ticked, const std::string& label) {
  box = ticked;
  return Accepted(label + ": " + YesNo(ticked));
}

std::string SlotPattern(const AppContext& ctx) {
  std::string pattern;
  for (bool on : ctx.settings.slotOn) pattern += on ? '1' : '0';
  return pattern;
}

std::string PollingState(AppContext& ctx) {
  return std::string("Ricerca lavori: ") + (PollTimerEnabled(ctx) ? "attiva" : "ferma");
}

const char* LinkModeName(LinkMode mode) {
  switch (mode) {
    case LinkMode::kNetwork: return "Rete";
    case LinkMode::kSerial: return "Seriale";
    case LinkMode::kNone: break;
  }
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

// A click on the box of slot 1..4 (after its value changed): the polling
// follows the box, and the link settings and the test button are locked
// while it is ticked.
void SlotBoxClicked(AppContext& ctx, int slot) {
  const bool ticked = ctx.settings.slotOn[slot - 1];
  TellSlotSwitched(ctx, ticked);
  ctx.state.settingsLocked = ticked;
  Window(ctx).testReceiptReady = ticked;
}

}  // namespace

std::string PollingFileText(int32_t intervalMs) {
  if (intervalMs < 1000) return std::to_string(intervalMs);
  return FormatDecimal(intervalMs / 1000.0);
}

int32_t SetPollingValue(AppContext& ctx, const std::string& value, bool save) {
  std::string written;
  const double v = LeadingNumber(value, kIntervalNumber, &written);
  int32_t interval = kDefaultIntervalMs;
  if (value.empty() || v <= 0) {
    interval = kDefaultIntervalMs;
  } else if (v < 100) {
    ctx.settings.pollingValue = v <= 60 ? value : "60";
    interval = RoundInterval(1000.0 * LeadingNumber(ctx.settings.pollingValue, kIntervalNumber));
  } else if (v <= kLongestIntervalMs) {
    ctx.settings.pollingValue = written + "ms";
    interval = RoundInterval(v);
  } else {
    ctx.settings.pollingValue = "60";
    interval = kLongestIntervalMs;
  }
  if (save) {
    WriteSettingsFile(ctx, "KBTIMER1.TXT", PollingFileText(interval) + "\r\n");
  }
  return interval;
}

ActionResult PressTestButton(AppContext& ctx) {
  // A test receipt written while a job or dump runs would change the line
  // count of the running job, or the files of its slot.
  if (LinkBusy(ctx)) return Busy(kBusyCommandRefused);
  if (!Window(ctx).testReceiptReady) return Refused(kTestButtonDisabled);
  const bool allPending = std::all_of(ctx.dump.pending.begin(), ctx.dump.pending.end(),
                                      [](bool pending) { return pending; });
  const int ready = TestReceiptSlot(ctx);
  const bool slotReady = ready != 0;
  const bool jobWaiting = slotReady && TestReceiptBlocked(ctx, ready);
  const int slot = PrintTestReceipt(ctx);
  if (slot != 0) return Accepted("Scontrino di prova scritto per la porta " + SlotName(slot));
  if (allPending) return Refused(ctx.state.ecrMessage);
  if (jobWaiting) return Refused(kTestReceiptJobWaiting);
  if (!slotReady) return Refused(kTestReceiptNoSlot);
  return Refused(kTestReceiptNotWritten);
}

ActionResult ChooseSpeed(AppContext& ctx, const std::string& baudText) {
  if (std::find_if(kSpeedItems.begin(), kSpeedItems.end(),
                   [&](const char* item) { return baudText == item; }) == kSpeedItems.end()) {
    return Refused(kSpeedRefused);
  }
  ctx.settings.speedText = baudText;
  StoreBaudRate(ctx);
  return Accepted("Velocita' di comunicazione: " + ctx.settings.speedText);
}

ActionResult SetSlotBoxes(AppContext& ctx, const std::string& pattern) {
  if (pattern.size() != kSlotCount ||
      pattern.find_first_not_of("01") != std::string::npos) {
    return Refused(kSlotsRefused);
  }
  std::array<bool, kSlotCount> change{};
  bool anyChange = false;
  for (int n = 1; n <= kSlotCount; ++n) {
    change[n - 1] = ctx.settings.slotOn[n - 1] != (pattern[n - 1] == '1');
    if (change[n - 1] && ctx.state.slotLocked[n - 1]) return Refused(DisabledBox(SlotName(n)));
    anyChange = anyChange || change[n - 1];
  }
  // Ticking a box switches polling on: during a job that would let a second
  // job start inside the first.
  if (anyChange && LinkBusy(ctx)) return Busy(kBusyValueRefused);
  // The cleared boxes first: the last click decides whether polling runs, and
  // any box ticked by this command leaves it running.
  for (const bool ticking : {false, true}) {
    for (int n = 1; n <= kSlotCount; ++n) {
      if (!change[n - 1] || (pattern[n - 1] == '1') != ticking) continue;
      ctx.settings.slotOn[n - 1] = ticking;
      SlotBoxClicked(ctx, n);
    }
  }
  return Accepted("Porte attive: " + SlotPattern(ctx) + "\n" + PollingState(ctx));
}

ActionResult ChooseLinkMode(AppContext& ctx, bool network) {
  const LinkMode mode = network ? LinkMode::kNetwork : LinkMode::kSerial;
  // Every link operation of the running job branches on the mode.
  if (ctx.settings.linkMode != mode && LinkBusy(ctx)) return Busy(kBusyValueRefused);
  ctx.settings.linkMode = mode;
  return Accepted(std::string("Collegamento: ") + LinkModeName(mode));
}

ActionResult TypeAddress(AppContext& ctx, const std::string& address) {
  if (!IsValidIpAddress(address)) return Refused(kAddressInvalid);
  ctx.settings.address = address;
  return Accepted(kAddressValid);
}

ActionResult PressResetConnection(AppContext& ctx) {
  // Re-opening the connection under a running job would cut its receipt.
  if (LinkBusy(ctx)) return Busy(kBusyCommandRefused);
  ResetConnClicked(ctx);
  return Accepted(std::string("Connessione: ") + ConnectionColourName(ctx.state.connection));
}

ActionResult SetTraceBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.settings.trace, ticked, "Abilita Trace");
}

ActionResult SetPassThroughBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.settings.passThrough, ticked, "Attiva Input Xon-Xoff");
}

ActionResult SetFourthPaymentBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.settings.fourthPaymentCard, ticked, "Pagam.4 = Bancomat");
}

ActionResult SetFooterRtBox(AppContext& ctx, bool ticked) {
  return SetBox(ctx.settings.footerRt, ticked, "Tipo Footer RT");
}

ActionResult SetPolling(AppContext& ctx, const std::string& value) {
  if (ctx.cycle.jobBusy) {
    ShowMessage(ctx, kBusyValueRefused);
    return Busy(kBusyValueRefused);
  }
  const double v = LeadingNumber(value, kIntervalNumber);
  const bool allowed = v != 0;
  if (!allowed) ShowMessage(ctx, kPollingValueRefused);
  ctx.settings.pollingValue = value;
  TellIntervalChosen(ctx, SetPollingValue(ctx, FormatDecimal(v), true));
  const std::string shown = PollingText(ctx);
  return Accepted(allowed ? shown : std::string(kPollingValueRefused) + "\n" + shown);
}

ActionResult ChoosePayments(AppContext& ctx, int payments) {
  const int index = payments == 5 ? 0 : payments == 6 ? 1 : payments == 8 ? 2 : -1;
  if (index < 0) return Refused(kPaymentsRefused);
  ctx.settings.paymentsIndex = index;
  return Accepted(std::string("N. dei Pagamenti: ") + kPaymentItems[index]);
}

std::string PollingText(AppContext& ctx) {
  return "Timer in sec.: " + PrintableText(ctx.settings.pollingValue) + " (" +
         std::to_string(ctx.cycle.pollingIntervalMs) + " ms)";
}

std::string WindowStatusText(AppContext& ctx) {
  const DriverSettings& settings = ctx.settings;
  const DriverState& state = ctx.state;
  std::string t;
  t += "Kolibra " + VersionText() + "\n";
  t += "Cartella dati: " + PrintableText(ctx.dataDir) + "\n";
  t += "Porta  Attiva  Stato   Stato dump\n";
  bool anyDisabled = false;
  for (int n = 1; n <= kSlotCount; ++n) {
    std::string active = YesNo(settings.slotOn[n - 1]);
    if (state.slotLocked[n - 1]) active += " *";
    anyDisabled = anyDisabled || state.slotLocked[n - 1];
    std::string dump = state.dumpText[n - 1];
    if (dump.empty()) dump = ctx.dump.pending[n - 1] ? kDumpNotDone : kDumpDone;
    char line[160];
    std::snprintf(line, sizeof line, "%-6s %-7s %-7s %s\n", SlotName(n).c_str(), active.c_str(),
                  PortColourName(state.port[n - 1]), PrintableText(dump).c_str());
    t += line;
  }
  if (anyDisabled) t += "(* casella disattivata)\n";
  t += std::string("Connessione: ") + ConnectionColourName(state.connection) + "\n";
  t += "Stato  Kolibra : " + PrintableText(state.status) + "\n";
  t += "Messaggi ECR : " + PrintableText(state.ecrMessage) + "\n";
  t += "Matricola: " + PrintableText(state.serialNumber) + "\n";
  t += PollingText(ctx) + ", " + PollingState(ctx) + "\n";
  t += "Velocita' di comunicazione: " + PrintableText(settings.speedText) + "\n";
  t += std::string("Collegamento: ") + LinkModeName(settings.linkMode) + "\n";
  t += "Indirizzo IP: " + PrintableText(settings.address) + "\n";
  t += std::string("Abilita Trace: ") + YesNo(settings.trace) + "\n";
  t += std::string("Attiva Input Xon-Xoff: ") + YesNo(settings.passThrough) + "\n";
  t += std::string("Tipo Footer RT: ") + YesNo(settings.footerRt) + "\n";
  const int payments = settings.paymentsIndex >= 0 && settings.paymentsIndex < 3 ? settings.paymentsIndex : 2;
  t += std::string("N. dei Pagamenti: ") + kPaymentItems[payments] + "\n";
  t += std::string("Pagam.4 = Bancomat: ") + YesNo(settings.fourthPaymentCard) + "\n";
  t += std::string("Esegui Test: ") + (Window(ctx).testReceiptReady ? "attivo" : "disattivato") + "\n";
  t += "Icona: " + std::string(TrayTip(ctx)) + "\n";
  t += "Ultimo lavoro: " + LastJobText(ctx.cycle.lastJob) + "\n";
  return t;
}

const char* TrayTip(const AppContext& ctx) {
  return Window(ctx).jobAnnounced ? kTrayRunningTip : kTrayIdleTip;
}

}  // namespace kolibra
