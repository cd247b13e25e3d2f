// The platform seam as one bundle of references: the only way the logic
// reaches the operating system.
#pragma once

#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "platform/folder_watch.h"
#include "platform/notifier.h"
#include "platform/serial_port.h"
#include "platform/system.h"
#include "platform/tcp_socket.h"
#include "platform/tray.h"

namespace kolibra {

struct Platform {
  EventLoop& loop;
  SerialPort& serial;
  TcpSocket& socket;
  Notifier& notifier;
  FileSystem& fs;
  System& system;
  FolderWatch& folderWatch;
  Tray* tray;  // nullptr without a window
};

}  // namespace kolibra
