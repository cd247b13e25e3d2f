// The operator's windows on Windows: dialogs from the program's resources
// (kolibra_ui.rc), the notification-area icon through Shell_NotifyIconA and
// the shell's "Open" verb. Window procedures only record what happened: the
// handlers run later inside EventLoop::Wait() (posted calls), so that a click
// never runs a job step inside a window procedure and a second program's
// SendMessage (BM_CLICK) returns at once.
//
// Windows' modal loops (the tray menu, the menu bar, moving a window) run
// only from the loop's outermost Wait(): one begun while a job waits on the
// ECR would hold that job until it ends. The tray menu then opens once the
// job is over; the menu bar and the moves are ignored until then.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_event_loop.h"
#include "platform/window_host.h"

namespace kolibra {

class Win32WindowHost : public WindowHost {
 public:
  explicit Win32WindowHost(EventLoop& loop);
  ~Win32WindowHost() override;
  Win32WindowHost(const Win32WindowHost&) = delete;
  Win32WindowHost& operator=(const Win32WindowHost&) = delete;

  // False when the main window could not be created (no display).
  bool Created() const { return main_ != nullptr; }
  HWND MainWindow() const { return main_; }

  void SetEvents(WindowEvents events) override { events_ = std::move(events); }
  void SetText(int id, const std::string& text) override;
  std::string GetText(int id) override;
  void SetChecked(int id, bool checked) override;
  bool IsChecked(int id) override;
  void SetEnabled(int id, bool enabled) override;
  void SetVisible(int id, bool visible) override;
  void SetColour(int id, int32_t colour) override;
  void SetToolTip(int id, const std::string& tip) override;
  void SetListItems(int id, const std::vector<std::string>& items) override;
  void SetSelection(int id, int index) override;
  int Selection(int id) override;
  void ShowMain() override;
  void HideMain() override;
  bool MainVisible() override;
  bool AddTrayIcon(TrayIcon icon, const std::string& tip) override;
  void SetTrayIcon(TrayIcon icon, const std::string& tip) override;
  void RemoveTrayIcon() override;
  void PopupMenu(const std::vector<MenuItem>& items) override;
  bool OpenDocument(const std::string& path) override;
  void ShowMessage(const std::string& text) override;
  void ShowAbout(const AboutTexts& texts) override;
  void ShowSplash(const SplashTexts& texts) override;
  void CloseSplash() override;
  void ShowClosing(const std::string& text) override;
  void CloseClosing() override;

 private:
  static INT_PTR CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK SideProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMainMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnSideMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  // Runs fn inside a later Wait(), if this host still exists then.
  void Deliver(std::function<void()> fn);
  HWND CreateSide(int templateId, HWND owner);
  void CloseSide(HWND& hwnd);
  void CloseAbout();
  bool Tray(DWORD operation, TrayIcon icon, const std::string& tip);
  // True when a modal loop begun now would hold a job (see above).
  bool InsideHandler() const { return loop32_ != nullptr && loop32_->InsideHandler(); }
  // WM_SYSCOMMAND that would start a modal loop while InsideHandler().
  bool RefusedSysCommand(UINT msg, WPARAM wParam) const;
  HICON Icon(TrayIcon icon) const { return icon == TrayIcon::kRunning ? runIcon_ : idleIcon_; }

  EventLoop& loop_;
  Win32EventLoop* loop32_ = nullptr;  // null for another kind of loop
  HINSTANCE instance_ = nullptr;
  HWND main_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND about_ = nullptr;
  HWND splash_ = nullptr;
  HWND closing_ = nullptr;
  std::vector<HWND> messages_;
  HICON idleIcon_ = nullptr;
  HICON runIcon_ = nullptr;
  HHOOK keyboardHook_ = nullptr;
  bool trayAdded_ = false;
  bool trayWanted_ = false;  // added by the program, not removed since
  TrayIcon trayIcon_ = TrayIcon::kIdle;
  std::string trayTip_;
  // Broadcast when the taskbar (Explorer) starts again: icons must be added anew.
  UINT taskbarCreated_ = 0;
  bool settingText_ = false;  // our own SetText: no change event
  std::map<int, COLORREF> colours_;
  WindowEvents events_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kolibra
