#include "platform/make_platform.h"
#include "platform/posix/posix_platform.h"

namespace kolibra {

std::unique_ptr<PlatformServices> MakePlatform(const PlatformOptions& options) {
  auto posix = std::make_unique<PosixPlatform>();
  for (const auto& [slot, path] : options.serialDevices) posix->serial().SetDevicePath(slot, path);
  // Refused only when another loop of the process owns the signals already.
  if (options.handleTerminationSignals) posix->loop().InstallTerminationSignals();
  return posix;
}

// POSIX streams carry bytes as they are.
void UseBinaryStandardStreams() {}

std::unique_ptr<FileSystem> MakeFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kolibra
