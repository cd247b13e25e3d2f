// win-probe: reads back and drives the operator window of a running kolibra
// from a second program, the way a test or a support person would.
//
//   win-probe wait SECONDS              until the main window exists (exit 1 if not)
//   win-probe dump                      every control: id, text, checked, enabled, visible, list items
//   win-probe text ID                   the text of one control
//   win-probe checked ID                1 or 0
//   win-probe enabled ID                1 or 0
//   win-probe visible                   1 when the main window is shown
//   win-probe settext ID TEXT           types TEXT into an edit box
//   win-probe click ID                  presses a button (BM_CLICK)
//   win-probe select ID INDEX           picks a list item as the operator would
//   win-probe menu ID                   chooses a menu item
//   win-probe tray MOUSEMSG             a mouse message over the tray icon (515 double click, 517 right up)
//   win-probe minimize                  minimises the main window
//   win-probe close-popup               closes an open pop-up menu
//   win-probe window CAPTION            1 when a visible top-level window's caption begins with CAPTION
//   win-probe about-ok                  presses OK in the about window
//   win-probe messages                  the texts of the open message windows, one a line
//   win-probe message-ok                presses OK in every open message window
//   win-probe popup                     1 when a pop-up menu is open
//   win-probe menubar                   opens the File menu of the menu bar, as Alt+F does
//   win-probe session-query             WM_QUERYENDSESSION to the program: its answer, 1 or 0
//   win-probe session-end               WM_ENDSESSION (the session ends); returns when the program has
//                                       handled it (or ended)
//   win-probe tray-icon                 1 when the program's tray icon is in the tray
//   win-probe tray-delete               removes the program's tray icon, as a restarting Explorer loses it
//   win-probe taskbar-created           the message a restarted Explorer broadcasts
//
// Texts are printed as the program's 8-bit bytes (Windows-1252), one line each.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window_ids.h"

namespace {

const char kMainCaption[] = "Norvik_Kolibra per ZIZ_ADUD ( XON_XOFF)   RT + V7";
const char kDialogClass[] = "#32770";

HWND MainWindow() { return FindWindowA(kDialogClass, kMainCaption); }
// The program's own hidden window: it answers the session's end.
HWND LoopWindow() { return FindWindowA("KolibraMain", nullptr); }

// The program's tray icon, for Shell_NotifyIconA.
NOTIFYICONDATAA TrayIcon(HWND main) {
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = main;
  data.uID = KOLIBRA_TRAY_ICON_ID;
  return data;
}

// Wine 8 returns only the first character of a list item asked for across
// processes with the A message; the W message and a conversion work.
std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(1252, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(1252, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr,
                      nullptr);
  return out;
}

std::string Text(HWND control) {
  wchar_t buffer[1024] = {};
  SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return Narrow(buffer);
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count && i < 64; ++i) {
    wchar_t buffer[256] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) >= 255) continue;
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
    items.push_back(Narrow(buffer));
  }
  return items;
}

bool IsClass(HWND hwnd, const char* name) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  return lstrcmpiA(cls, name) == 0;
}

BOOL CALLBACK DumpChild(HWND child, LPARAM main) {
  if (GetParent(child) != reinterpret_cast<HWND>(main)) return TRUE;  // a list's own edit box
  const int id = GetDlgCtrlID(child);
  std::printf("%d\t%s\tchecked=%d\tenabled=%d\tvisible=%d", id, Text(child).c_str(),
              static_cast<int>(SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED),
              IsWindowEnabled(child) ? 1 : 0, IsWindowVisible(child) ? 1 : 0);
  if (IsClass(child, "ComboBox")) {
    std::printf("\titems=");
    for (const std::string& item : ComboItems(child)) std::printf("[%s]", item.c_str());
    std::printf("\tselected=%d", static_cast<int>(SendMessageW(child, CB_GETCURSEL, 0, 0)));
  }
  std::printf("\n");
  return TRUE;
}

struct Found {
  std::string caption;
  std::vector<HWND> windows;
};

BOOL CALLBACK FindByCaption(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  char caption[256] = {};
  GetWindowTextA(hwnd, caption, sizeof caption);
  if (std::string(caption).rfind(found->caption, 0) == 0 && IsWindowVisible(hwnd)) {
    found->windows.push_back(hwnd);
  }
  return TRUE;
}

std::vector<HWND> Windows(const std::string& caption) {
  Found found{caption, {}};
  EnumWindows(FindByCaption, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

int Usage() {
  std::fprintf(stderr, "uso: win-probe COMANDO [ARGOMENTI] (vedere il sorgente)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
  auto number = [&](int i) { return static_cast<int>(std::strtol(arg(i).c_str(), nullptr, 10)); };

  if (command == "wait") {
    const DWORD until = GetTickCount() + static_cast<DWORD>(number(2)) * 1000;
    while (!MainWindow()) {
      if (GetTickCount() > until) return 1;
      Sleep(100);
    }
    return 0;
  }
  if (command == "window") {
    std::printf("%d\n", Windows(arg(2)).empty() ? 0 : 1);
    return 0;
  }
  if (command == "messages") {
    for (HWND box : Windows("Kolibra")) {
      if (!IsClass(box, kDialogClass)) continue;
      HWND text = GetDlgItem(box, IDC_MESSAGE_TEXT);
      if (text) std::printf("%s\n", Text(text).c_str());
    }
    return 0;
  }
  if (command == "message-ok") {
    for (HWND box : Windows("Kolibra")) {
      if (IsClass(box, kDialogClass) && GetDlgItem(box, IDC_MESSAGE_TEXT)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return 0;
  }
  if (command == "popup") {
    const HWND popup = FindWindowA("#32768", nullptr);
    std::printf("%d\n", popup && IsWindowVisible(popup) ? 1 : 0);
    return 0;
  }
  if (command == "session-query" || command == "session-end") {
    const HWND loop = LoopWindow();
    if (!loop) {
      std::fprintf(stderr, "win-probe: finestra KolibraMain non trovata\n");
      return 1;
    }
    if (command == "session-end") {
      SendMessageA(loop, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
      return 0;
    }
    std::printf("%d\n", SendMessageA(loop, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) ? 1 : 0);
    return 0;
  }
  if (command == "about-ok") {
    const std::vector<HWND> about = Windows("Informazioni su Kolibra");
    if (about.empty()) return 1;
    SendMessageA(GetDlgItem(about[0], IDOK), BM_CLICK, 0, 0);
    return 0;
  }

  HWND main = MainWindow();
  if (!main) {
    std::fprintf(stderr, "win-probe: finestra principale non trovata\n");
    return 1;
  }
  HWND control = GetDlgItem(main, number(2));
  if (command == "dump") {
    std::printf("caption\t%s\tvisible=%d\n", Text(main).c_str(), IsWindowVisible(main) ? 1 : 0);
    EnumChildWindows(main, DumpChild, reinterpret_cast<LPARAM>(main));
  } else if (command == "visible") {
    std::printf("%d\n", IsWindowVisible(main) ? 1 : 0);
  } else if (command == "text") {
    std::printf("%s\n", Text(control).c_str());
  } else if (command == "checked") {
    std::printf("%d\n", IsDlgButtonChecked(main, number(2)) == BST_CHECKED ? 1 : 0);
  } else if (command == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
  } else if (command == "settext") {
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
  } else if (command == "click") {
    SendMessageA(control, BM_CLICK, 0, 0);
  } else if (command == "select") {
    SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(number(3)), 0);
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(number(2), CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
  } else if (command == "menu") {
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(number(2), 0), 0);
  } else if (command == "tray") {
    // The pop-up menu opens at the mouse: put it where the tray is.
    if (number(2) == WM_RBUTTONDOWN || number(2) == WM_RBUTTONUP) {
      SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 40, GetSystemMetrics(SM_CYSCREEN) - 12);
    }
    PostMessageA(main, KOLIBRA_TRAY_CALLBACK_MESSAGE, KOLIBRA_TRAY_ICON_ID, number(2));
  } else if (command == "minimize") {
    PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (command == "menubar") {
    PostMessageA(main, WM_SYSCOMMAND, SC_KEYMENU, 'f');
  } else if (command == "tray-icon") {
    // A change of nothing succeeds only for an icon that is there.
    NOTIFYICONDATAA data = TrayIcon(main);
    std::printf("%d\n", Shell_NotifyIconA(NIM_MODIFY, &data) ? 1 : 0);
  } else if (command == "tray-delete") {
    NOTIFYICONDATAA data = TrayIcon(main);
    Shell_NotifyIconA(NIM_DELETE, &data);
  } else if (command == "taskbar-created") {
    SendMessageA(main, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
  } else if (command == "close-popup") {
    HWND popup = FindWindowA("#32768", nullptr);
    if (popup) PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageA(main, WM_CANCELMODE, 0, 0);
  } else {
    return Usage();
  }
  std::fflush(stdout);
  return 0;
}
