// Every Windows implementation of the platform seam, owned together, and the
// Platform bundle of references the logic takes.
#pragma once

// The seam first: its Notifier::MessageBox is declared before windows.h
// can turn the name into a macro.
#include "platform/make_platform.h"
#include "platform/platform.h"
#include "platform/win32/win32_control_channel.h"
#include "platform/win32/win32_event_loop.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_folder_watch.h"
#include "platform/win32/win32_notifier.h"
#include "platform/win32/win32_serial_port.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_tcp_socket.h"

namespace kolibra {

class Win32Platform : public PlatformServices {
 public:
  Win32Platform() = default;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Platform& platform() override { return platform_; }
  ControlChannel* controlChannel() override { return &control_; }

  // Windows-only settings and services.
  Win32EventLoop& loop() { return loop_; }
  Win32SerialPort& serial() { return serial_; }
  Win32TcpSocket& socket() { return socket_; }
  Win32System& system() { return system_; }
  Win32FolderWatch& folderWatch() { return folderWatch_; }
  Win32ControlChannel& control() { return control_; }

 private:
  // Declared first: the serial port, the socket, the folder watch and the
  // control channel use the loop (and its window) until they are destroyed.
  Win32EventLoop loop_;
  Win32SerialPort serial_{loop_};
  Win32TcpSocket socket_{loop_};
  Win32FolderWatch folderWatch_{loop_};
  Win32ControlChannel control_{loop_};
  Win32Notifier notifier_;
  Win32FileSystem fs_;
  Win32System system_;
  Platform platform_{loop_, serial_, socket_, notifier_, fs_, system_, folderWatch_, nullptr};
};

}  // namespace kolibra
