#include "platform/make_platform.h"
#include "platform/win32/win32_platform.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

namespace kolibra {

std::unique_ptr<PlatformServices> MakePlatform(const PlatformOptions& options) {
  // serialDevices is not used: COMn is itself the device name.
  auto win32 = std::make_unique<Win32Platform>();
  // Refused only when another loop of the process owns the termination
  // requests already.
  if (options.handleTerminationSignals) win32->loop().InstallTerminationHandlers();
  // For benchmarks only: the driver as it runs where no folder changes arrive.
  if (const char* off = std::getenv("KOLIBRA_NO_FOLDER_WATCH"); off != nullptr && *off != '\0') {
    win32->folderWatch().Disable();
  }
  return win32;
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::unique_ptr<FileSystem> MakeFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace kolibra
