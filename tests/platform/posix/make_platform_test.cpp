#include <gtest/gtest.h>

#include "platform/make_platform.h"
#include "platform/posix/posix_platform.h"

namespace kolibra {
namespace {

TEST(MakePlatformTest, SetsDevicePathsAndTakesTerminationSignalsOnlyWhenAsked) {
  for (const bool signals : {false, true}) {
    PlatformOptions options;
    options.serialDevices = {{2, "/dev/ttyUSB7"}, {4, "/tmp/pty-x"}};
    options.handleTerminationSignals = signals;
    const std::unique_ptr<PlatformServices> services = MakePlatform(options);
    auto* posix = dynamic_cast<PosixPlatform*>(services.get());
    ASSERT_NE(posix, nullptr);
    EXPECT_EQ(&services->platform().loop, &posix->loop());
    EXPECT_EQ(posix->serial().DevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(posix->serial().DevicePath(2), "/dev/ttyUSB7");
    EXPECT_EQ(posix->serial().DevicePath(4), "/tmp/pty-x");
    // Only one loop of the process can own the signals.
    PosixEventLoop other;
    EXPECT_EQ(other.InstallTerminationSignals(), !signals) << signals;
  }
}

}  // namespace
}  // namespace kolibra
