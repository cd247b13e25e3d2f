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

namespace kolibra {

namespace {

constexpr int64_t kRefreshMs = 250;
constexpr int kFeedbackMs = 2000;

constexpr std::array<int, kSlotCount> kSlotBoxes{IDC_CHECK1, IDC_CHECK2, IDC_CHECK3, IDC_CHECK4};
constexpr std::array<int, kSlotCount> kSlotLabels{IDC_LABEL3, IDC_LABEL6, IDC_LABEL11, IDC_LABEL12};
constexpr std::array<int, kSlotCount> kSlotShapes{IDC_SHAPE1, IDC_SHAPE2, IDC_SHAPE4, IDC_SHAPE5};
constexpr std::array<int, kSlotCount> kDumpBoxes{IDC_TEXT4, IDC_TEXT5, IDC_TEXT6, IDC_TEXT7};

// The controls of the settings frame and of the messages frame, which are
// locked together while a slot box is ticked.
constexpr int kSettingsFrame[] = {IDC_FRAME3,         IDC_LABEL10,      IDC_CMBBAUDE,
                                  IDC_COMMAND1,       IDC_OPTIONRS232,  IDC_OPTIONRETE,
                                  IDC_TXTREMOTEIP,    IDC_CMDVALIDATEIP, IDC_CMDRESETCONN,
                                  IDC_LABEL13,        IDC_CBOPAGAMENTI, IDC_CBOADDEDFUNCTIONS};
constexpr int kMessagesFrame[] = {IDC_FRAME4, IDC_LABEL1, IDC_TEXT1, IDC_LABEL2,
                                  IDC_TEXT2,  IDC_LABEL7, IDC_TEXT3, IDC_TEXT8};

// Check boxes of the settings frame with their view value and their action.
struct OptionBox {
  int id;
  bool OperatorView::*shown;
  ActionResult (*set)(AppContext&, bool);
};
constexpr OptionBox kSettingsBoxes[] = {
    {IDC_CHBPAG4BANCOMAT, &OperatorView::fourthPaymentCard, &SetFourthPaymentBox},
    {IDC_CHECKFOOTERRT, &OperatorView::footerRt, &SetFooterRtBox},
    {IDC_CHBENABLEXONINPUT, &OperatorView::passThrough, &SetPassThroughBox}};

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
  host_.SetToolTip(IDC_LABEL8, "Se verde indica che la porta \xE8 attiva");
  host_.SetToolTip(IDC_TEXT1, "Messaggi ricevuti da ECR");
  host_.SetToolTip(IDC_TEXT2, "Stato del programma KOLIBRA");
  host_.SetToolTip(IDC_CMBFILE, "Esegue scontrino di prova per test collegamento");
  host_.SetToolTip(IDC_TXTTIMERVAL, "Valore del timer in secondi");
  host_.SetToolTip(IDC_CMDCHGTIMER, "Cliccare per settare il timer");

  host_.SetListItems(IDC_CMBBAUDE, {kSpeedItems.begin(), kSpeedItems.end()});
  host_.SetListItems(IDC_CBOPAGAMENTI, {kPaymentItems.begin(), kPaymentItems.end()});
  host_.SetListItems(IDC_CBOADDEDFUNCTIONS, {"Vers. Standard"});
  host_.SetSelection(IDC_CBOADDEDFUNCTIONS, 0);
  // The tick counter drives the job trigger; the operator does not need it.
  host_.SetVisible(IDC_TXTTIMER, false);

  resetCaption_ = host_.GetText(IDC_CMDRESETCONN);
  validateCaption_ = host_.GetText(IDC_CMDVALIDATEIP);
  if (refreshTimer_ < 0) refreshTimer_ = ctx_.platform.loop.CreateTimer([this] { Refresh(); });
}

void WindowBinding::RefreshTimer(bool on) {
  if (refreshTimer_ >= 0) ctx_.platform.loop.SetTimer(refreshTimer_, kRefreshMs, on);
}

void WindowBinding::Refresh() {
  if (!ctx_.state.watched) return;
  const OperatorView v = DeriveView(ctx_);
  for (int i = 0; i < kSlotCount; ++i) {
    WriteChecked(kSlotBoxes[i], v.slotTicked[i]);
    WriteEnabled(kSlotBoxes[i], v.slotBoxEnabled[i]);
    WriteColour(kSlotShapes[i], v.slotColour[i]);
    WriteText(kDumpBoxes[i], v.dumpText[i]);
  }
  WriteText(IDC_TEXT1, v.ecrMessage);
  WriteText(IDC_TEXT2, v.status);
  WriteText(IDC_TEXT3, v.timerState);
  WriteText(IDC_TEXT8, v.serialNumber);
  WriteText(IDC_TXTTIMER, v.tickCounterText);
  WriteText(IDC_TXTTIMERVAL, v.pollingValue);
  WriteText(IDC_CMBBAUDE, v.speedText);
  WriteSelection(IDC_CBOPAGAMENTI, v.paymentsIndex);
  WriteChecked(IDC_OPTIONRS232, v.serialChosen);
  WriteChecked(IDC_OPTIONRETE, v.networkChosen);
  WriteText(IDC_TXTREMOTEIP, v.address);
  WriteColour(IDC_SHAPECONN, v.connectionColour);
  WriteText(IDC_CMDRESETCONN, v.resetClosing ? kResetClosingCaption : resetCaption_);
  WriteText(IDC_CMDVALIDATEIP, validateAnswer_.empty() ? validateCaption_ : validateAnswer_);
  WriteChecked(IDC_CHBTRACE, v.trace);
  WriteEnabled(IDC_CHBTRACE, true);
  WriteEnabled(IDC_CMBFILE, v.testButtonEnabled);
  for (int id : kSettingsFrame) WriteEnabled(id, v.settingsFrameEnabled);
  for (const OptionBox& o : kSettingsBoxes) {
    WriteChecked(o.id, v.*o.shown);
    WriteEnabled(o.id, v.settingsFrameEnabled);
  }
  for (int id : kMessagesFrame) WriteEnabled(id, v.messagesFrameEnabled);
  WriteText(IDC_TXTAPPDATAVISTA, v.dataDirText);
  WriteVisible(IDC_TXTAPPDATAVISTA, v.dataDirVisible);
  WriteVisible(IDC_LBLPATHVISTA, v.dataDirVisible);
}

void WindowBinding::HandleCommand(int id) {
  if (const int slot = SlotOfBox(id)) {
    SlotBoxClick(slot);
  } else {
    switch (id) {
      case IDC_CMBFILE: {
        // Before any dump the ECR message box says so; during a job or dump
        // a message says why nothing is written.
        const ActionResult result = PressTestButton(ctx_);
        if (result.busy) Refuse(result.text, {});
        break;
      }
      case IDC_CMDCHGTIMER: {
        // The action shows its own message box.
        const std::string typed = host_.GetText(IDC_TXTTIMERVAL);
        texts_[IDC_TXTTIMERVAL] = typed;
        if (!SetPolling(ctx_, typed).accepted) texts_.erase(IDC_TXTTIMERVAL);
        break;
      }
      case IDC_COMMAND1:
        SetSpeed();
        break;
      case IDC_OPTIONRS232:
      case IDC_OPTIONRETE:
        LinkModeClick();
        break;
      case IDC_TXTREMOTEIP:
        TakeAddressBox();
        break;
      case IDC_CMDVALIDATEIP:
        ValidateAddress();
        break;
      case IDC_CMDRESETCONN: {
        TakeAddressBox();
        const ActionResult result = PressResetConnection(ctx_);
        if (!result.accepted) Refuse(result.text, {});
        break;
      }
      case IDC_CBOPAGAMENTI: {
        constexpr int kPayments[] = {5, 6, 8};
        const int index = host_.Selection(IDC_CBOPAGAMENTI);
        if (index >= 0 && index < 3) ChoosePayments(ctx_, kPayments[index]);
        selections_.erase(IDC_CBOPAGAMENTI);
        break;
      }
      case IDC_CHBTRACE:
        SetTraceBox(ctx_, host_.IsChecked(id));
        checked_.erase(id);
        break;
      case IDC_CHBPAG4BANCOMAT:
      case IDC_CHBENABLEXONINPUT:
      case IDC_CHECKFOOTERRT:
        for (const OptionBox& o : kSettingsBoxes) {
          if (o.id == id) o.set(ctx_, host_.IsChecked(id));
        }
        checked_.erase(id);
        break;
      case IDM_ESCI:
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
  const ActionResult result = ChooseLinkMode(ctx_, host_.IsChecked(IDC_OPTIONRETE));
  if (result.accepted) {
    checked_.erase(IDC_OPTIONRETE);
    checked_.erase(IDC_OPTIONRS232);
  } else {
    Refuse(result.text, {IDC_OPTIONRETE, IDC_OPTIONRS232});
  }
}

// "Set velocità": only a speed of the list is taken; anything else leaves
// the speed as it was and puts it back in the box.
void WindowBinding::SetSpeed() {
  const ActionResult result = ChooseSpeed(ctx_, host_.GetText(IDC_CMBBAUDE));
  if (result.accepted) {
    texts_[IDC_CMBBAUDE] = ctx_.settings.speedText;
  } else {
    Refuse(result.text, {IDC_CMBBAUDE});
  }
}

// The address box feeds the address only with a text that passes the check;
// a text being typed, or an invalid one, leaves the address as it was.
void WindowBinding::TakeAddressBox() {
  if (TypeAddress(ctx_, host_.GetText(IDC_TXTREMOTEIP)).accepted) {
    texts_[IDC_TXTREMOTEIP] = ctx_.settings.address;
  }
}

// "Valida IP" judges the box as typed and says so on its caption for two
// seconds; the connection is not touched.
void WindowBinding::ValidateAddress() {
  TakeAddressBox();
  const std::string answer = validateAnswer_;
  validateAnswer_ = TypeAddress(ctx_, host_.GetText(IDC_TXTREMOTEIP)).text;
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
      host_.PopupMenu({{IDM_ESCI, "T&ermina Kolibra", true}, {IDM_MANUAL, "&Manuale Kolibra", false}});
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
