// Binds the driver to a window host: writes the view derived from the
// driver into the controls while the window is shown, and turns clicks, list choices, menu
// items and tray messages into the operator's actions.
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "core/app_context.h"
#include "platform/window_host.h"

namespace kolibra {

// Actions that belong to the program's life rather than to the window.
struct WindowActions {
  std::function<void()> exit;  // "T&ermina Kolibra" and the close box
};

// The program's identity as the about and splash windows show it: the
// values of the Windows program's version information.
inline constexpr const char* kProductTitle = "Kolibra";
inline constexpr const char* kCompanyName = "Norvik Engineering";
inline constexpr const char* kLegalNotice = "Copyright (C) Norvik Engineering";
inline constexpr const char* kProductDescription =
    "Kolibra - driver di stampa per registratori di cassa fiscali";

AboutTexts MakeAboutTexts();
SplashTexts MakeSplashTexts();

class WindowBinding {
 public:
  WindowBinding(AppContext& ctx, WindowHost& host, WindowActions actions);
  ~WindowBinding();
  WindowBinding(const WindowBinding&) = delete;
  WindowBinding& operator=(const WindowBinding&) = delete;

  // Connects the host's events to the handlers below, fills the lists and
  // tool tips, and creates the timer that refreshes the shown window.
  void Attach();

  // Writes the view derived from the driver into the controls, only while
  // the operator watches; a control is written only when its value changed since the
  // last write, so that what the operator is typing stays.
  void Refresh();

  void HandleCommand(int id);
  void HandleTrayMouse(int message);
  void HandleMinimized();
  void HandleCloseBox();

  // The splash during start-up, the closing notice during shutdown.
  void ShowSplash();
  void CloseSplash();
  void ShowClosing();
  void CloseClosing();

 private:
  void Restore();
  void SlotBoxClick(int slot);
  void LinkModeClick();
  void SetSpeed();
  void ValidateAddress();
  void TakeAddressBox();
  // A refused action: its message, and the controls it touched show the
  // model again.
  void Refuse(const std::string& message, std::initializer_list<int> controls);
  void OpenManual();
  void RefreshTimer(bool on);

  void WriteText(int id, const std::string& text);
  void WriteChecked(int id, bool checked);
  void WriteEnabled(int id, bool enabled);
  void WriteVisible(int id, bool visible);
  void WriteColour(int id, int32_t colour);
  void WriteSelection(int id, int index);

  AppContext& ctx_;
  WindowHost& host_;
  WindowActions actions_;
  EventLoop::TimerId refreshTimer_ = -1;
  // The two buttons' captions as the dialog has them, and the address
  // check's answer while the "Valida IP" button shows it.
  std::string resetCaption_;
  std::string validateCaption_;
  std::string validateAnswer_;
  // What was last written into each control.
  std::map<int, std::string> texts_;
  std::map<int, int> checked_, enabled_, visible_, colours_, selections_;
};

}  // namespace kolibra
