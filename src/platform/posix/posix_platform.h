// Every POSIX implementation of the platform seam, owned together, and the
// Platform bundle of references the logic takes.
#pragma once

#include "platform/make_platform.h"
#include "platform/platform.h"
#include "platform/posix/posix_control_channel.h"
#include "platform/posix/posix_event_loop.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_folder_watch.h"
#include "platform/posix/posix_notifier.h"
#include "platform/posix/posix_serial_port.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/posix_tcp_socket.h"

namespace kolibra {

class PosixPlatform : public PlatformServices {
 public:
  PosixPlatform() = default;
  PosixPlatform(const PosixPlatform&) = delete;
  PosixPlatform& operator=(const PosixPlatform&) = delete;

  Platform& platform() override { return platform_; }
  ControlChannel* controlChannel() override { return &control_; }

  // POSIX-only settings and services.
  PosixEventLoop& loop() { return loop_; }
  // COMn device paths: serial().SetDevicePath(n, path).
  PosixSerialPort& serial() { return serial_; }
  PosixTcpSocket& socket() { return socket_; }
  PosixSystem& system() { return system_; }
  PosixControlChannel& control() { return control_; }
  PosixFolderWatch& folderWatch() { return folderWatch_; }

 private:
  // Declared first: the serial port, the socket, the control channel and the
  // folder watch use the loop until they are destroyed.
  PosixEventLoop loop_;
  PosixSerialPort serial_{loop_};
  PosixTcpSocket socket_{loop_};
  PosixControlChannel control_{loop_};
  PosixFolderWatch folderWatch_{loop_};
  PosixNotifier notifier_;
  PosixFileSystem fs_;
  PosixSystem system_;
  Platform platform_{loop_, serial_, socket_, notifier_, fs_, system_, folderWatch_, nullptr};
};

}  // namespace kolibra
