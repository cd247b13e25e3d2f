#include "ui/window_binding.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/messages.h"
#include "core/operator_events.h"
#include "link/tcp_link.h"
#include "link/transmission.h"
#include "platform/window_ids.h"
#include "ui/operator_actions.h"
#include "ui/operator_window.h"
#include "ui/window_facts.h"

namespace kolibra {

namespace {

constexpr int64_t kRefreshMs = 250;
constexpr int kFeedbackMs = 2000;

constexpr std::array<int, kSlotCount> kSlotBoxes{IDC_SLOT1_ENABLE, IDC_SLOT2_ENABLE, IDC_SLOT3_ENABLE, IDC_SLOT4_ENABLE};
constexpr std::array<int, kSlotCount> kSlotLabels{IDC_SLOT1_NAME, IDC_SLOT2_NAME, IDC_SLOT3_NAME, IDC_SLOT4_NAME};
constexpr std::array<int, kSlotCount> kSlotShapes{IDC_SLOT1_INDICATOR, IDC_SLOT2_INDICATOR, IDC_SLOT3_INDICATOR, IDC_SLOT4_INDICATOR};
constexpr std::array<int, kSlotCount> kDumpBoxes{IDC_SLOT1_DUMP, IDC_SLOT2_DUMP, IDC_SLOT3_DUMP, IDC_SLOT4_DUMP};

// The controls of the settings frame and of the messages frame, which are
// locked together while a slot box is ticked.
constexpr int kSettingsFrame[] = {IDC_SETTINGS_FRAME,         IDC_SPEED_LABEL,      IDC_SPEED,
                                  IDC_SET_SPEED_BUTTON,       IDC_SERIAL_OPTION,  IDC_NETWORK_OPTION,
                                  IDC_REMOTE_IP,    IDC_VALIDATE_IP_BUTTON, IDC_RESET_CONNECTION_BUTTON,
                                  IDC_PAYMENTS_LABEL,        IDC_PAYMENTS, IDC_ADDED_FUNCTIONS};
constexpr int kMessagesFrame[] = {IDC_MESSAGES_FRAME, IDC_ECR_MESSAGE_LABEL, IDC_ECR_MESSAGE, IDC_STATUS_LABEL,
                                  IDC_STATUS,  IDC_TIMER_STATE_LABEL, IDC_TIMER_STATE, IDC_SERIAL_NUMBER};

// Check boxes of the settings frame with their view value and their action.
struct OptionBox {
  int id;
  bool OperatorView::*shown;
  ActionResult (*set)(AppContext&, bool);
};
constexpr OptionBox kSettingsBoxes[] = {
    {IDC_PAYMENT4_BANCOMAT, &OperatorView::fourthPaymentCard, &SetFourthPaymentBox},
    {IDC_FOOTER_RT, &OperatorView::footerRt, &SetFooterRtBox},
    {IDC_PASS_THROUGH, &OperatorView::passThrough, &SetPassThroughBox}};

std::string Numbered(const char* text, int n) { return text + std::to_string(n); }

int SlotOfBox(int id) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (kSlotBoxes[i] == id) return i + 1;
  }
  return 0;
}

}  // namespace

AboutTexts MakeAboutTexts() {
  return {"Informazioni su Kolibra", "Versione " + VersionText(),
          std::string(kProductTitle) + " per sistemi Windows 32 bit", kProductDescription};
}

SplashTexts MakeSplashTexts() {
  return {"Version " + VersionText(),
          kProductTitle,
          kCompanyName,
          "Per sistemi Windows 32 bit",
          kLegalNotice,
          "Marchi registrati: Windows \xE8 un marchio registrato da Microsoft Corporation"};
}

WindowBinding::WindowBinding(AppContext& ctx, WindowHost& host, WindowActions actions)
    : ctx_(ctx), host_(host), actions_(std::move(actions)) {}

WindowBinding::~WindowBinding() {
  if (refreshTimer_ >= 0) ctx_.platform.loop.SetTimer(refreshTimer_, kRefreshMs, false);
  host_.SetEvents({});
}

void WindowBinding::Attach() {
  host_.SetEvents({[this](int id) { HandleCommand(id); },
                   [this](int message) { HandleTrayMouse(message); },
                   [this] { HandleMinimized(); }, [this] { HandleCloseBox(); }});

  for (int n = 1; n <= kSlotCount; ++n) {
    host_.SetToolTip(kSlotBoxes[n - 1], Numbered("Abilita / disabilita COM", n));
    host_.SetToolTip(kSlotLabels[n - 1], "Verde, se COM" + std::to_string(n) + " disponibile");
    host_.SetToolTip(kDumpBoxes[n - 1], Numbered("Segnala se DUMP ricevuto su COM", n));
  }
  host_.SetToolTip(IDC_STATE_HEADING, "Se verde indica che la porta \xE8 attiva");
  host_.SetToolTip(IDC_ECR_MESSAGE, "Messaggi ricevuti da ECR");
  host_.SetToolTip(IDC_STATUS, "Stato del programma KOLIBRA");
  host_.SetToolTip(IDC_TEST_BUTTON, "Esegue scontrino di prova per test collegamento");
  host_.SetToolTip(IDC_TIMER_VALUE, "Valore del timer in secondi");
  host_.SetToolTip(IDC_SET_TIMER_BUTTON, "Cliccare per settare il timer");

  host_.SetListItems(IDC_SPEED, {kSpeedItems.begin(), kSpeedItems.end()});
  host_.SetListItems(IDC_PAYMENTS, {kPaymentItems.begin(), kPaymentItems.end()});
  host_.SetListItems(IDC_ADDED_FUNCTIONS, {"Vers. Standard"});
  host_.SetSelection(IDC_ADDED_FUNCTIONS, 0);
  // The tick counter drives the job trigger; the operator does not need it.
  host_.SetVisible(IDC_TICK_COUNTER, false);

  resetCaption_ = host_.GetText(IDC_RESET_CONNECTION_BUTTON);
  validateCaption_ = host_.GetText(IDC_VALIDATE_IP_BUTTON);
  if (refreshTimer_ < 0) refreshTimer_ = ctx_.platform.loop.CreateTimer([this] { Refresh(); });
}

void WindowBinding::RefreshTimer(bool on) {
  if (refreshTimer_ >= 0) ctx_.platform.loop.SetTimer(refreshTimer_, kRefreshMs, on);
}

void WindowBinding::Refresh() {
  if (!Window(ctx_).watched) return;
  const OperatorView v = DeriveView(ctx_);
  for (int i = 0; i < kSlotCount; ++i) {
    WriteChecked(kSlotBoxes[i], v.slotTicked[i]);
    WriteEnabled(kSlotBoxes[i], v.slotBoxEnabled[i]);
    WriteColour(kSlotShapes[i], v.slotColour[i]);
    WriteText(kDumpBoxes[i], v.dumpText[i]);
  }
  WriteText(IDC_ECR_MESSAGE, v.ecrMessage);
  WriteText(IDC_STATUS, v.status);
  WriteText(IDC_TIMER_STATE, v.timerState);
  WriteText(IDC_SERIAL_NUMBER, v.serialNumber);
  WriteText(IDC_TICK_COUNTER, v.tickCounterText);
  WriteText(IDC_TIMER_VALUE, v.pollingValue);
  WriteText(IDC_SPEED, v.speedText);
  WriteSelection(IDC_PAYMENTS, v.paymentsIndex);
  WriteChecked(IDC_SERIAL_OPTION, v.serialChosen);
  WriteChecked(IDC_NETWORK_OPTION, v.networkChosen);
  WriteText(IDC_REMOTE_IP, v.address);
  WriteColour(IDC_CONNECTION_INDICATOR, v.connectionColour);
  WriteText(IDC_RESET_CONNECTION_BUTTON, v.resetClosing ? kResetClosingCaption : resetCaption_);
  WriteText(IDC_VALIDATE_IP_BUTTON, validateAnswer_.empty() ? validateCaption_ : validateAnswer_);
  WriteChecked(IDC_TRACE, v.trace);
  WriteEnabled(IDC_TRACE, true);
  WriteEnabled(IDC_TEST_BUTTON, v.testButtonEnabled);
  for (int id : kSettingsFrame) WriteEnabled(id, v.settingsFrameEnabled);
  for (const OptionBox& o : kSettingsBoxes) {
    WriteChecked(o.id, v.*o.shown);
    WriteEnabled(o.id, v.settingsFrameEnabled);
  }
  for (int id : kMessagesFrame) WriteEnabled(id, v.messagesFrameEnabled);
  WriteText(IDC_DATA_DIR, v.dataDirText);
  WriteVisible(IDC_DATA_DIR, v.dataDirVisible);
  WriteVisible(IDC_DATA_DIR_LABEL, v.dataDirVisible);
}

void WindowBinding::HandleCommand(int id) {
  if (const int slot = SlotOfBox(id)) {
    SlotBoxClick(slot);
  } else {
    switch (id) {
      case IDC_TEST_BUTTON: {
        // Before any dump the ECR message box says so; during a job or dump
        // a message says why nothing is written.
        const ActionResult result = PressTestButton(ctx_);
        if (result.busy) Refuse(result.text, {});
        break;
      }
      case IDC_SET_TIMER_BUTTON: {
        // The action shows its own message box.
        const std::string typed = host_.GetText(IDC_TIMER_VALUE);
        texts_[IDC_TIMER_VALUE] = typed;
        if (!SetPolling(ctx_, typed).accepted) texts_.erase(IDC_TIMER_VALUE);
        break;
      }
      case IDC_SET_SPEED_BUTTON:
        SetSpeed();
        break;
      case IDC_SERIAL_OPTION:
      case IDC_NETWORK_OPTION:
        LinkModeClick();
        break;
      case IDC_REMOTE_IP:
        TakeAddressBox();
        break;
      case IDC_VALIDATE_IP_BUTTON:
        ValidateAddress();
        break;
      case IDC_RESET_CONNECTION_BUTTON: {
        TakeAddressBox();
        const ActionResult result = PressResetConnection(ctx_);
        if (!result.accepted) Refuse(result.text, {});
        break;
      }
      case IDC_PAYMENTS: {
        constexpr int kPayments[] = {5, 6, 8};
        const int index = host_.Selection(IDC_PAYMENTS);
        if (index >= 0 && index < 3) ChoosePayments(ctx_, kPayments[index]);
        selections_.erase(IDC_PAYMENTS);
        break;
      }
      case IDC_TRACE:
        SetTraceBox(ctx_, host_.IsChecked(id));
        checked_.erase(id);
        break;
      case IDC_PAYMENT4_BANCOMAT:
      case IDC_PASS_THROUGH:
      case IDC_FOOTER_RT:
        for (const OptionBox& o : kSettingsBoxes) {
          if (o.id == id) o.set(ctx_, host_.IsChecked(id));
        }
        checked_.erase(id);
        break;
      case IDM_EXIT:
        if (actions_.exit) actions_.exit();
        break;
      case IDM_MANUAL:
        OpenManual();
        break;
      case IDM_INFO:
        host_.ShowAbout(MakeAboutTexts());
        break;
      default:
        break;
    }
  }
  Refresh();
}

void WindowBinding::Refuse(const std::string& message, std::initializer_list<int> controls) {
  ShowMessage(ctx_, message);
  for (int id : controls) {
    texts_.erase(id);
    checked_.erase(id);
  }
}

// The clicked box against the others as they are; ticking one during a job
// would let a second job start inside it, so that is refused.
void WindowBinding::SlotBoxClick(int slot) {
  std::string pattern;
  for (int n = 1; n <= kSlotCount; ++n) {
    const bool ticked = n == slot ? host_.IsChecked(kSlotBoxes[n - 1]) : ctx_.settings.slotOn[n - 1];
    pattern += ticked ? '1' : '0';
  }
  const ActionResult result = SetSlotBoxes(ctx_, pattern);
  if (result.accepted) {
    checked_.erase(kSlotBoxes[slot - 1]);
  } else {
    Refuse(result.text, {kSlotBoxes[slot - 1]});
  }
}

void WindowBinding::LinkModeClick() {
  const ActionResult result = ChooseLinkMode(ctx_, host_.IsChecked(IDC_NETWORK_OPTION));
  if (result.accepted) {
    checked_.erase(IDC_NETWORK_OPTION);
    checked_.erase(IDC_SERIAL_OPTION);
  } else {
    Refuse(result.text, {IDC_NETWORK_OPTION, IDC_SERIAL_OPTION});
  }
}

// "Set velocità": only a speed of the list is taken; anything else leaves
// the speed as it was and puts it back in the box.
void WindowBinding::SetSpeed() {
  const ActionResult result = ChooseSpeed(ctx_, host_.GetText(IDC_SPEED));
  if (result.accepted) {
    texts_[IDC_SPEED] = ctx_.settings.speedText;
  } else {
    Refuse(result.text, {IDC_SPEED});
  }
}

// The address box feeds the address only with a text that passes the check;
// a text being typed, or an invalid one, leaves the address as it was.
void WindowBinding::TakeAddressBox() {
  if (TypeAddress(ctx_, host_.GetText(IDC_REMOTE_IP)).accepted) {
    texts_[IDC_REMOTE_IP] = ctx_.settings.address;
  }
}

// "Valida IP" judges the box as typed and says so on its caption for two
// seconds; the connection is not touched.
void WindowBinding::ValidateAddress() {
  TakeAddressBox();
  const std::string answer = validateAnswer_;
  validateAnswer_ = TypeAddress(ctx_, host_.GetText(IDC_REMOTE_IP)).text;
  Refresh();
  Pause(ctx_, kFeedbackMs);
  validateAnswer_ = answer;
}

void WindowBinding::OpenManual() {
  const std::string path = JoinPath(ctx_.defaultDataDir, "mankolibra.pdf");
  if (!ctx_.platform.fs.Exists(path)) {
    ShowMessage(ctx_, kManualMissingPrefix + path + kManualMissingSuffix);
  } else if (!host_.OpenDocument(path)) {
    ShowMessage(ctx_, kManualNotOpened);
  }
}

void WindowBinding::HandleTrayMouse(int message) {
  switch (TrayMouseMessage(ctx_, message)) {
    case TrayAction::kRestore:
      Restore();
      break;
    case TrayAction::kPopupMenu:
      host_.PopupMenu({{IDM_EXIT, "T&ermina Kolibra", true}, {IDM_MANUAL, "&Manuale Kolibra", false}});
      break;
    case TrayAction::kNone:
      break;
  }
}

void WindowBinding::Restore() {
  // The model is already restored (flag set, dump boxes filled).
  Refresh();
  host_.ShowMain();
  RefreshTimer(true);
}

void WindowBinding::HandleMinimized() {
  MinimizeWindow(ctx_);
  RefreshTimer(false);
  host_.HideMain();
}

void WindowBinding::HandleCloseBox() {
  if (actions_.exit) actions_.exit();
}

void WindowBinding::ShowSplash() { host_.ShowSplash(MakeSplashTexts()); }
void WindowBinding::CloseSplash() { host_.CloseSplash(); }

void WindowBinding::ShowClosing() {
  RefreshTimer(false);
  host_.HideMain();
  host_.ShowClosing(kClosingNotice);
}

void WindowBinding::CloseClosing() { host_.CloseClosing(); }

void WindowBinding::WriteText(int id, const std::string& text) {
  const auto it = texts_.find(id);
  if (it != texts_.end() && it->second == text) return;
  texts_[id] = text;
  host_.SetText(id, text);
}

namespace {

// Writes value through set when it differs from what cache holds for id.
template <class Set>
void WriteState(std::map<int, int>& cache, int id, int value, Set set) {
  const auto it = cache.find(id);
  if (it != cache.end() && it->second == value) return;
  cache[id] = value;
  set();
}

}  // namespace

void WindowBinding::WriteChecked(int id, bool checked) {
  WriteState(checked_, id, checked, [&] { host_.SetChecked(id, checked); });
}
void WindowBinding::WriteEnabled(int id, bool enabled) {
  WriteState(enabled_, id, enabled, [&] { host_.SetEnabled(id, enabled); });
}
void WindowBinding::WriteVisible(int id, bool visible) {
  WriteState(visible_, id, visible, [&] { host_.SetVisible(id, visible); });
}
void WindowBinding::WriteColour(int id, int32_t colour) {
  WriteState(colours_, id, colour, [&] { host_.SetColour(id, colour); });
}
void WindowBinding::WriteSelection(int id, int index) {
  WriteState(selections_, id, index, [&] { host_.SetSelection(id, index); });
}

}  // namespace kolibra
