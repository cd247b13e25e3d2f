#include "platform/win32/win32_window_host.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/win32_resource_ids.h"
#include "platform/window_ids.h"

namespace kolibra {

namespace {

// The one host of the process, for the keyboard hook.
Win32WindowHost* g_host = nullptr;

bool IsShape(int id) {
  return id == IDC_SLOT1_INDICATOR || id == IDC_SLOT2_INDICATOR || id == IDC_SLOT3_INDICATOR || id == IDC_SLOT4_INDICATOR ||
         id == IDC_CONNECTION_INDICATOR;
}

HICON LoadProgramIcon(HINSTANCE instance, int id, LPCSTR fallback) {
  HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(id));
  return icon ? icon : LoadIconA(nullptr, fallback);
}

void Repaint(HWND hwnd) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Topmost(HWND hwnd, bool on) {
  SetWindowPos(hwnd, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | (on ? SWP_SHOWWINDOW : SWP_NOACTIVATE));
}

}  // namespace

Win32WindowHost::Win32WindowHost(EventLoop& loop)
    : loop_(loop), loop32_(dynamic_cast<Win32EventLoop*>(&loop)), instance_(GetModuleHandleA(nullptr)) {
  taskbarCreated_ = RegisterWindowMessageA("TaskbarCreated");
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  idleIcon_ = LoadProgramIcon(instance_, IDI_KOLIBRA, IDI_APPLICATION);
  runIcon_ = LoadProgramIcon(instance_, IDI_KOLIBRA_RUN, IDI_INFORMATION);

  main_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainProc,
                             reinterpret_cast<LPARAM>(this));
  if (!main_) return;
  SendMessageA(main_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(idleIcon_));
  SendMessageA(main_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(idleIcon_));
  tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, main_, nullptr,
                             instance_, nullptr);
  if (tooltip_) SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);
  g_host = this;
  // Tab, Enter and Escape in the modeless dialogs: the event loop's message
  // pump does not know them, so the keys are offered to them here.
  keyboardHook_ = SetWindowsHookExA(WH_GETMESSAGE, KeyboardHook, nullptr, GetCurrentThreadId());
}

Win32WindowHost::~Win32WindowHost() {
  *alive_ = false;
  if (keyboardHook_) UnhookWindowsHookEx(keyboardHook_);
  if (g_host == this) g_host = nullptr;
  RemoveTrayIcon();
  for (HWND m : messages_) DestroyWindow(m);
  CloseSide(about_);
  CloseSide(splash_);
  CloseSide(closing_);
  if (main_) DestroyWindow(main_);
}

void Win32WindowHost::Deliver(std::function<void()> fn) {
  loop_.Post([alive = alive_, fn = std::move(fn)] {
    if (*alive) fn();
  });
}

// --- controls ---

void Win32WindowHost::SetText(int id, const std::string& text) {
  if (GetText(id) == text) return;  // keeps the caret and avoids flicker
  settingText_ = true;
  SetDlgItemTextA(main_, id, text.c_str());
  settingText_ = false;
}

std::string Win32WindowHost::GetText(int id) {
  HWND control = GetDlgItem(main_, id);
  if (!control) return {};
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

void Win32WindowHost::SetChecked(int id, bool checked) {
  CheckDlgButton(main_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32WindowHost::IsChecked(int id) { return IsDlgButtonChecked(main_, id) == BST_CHECKED; }

void Win32WindowHost::SetEnabled(int id, bool enabled) { EnableWindow(GetDlgItem(main_, id), enabled); }

void Win32WindowHost::SetVisible(int id, bool visible) {
  ShowWindow(GetDlgItem(main_, id), visible ? SW_SHOW : SW_HIDE);
}

void Win32WindowHost::SetColour(int id, int32_t colour) {
  colours_[id] = static_cast<COLORREF>(colour);
  InvalidateRect(GetDlgItem(main_, id), nullptr, TRUE);
}

void Win32WindowHost::SetToolTip(int id, const std::string& tip) {
  HWND control = GetDlgItem(main_, id);
  if (!tooltip_ || !control) return;
  TOOLINFOA info{};
  info.cbSize = TTTOOLINFOA_V2_SIZE;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = main_;
  info.uId = reinterpret_cast<UINT_PTR>(control);
  SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  std::string text = tip;
  info.lpszText = text.data();  // copied by the tool tip control
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void Win32WindowHost::SetListItems(int id, const std::vector<std::string>& items) {
  HWND control = GetDlgItem(main_, id);
  SendMessageA(control, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items) {
    SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
}

void Win32WindowHost::SetSelection(int id, int index) {
  SendDlgItemMessageA(main_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32WindowHost::Selection(int id) {
  const LRESULT index = SendDlgItemMessageA(main_, id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

// --- the main window ---

void Win32WindowHost::ShowMain() {
  ShowWindow(main_, SW_RESTORE);
  ShowWindow(main_, SW_SHOW);
  SetForegroundWindow(main_);
}

void Win32WindowHost::HideMain() { ShowWindow(main_, SW_HIDE); }

bool Win32WindowHost::MainVisible() { return IsWindowVisible(main_) != FALSE; }

INT_PTR CALLBACK Win32WindowHost::MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  auto* host = reinterpret_cast<Win32WindowHost*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!host) return FALSE;
  if (msg == WM_INITDIALOG) host->main_ = hwnd;
  return host->OnMainMessage(msg, wParam, lParam);
}

bool Win32WindowHost::RefusedSysCommand(UINT msg, WPARAM wParam) const {
  if (msg != WM_SYSCOMMAND || !InsideHandler()) return false;
  const WPARAM command = wParam & 0xFFF0;
  return command == SC_MOUSEMENU || command == SC_KEYMENU || command == SC_MOVE || command == SC_SIZE;
}

INT_PTR Win32WindowHost::OnMainMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (taskbarCreated_ != 0 && msg == taskbarCreated_) {
    // Explorer started again: the icon is gone from its new tray.
    if (trayWanted_) trayAdded_ = Tray(NIM_ADD, trayIcon_, trayTip_);
    return FALSE;
  }
  if (RefusedSysCommand(msg, wParam)) return TRUE;
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IDOK || id == IDCANCEL) return TRUE;  // Enter and Escape
      const bool menu = lParam == 0 && code == 0;
      const bool click = lParam != 0 && code == BN_CLICKED;
      const bool change = (code == EN_CHANGE && id == IDC_REMOTE_IP && !settingText_) ||
                          (code == CBN_SELCHANGE && id == IDC_PAYMENTS);
      if (menu || click || change) {
        Deliver([this, id] {
          if (events_.onCommand) events_.onCommand(id);
        });
      }
      return TRUE;
    }
    case KOLIBRA_TRAY_CALLBACK_MESSAGE:
      // The tray icon's callback is the mouse-move message, with the icon's
      // identifier and the mouse message that happened over it; a real move
      // over the window carries key flags and a position instead.
      if (wParam == KOLIBRA_TRAY_ICON_ID && lParam >= WM_MOUSEFIRST && lParam <= WM_MOUSELAST) {
        const int mouse = static_cast<int>(lParam);
        Deliver([this, mouse] {
          if (events_.onTrayMouse) events_.onTrayMouse(mouse);
        });
      }
      return FALSE;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) {
        Deliver([this] {
          if (events_.onMinimized) events_.onMinimized();
        });
      }
      return FALSE;
    case WM_CLOSE:
      // As the loop's window does: an open menu would hold the close.
      EndMenu();
      Deliver([this] {
        if (events_.onCloseBox) events_.onCloseBox();
      });
      return TRUE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (!IsShape(static_cast<int>(item->CtlID))) return FALSE;
      const auto found = colours_.find(static_cast<int>(item->CtlID));
      HBRUSH fill = CreateSolidBrush(found == colours_.end() ? GetSysColor(COLOR_BTNFACE) : found->second);
      FillRect(item->hDC, &item->rcItem, fill);
      DeleteObject(fill);
      FrameRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// --- tray ---

bool Win32WindowHost::Tray(DWORD operation, TrayIcon icon, const std::string& tip) {
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;  // the tip holds 64 characters with its NUL
  data.hWnd = main_;
  data.uID = KOLIBRA_TRAY_ICON_ID;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = KOLIBRA_TRAY_CALLBACK_MESSAGE;
  data.hIcon = Icon(icon);
  const std::size_t length = std::min(tip.size(), std::size_t{63});
  std::memcpy(data.szTip, tip.data(), length);
  data.szTip[length] = '\0';
  return Shell_NotifyIconA(operation, &data) != FALSE;
}

bool Win32WindowHost::AddTrayIcon(TrayIcon icon, const std::string& tip) {
  trayWanted_ = true;
  trayIcon_ = icon;
  trayTip_ = tip;
  trayAdded_ = Tray(NIM_ADD, icon, tip);
  return trayAdded_;
}

void Win32WindowHost::SetTrayIcon(TrayIcon icon, const std::string& tip) {
  trayIcon_ = icon;
  trayTip_ = tip;
  if (trayAdded_) Tray(NIM_MODIFY, icon, tip);
  SendMessageA(main_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Icon(icon)));
}

void Win32WindowHost::RemoveTrayIcon() {
  trayWanted_ = false;
  if (!trayAdded_) return;
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = main_;
  data.uID = KOLIBRA_TRAY_ICON_ID;
  Shell_NotifyIconA(NIM_DELETE, &data);
  trayAdded_ = false;
}

void Win32WindowHost::PopupMenu(const std::vector<MenuItem>& items) {
  if (InsideHandler()) {
    loop32_->PostOutermost([this, alive = alive_, items] {
      if (*alive) PopupMenu(items);
    });
    return;
  }
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  for (const MenuItem& item : items) {
    AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.id), item.text.c_str());
    if (item.isDefault) SetMenuDefaultItem(menu, static_cast<UINT>(item.id), FALSE);
  }
  POINT at{};
  GetCursorPos(&at);
  // Without the foreground the menu would not close on a click elsewhere.
  SetForegroundWindow(main_);
  // The chosen item arrives as WM_COMMAND, like the menu bar's.
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, main_, nullptr);
  PostMessageA(main_, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

bool Win32WindowHost::OpenDocument(const std::string& path) {
  const HINSTANCE result = ShellExecuteA(main_, "Open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// --- the other windows ---

HWND Win32WindowHost::CreateSide(int templateId, HWND owner) {
  return CreateDialogParamA(instance_, MAKEINTRESOURCEA(templateId), owner, SideProc,
                            reinterpret_cast<LPARAM>(this));
}

void Win32WindowHost::CloseSide(HWND& hwnd) {
  if (hwnd) DestroyWindow(hwnd);
  hwnd = nullptr;
}

INT_PTR CALLBACK Win32WindowHost::SideProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  auto* host = reinterpret_cast<Win32WindowHost*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  return host ? host->OnSideMessage(hwnd, msg, wParam, lParam) : FALSE;
}

INT_PTR Win32WindowHost::OnSideMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  if (RefusedSysCommand(msg, wParam)) return TRUE;
  switch (msg) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_SETCURSOR:
      if (hwnd != splash_) return FALSE;
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
      [[fallthrough]];
    case WM_CLOSE:
      if (hwnd == about_) {
        CloseAbout();
      } else if (std::find(messages_.begin(), messages_.end(), hwnd) != messages_.end()) {
        messages_.erase(std::remove(messages_.begin(), messages_.end(), hwnd), messages_.end());
        DestroyWindow(hwnd);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32WindowHost::ShowMessage(const std::string& text) {
  HWND box = CreateSide(IDD_MESSAGE, nullptr);
  if (!box) return;
  messages_.push_back(box);
  SetDlgItemTextA(box, IDC_MESSAGE_TEXT, text.c_str());
  ShowWindow(box, SW_SHOW);
  SetForegroundWindow(box);
}

void Win32WindowHost::ShowAbout(const AboutTexts& texts) {
  if (about_) {
    SetForegroundWindow(about_);
    return;
  }
  about_ = CreateSide(IDD_ABOUT, main_);
  if (!about_) return;
  SetWindowTextA(about_, texts.caption.c_str());
  SetDlgItemTextA(about_, IDC_ABOUT_TITLE, texts.title.c_str());
  SetDlgItemTextA(about_, IDC_ABOUT_VERSION, texts.version.c_str());
  SetDlgItemTextA(about_, IDC_ABOUT_DESCRIPTION, texts.description.c_str());
  SendDlgItemMessageA(about_, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(idleIcon_), 0);
  // Modal to the main window without a nested message loop: the program
  // goes on serving jobs while it is open.
  EnableWindow(main_, FALSE);
  ShowWindow(about_, SW_SHOW);
  SetForegroundWindow(about_);
}

void Win32WindowHost::CloseAbout() {
  EnableWindow(main_, TRUE);
  CloseSide(about_);
  if (IsWindowVisible(main_)) SetForegroundWindow(main_);
}

void Win32WindowHost::ShowSplash(const SplashTexts& texts) {
  if (!splash_) splash_ = CreateSide(IDD_SPLASH, nullptr);
  if (!splash_) return;
  SetWindowTextA(splash_, (texts.productName + " " + texts.version).c_str());
  SetDlgItemTextA(splash_, IDC_SPLASH_VERSION, texts.version.c_str());
  SetDlgItemTextA(splash_, IDC_SPLASH_PRODUCT, texts.productName.c_str());
  SetDlgItemTextA(splash_, IDC_SPLASH_COMPANY, texts.company.c_str());
  SetDlgItemTextA(splash_, IDC_SPLASH_PLATFORM, texts.platform.c_str());
  SetDlgItemTextA(splash_, IDC_SPLASH_LEGAL, texts.legal.c_str());
  SetDlgItemTextA(splash_, IDC_SPLASH_TRADEMARKS, texts.trademarks.c_str());
  SendDlgItemMessageA(splash_, IDC_SPLASH_LOGO, STM_SETICON, reinterpret_cast<WPARAM>(idleIcon_), 0);
  Topmost(splash_, true);
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  Repaint(splash_);
}

void Win32WindowHost::CloseSplash() {
  if (splash_) Topmost(splash_, false);
  CloseSide(splash_);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void Win32WindowHost::ShowClosing(const std::string& text) {
  if (!closing_) closing_ = CreateSide(IDD_CLOSING, nullptr);
  if (!closing_) return;
  SetWindowTextA(closing_, text.c_str());
  SetDlgItemTextA(closing_, IDC_CLOSING_LABEL, text.c_str());
  Topmost(closing_, true);
  Repaint(closing_);
}

void Win32WindowHost::CloseClosing() { CloseSide(closing_); }

LRESULT CALLBACK Win32WindowHost::KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  if (code >= 0 && wParam == PM_REMOVE && g_host && msg->message >= WM_KEYFIRST &&
      msg->message <= WM_KEYLAST) {
    std::vector<HWND> dialogs{g_host->main_, g_host->about_};
    dialogs.insert(dialogs.end(), g_host->messages_.begin(), g_host->messages_.end());
    for (HWND dialog : dialogs) {
      if (dialog && IsDialogMessageA(dialog, msg)) {
        msg->message = WM_NULL;
        break;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

namespace {

INT_PTR CALLBACK RefusalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemTextA(hwnd, IDC_MESSAGE_TEXT, reinterpret_cast<const char*>(lParam));
      SetForegroundWindow(hwnd);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
      EndDialog(hwnd, IDOK);
      return TRUE;
    case WM_CLOSE:
      EndDialog(hwnd, IDOK);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowStartRefusal(const std::string& text) {
  // The program's message window, modal: the program ends once it is
  // acknowledged. No window at all where none can be made (no display).
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MESSAGE), nullptr, RefusalProc,
                  reinterpret_cast<LPARAM>(text.c_str()));
}

std::unique_ptr<WindowHost> MakeWindowHost(EventLoop& loop) {
  auto host = std::make_unique<Win32WindowHost>(loop);
  if (!host->Created()) return nullptr;
  return host;
}

}  // namespace kolibra
