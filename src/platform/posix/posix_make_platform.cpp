#include "platform/make_platform.h"

#include <cstdlib>

#include "platform/posix/posix_platform.h"

namespace kolibra {

std::unique_ptr<PlatformServices> MakePlatform(const PlatformOptions& options) {
  auto posix = std::make_unique<PosixPlatform>();
  for (const auto& [slot, path] : options.serialDevices) posix->serial().SetDevicePath(slot, path);
  // Refused only when another loop of the process owns the signals already.
  if (options.handleTerminationSignals) posix->loop().InstallTerminationSignals();
  // For benchmarks only: the driver as it runs where no folder changes arrive.
  if (const char* off = std::getenv("KOLIBRA_NO_FOLDER_WATCH"); off != nullptr && *off != '\0') {
    posix->folderWatch().Disable();
  }
  return posix;
}

// POSIX streams carry bytes as they are.
void UseBinaryStandardStreams() {}

std::unique_ptr<FileSystem> MakeFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kolibra
