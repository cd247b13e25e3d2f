// The operator's windows as a form of controls addressed by the identifiers
// of platform/window_ids.h: the main window with its controls and menus, the
// tray icon, and the about, splash, closing and message windows. Events are
// delivered inside EventLoop::Wait(), never inside a window procedure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/notifier.h"
#include "platform/tray.h"

namespace kolibra {

struct WindowEvents {
  // A button, check box or option button clicked, a list selection or an
  // edit box changed, or a menu item chosen (menu bar and pop-up menu).
  std::function<void(int controlId)> onCommand;
  // A mouse message over the tray icon (515 double click, 516/517 right button, ...).
  std::function<void(int mouseMessage)> onTrayMouse;
  // The main window was minimised.
  std::function<void()> onMinimized;
  // The main window's close box.
  std::function<void()> onCloseBox;
};

struct MenuItem {
  int id = 0;
  std::string text;
  bool isDefault = false;  // shown bold
};

// The labels of the about window, filled when it opens.
struct AboutTexts {
  std::string caption;
  std::string version;
  std::string title;
  std::string description;
};

// The labels of the splash window.
struct SplashTexts {
  std::string version;
  std::string productName;
  std::string company;
  std::string platform;
  std::string legal;
  std::string trademarks;
};

class WindowHost : public Tray {
 public:
  virtual ~WindowHost() = default;

  virtual void SetEvents(WindowEvents events) = 0;

  // --- controls of the main window ---
  virtual void SetText(int id, const std::string& text) = 0;
  virtual std::string GetText(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual bool IsChecked(int id) = 0;
  virtual void SetEnabled(int id, bool enabled) = 0;
  virtual void SetVisible(int id, bool visible) = 0;
  // Fill colour of an indicator shape, as 0x00BBGGRR (65280 green, 255 red).
  virtual void SetColour(int id, int32_t colour) = 0;
  virtual void SetToolTip(int id, const std::string& tip) = 0;
  virtual void SetListItems(int id, const std::vector<std::string>& items) = 0;
  // -1: no item selected.
  virtual void SetSelection(int id, int index) = 0;
  virtual int Selection(int id) = 0;

  // --- the main window ---
  // Restores it to its normal size, shows it and brings it to the front.
  virtual void ShowMain() = 0;
  // Hides it: it leaves the screen and the task bar.
  virtual void HideMain() = 0;
  virtual bool MainVisible() = 0;

  // A pop-up menu at the mouse position; the chosen item arrives as onCommand.
  virtual void PopupMenu(const std::vector<MenuItem>& items) = 0;

  // Asks the system to open a document with its "Open" verb; false when that fails.
  virtual bool OpenDocument(const std::string& path) = 0;

  // A message window with an OK button that does not hold up the program.
  virtual void ShowMessage(const std::string& text) = 0;
  // The about window, modal to the main window (which stays disabled while
  // it is open) without stopping the program.
  virtual void ShowAbout(const AboutTexts& texts) = 0;
  // The splash window, topmost, with the busy pointer; and its end.
  virtual void ShowSplash(const SplashTexts& texts) = 0;
  virtual void CloseSplash() = 0;
  // The closing notice, topmost; and its end.
  virtual void ShowClosing(const std::string& text) = 0;
  virtual void CloseClosing() = 0;
};

// The operator's windows of this system, or nullptr where there are none
// (no window system, or no display to show them on).
std::unique_ptr<WindowHost> MakeWindowHost(EventLoop& loop);

// Why the program does not start, in a modal message window the operator
// acknowledges with OK; returns once acknowledged. Nothing where there is
// no window system or no display.
void ShowStartRefusal(const std::string& text);

}  // namespace kolibra
