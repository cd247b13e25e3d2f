// A window host that keeps every control's state in maps, records what the program asked of it,
// and lets a test play the operator.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/window_host.h"
#include "platform/window_ids.h"

namespace kolibra::fakes {

class FakeWindowHost : public WindowHost {
 public:
  FakeWindowHost() {  // the captions the dialog gives its buttons
    text[IDC_RESET_CONNECTION_BUTTON] = "Reset Connessione";
    text[IDC_VALIDATE_IP_BUTTON] = "Valida IP";
  }
  void SetEvents(WindowEvents e) override { events = std::move(e); }
  void SetText(int id, const std::string& t) override { text[id] = t; ++writes; }
  std::string GetText(int id) override { return text[id]; }
  void SetChecked(int id, bool c) override { checked[id] = c; ++writes; }
  bool IsChecked(int id) override { return checked[id]; }
  void SetEnabled(int id, bool e) override { enabled[id] = e; ++writes; }
  void SetVisible(int, bool) override {}
  void SetColour(int id, int32_t c) override { colour[id] = c; ++writes; }
  void SetToolTip(int id, const std::string& t) override { tips[id] = t; }
  void SetListItems(int id, const std::vector<std::string>& i) override { items[id] = i; }
  void SetSelection(int id, int index) override { selection[id] = index; }
  int Selection(int id) override { return selection.count(id) ? selection[id] : -1; }
  void ShowMain() override { mainVisible = true; }
  void HideMain() override { mainVisible = false; }
  bool MainVisible() override { return mainVisible; }
  bool AddTrayIcon(TrayIcon i, const std::string& t) override { tray = {true, i, t}; return true; }
  void SetTrayIcon(TrayIcon i, const std::string& t) override { tray = {tray.present, i, t}; }
  void RemoveTrayIcon() override { tray.present = false; }
  void PopupMenu(const std::vector<MenuItem>& m) override { popups.push_back(m); }
  bool OpenDocument(const std::string& path) override { opened.push_back(path); return openSucceeds; }
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void ShowAbout(const AboutTexts& t) override { about.push_back(t); }
  void ShowSplash(const SplashTexts& t) override { splash = t; splashShown = true; }
  void CloseSplash() override { splashShown = false; }
  void ShowClosing(const std::string& t) override {
    closing = t;
    closingShown = true;
    closingAfter = {mainVisible, tray.present};
  }
  void CloseClosing() override { closingShown = false; }

  // The operator types into a box, ticks a box or picks a list item, then the control's command arrives.
  void Type(int id, const std::string& t) { text[id] = t; Command(id); }
  void Click(int id) { checked[id] = !checked[id]; Command(id); }
  void Pick(int id, int index) { selection[id] = index; Command(id); }
  void Command(int id) {
    if (events.onCommand) events.onCommand(id);
  }

  struct Tray {
    bool present = false;
    TrayIcon icon = TrayIcon::kIdle;
    std::string tip;
  };

  WindowEvents events;
  std::map<int, std::string> text, tips;
  std::map<int, bool> checked, enabled;
  std::map<int, int32_t> colour;
  std::map<int, int> selection;
  std::map<int, std::vector<std::string>> items;
  int writes = 0;
  bool mainVisible = false, openSucceeds = true, splashShown = false, closingShown = false;
  Tray tray;
  std::vector<std::vector<MenuItem>> popups;
  std::vector<std::string> opened, messages;
  std::vector<AboutTexts> about;
  SplashTexts splash;
  std::string closing;
  struct { bool mainVisible = false, trayPresent = false; } closingAfter;  // still there at the closing notice
};

}  // namespace kolibra::fakes
