// The operator window's actions for a driver that has no window: each
// follows the rules of the control it stands for, changes what the control
// changes and saves what it saves, and says in words what the window would
// show. The window's own message is the text of a refusal.
#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

struct ActionResult {
  bool accepted = true;
  std::string text;   // refused: the message; accepted: what the window now shows
  bool busy = false;  // refused because a job or a dump runs
};

// A change of a setting that the link is using, or a command on the link, is
// refused while a job or a dump runs (kBusyValueRefused, kBusyCommandRefused);
// the polling value is refused only while a job runs.

// " Esegui Test".
ActionResult PressTestButton(AppContext& ctx);
// An item of the speed list, then "Set velocità".
ActionResult ChooseSpeed(AppContext& ctx, const std::string& baudText);
// The four slot boxes to "1" (ticked) or "0", given as "1100"; each box that
// changes is clicked, the cleared ones first.
ActionResult SetSlotBoxes(AppContext& ctx, const std::string& pattern);
// "Seriale" / "Rete".
ActionResult ChooseLinkMode(AppContext& ctx, bool network);
// An address typed into the address box, then "Valida IP".
ActionResult TypeAddress(AppContext& ctx, const std::string& address);
// "Reset Connessione".
ActionResult PressResetConnection(AppContext& ctx);
// "Abilita Trace", "Attiva Input Xon-Xoff", "Pagam.4 = Bancomat", "Tipo Footer RT".
ActionResult SetTraceBox(AppContext& ctx, bool ticked);
ActionResult SetPassThroughBox(AppContext& ctx, bool ticked);
ActionResult SetFourthPaymentBox(AppContext& ctx, bool ticked);
ActionResult SetFooterRtBox(AppContext& ctx, bool ticked);
// A value typed into the polling box, then "Set timer". A refusal (a job
// runs) leaves the value as it was; a value that is not allowed is no
// refusal: the one-second default is in force and saved, and the text says
// so. Either message is also shown as a message box.
ActionResult SetPolling(AppContext& ctx, const std::string& value);
// An item of the payments list: 5, 6 or 8 payments.
ActionResult ChoosePayments(AppContext& ctx, int payments);

// Turns the operator's polling value into the polling interval (returned,
// for the job cycle to take); with save, writes KBTIMER1.TXT.
int32_t SetPollingValue(AppContext& ctx, const std::string& value, bool save);
// Text KBTIMER1.TXT holds for a polling interval: milliseconds below 1000,
// else seconds with "." before any fraction.
std::string PollingFileText(int32_t intervalMs);

// Everything the window shows, one item a line.
std::string WindowStatusText(AppContext& ctx);
// The polling value box and the interval it gave, as the status shows them.
std::string PollingText(AppContext& ctx);
// The tray icon's tip.
const char* TrayTip(const AppContext& ctx);

}  // namespace kolibra
