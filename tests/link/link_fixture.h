// A driver context on the fake platform, with the link initialised.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/app_context.h"
#include "fakes/fake_platform.h"
#include "link/trace.h"
#include "link/transmission.h"

namespace kolibra {

// The rig alone serves table-driven cases, one rig per row.
struct LinkRig {
  LinkRig() : ctx(p.platform) {
    ctx.settingsDir = dir.path();
    ctx.dataDir = dir.path();
    ctx.link.outputPath = dir.File("SR_OUT.001");
    InitLink(ctx);
  }

  void UseSerial() {
    ctx.settings.linkMode = LinkMode::kSerial;
    ASSERT_TRUE(p.serial.Configure(1, "9600,N,8,1"));
    ASSERT_TRUE(p.serial.Open());
  }
  // Network mode with the socket already connected.
  void UseNetwork() {
    ctx.settings.linkMode = LinkMode::kNetwork;
    p.socket.ForceState(kSocketConnected);
  }
  void TraceOnToFile() {
    ctx.settings.trace = true;
    ASSERT_TRUE(OpenTraceFile(ctx, dir.File("trace.txt")));
  }
  int64_t Now() { return p.loop.NowMs(); }

  fakes::FakePlatform p;
  fakes::ScratchDir dir;
  AppContext ctx;
};

class LinkTest : public ::testing::Test, public LinkRig {};

}  // namespace kolibra
