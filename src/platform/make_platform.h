// The composition root of the platform seam: builds the implementations of
// the system the program was built for and owns them together.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/control_channel.h"
#include "platform/file_system.h"
#include "platform/platform.h"

namespace kolibra {

struct PlatformOptions {
  // Port number (COMn) -> device path, where serial devices are named by
  // path; ignored where COMn is itself the device name.
  std::vector<std::pair<int, std::string>> serialDevices;
  // Whether termination requests (SIGTERM, SIGINT and SIGHUP, a console
  // close) reach the loop's terminate handler. Only one loop of a process may
  // take them.
  bool handleTerminationSignals = true;
};

// Owns the platform's services; the bundle lives as long as this object.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;
  virtual Platform& platform() = 0;
  // The local control endpoint of the driver; nullptr where there is none.
  virtual ControlChannel* controlChannel() { return nullptr; }
};

std::unique_ptr<PlatformServices> MakePlatform(const PlatformOptions& options);

// Makes the standard input, output and error streams carry bytes as they
// are (the Windows C runtime would turn every LF into CR LF). Called once at
// program entry, before anything is read or written.
void UseBinaryStandardStreams();

// The file system alone, for the command-line tools that need no more.
std::unique_ptr<FileSystem> MakeFileSystem();

}  // namespace kolibra
