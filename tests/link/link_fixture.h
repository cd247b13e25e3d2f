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
    ctx.ui.serialChosen = true;
    ctx.ui.networkChosen = false;
    ASSERT_TRUE(p.serial.Configure(1, "9600,N,8,1"));
    ASSERT_TRUE(p.serial.Open());
  }
  // Network mode with the socket already connected.
  void UseNetwork() {
    ctx.ui.serialChosen = false;
    ctx.ui.networkChosen = true;
    p.socket.ForceState(kSocketConnected);
  }
  void TraceOnToFile() {
    ctx.ui.trace.value = 1;
    ASSERT_TRUE(OpenTraceFile(ctx, dir.File("trace.txt")));
  }
  int64_t Now() { return p.loop.NowMs(); }

  fakes::FakePlatform p;
  fakes::ScratchDir dir;
  AppContext ctx;
};

class LinkTest : public ::testing::Test, public LinkRig {};

}  // namespace kolibra
