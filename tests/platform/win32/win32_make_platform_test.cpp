#include <gtest/gtest.h>

#include "platform/make_platform.h"
#include "platform/win32/win32_platform.h"

namespace kolibra {
namespace {

TEST(Win32MakePlatformTest, OwnsOneLoopAndTakesTerminationOnlyWhenAsked) {
  for (const bool signals : {false, true}) {
    PlatformOptions options;
    options.serialDevices = {{2, "/dev/ttyUSB7"}};  // not used: COMn is the device
    options.handleTerminationSignals = signals;
    const std::unique_ptr<PlatformServices> services = MakePlatform(options);
    auto* win32 = dynamic_cast<Win32Platform*>(services.get());
    ASSERT_NE(win32, nullptr);
    EXPECT_EQ(&services->platform().loop, &win32->loop());
    EXPECT_EQ(&services->platform().socket, &win32->socket());
    ASSERT_NE(win32->loop().Window(), nullptr);
    // Only one loop of the process can own the termination requests.
    Win32EventLoop other;
    EXPECT_EQ(other.InstallTerminationHandlers(), !signals) << signals;
  }
}

}  // namespace
}  // namespace kolibra
