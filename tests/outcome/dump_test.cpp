#include "outcome/dump.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "outcome_rig.h"

namespace kolibra {
namespace {

using testing_outcome::Rig;

std::string Matr(const std::string& serial, const char* state) {
  return serial + "\r\n" + state + "\r\nDriverType: ZizAdud\r\nVersione: 1.0.0.14\r\nFW: \r\n";
}

void ExpectIdle(Rig& r) {
  EXPECT_FALSE(r.ctx.dump.inProgress || r.ctx.dump.running);
  EXPECT_EQ(r.ctx.cycle.pauseMarker, PauseMarker::kAfterDump);
  EXPECT_TRUE(r.PauseTickArmed());
  EXPECT_TRUE(!r.fp.serial.IsOpen() && !r.ctx.link.trace.IsOpen());
}

// RT on slot 1, MF on slot 2; success switches the other slots off.
TEST(Dump, RtAndMfEcrs) {
  for (bool rt : {true, false}) {
    SCOPED_TRACE(rt ? "RT" : "MF");
    const int slot = rt ? 1 : 2;
    Rig r;
    r.ctx.settings.slotOn.fill(true);
    r.ctx.state.port.fill(PortState::kAvailable);
    r.ctx.state.watched = true;
    r.ctx.settings.trace = true;
    r.ctx.settings.footerRt = !rt;
    r.ctx.settings.paymentsIndex = 2;
    r.ctx.dump.tenderFamily = "ST";
    r.Put("SR_ERR", "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n", slot);
    r.Put("SR_ERR", "E520: left by a job\r\n", 3);  // not the dump's: it stays
    // MF: the last 8 of a short identification.
    r.answers = {{"48F", rt ? "48F6" : "48F0"},
                 {"47F", rt ? "47F12345678X99MZT123456" : "47F" + std::string(16, '9')},
                 {"41F", rt ? "41F87654321" : "41FX12345678"}};
    StartDump(r.ctx, slot);
    EXPECT_EQ(r.ctx.dump.rt, rt);
    EXPECT_EQ(r.ctx.dump.mfSerial, "12345678");
    EXPECT_EQ(r.ctx.dump.tenderFamily, rt ? "ZT" : "ST");
    EXPECT_EQ(r.ctx.settings.paymentsIndex, rt ? 0 : 2);
    EXPECT_EQ(r.ctx.settings.footerRt, rt);
    EXPECT_EQ(r.Read("SR_MATR", slot), rt ? Matr("99MZT123456", "Stato: RT") : Matr("12345678", "Stato: MF"));
    EXPECT_FALSE(r.ctx.dump.pending[slot - 1] || r.Has("SR_ERR", slot));
    EXPECT_EQ(r.Read("SR_ERR", 3), "E520: left by a job\r\n");
    EXPECT_EQ(r.ctx.state.dumpText[slot - 1], "DUMP ESEGUITO");
    EXPECT_EQ(r.fp.serial.portNumber, slot);
    EXPECT_EQ(r.DataFile("tracedump.txt").find("<-->  <-- 12345678X99MZT123456\r\n") != std::string::npos, rt);
    for (int s = 0; s < 4; ++s) {
      EXPECT_EQ(r.ctx.settings.slotOn[s], s == slot - 1) << s;
      EXPECT_EQ(r.ctx.state.slotLocked[s], s != slot - 1) << s;
      EXPECT_EQ(r.ctx.state.port[s], s == slot - 1 ? PortState::kAvailable : PortState::kSwitchedOff) << s;
    }
    ExpectIdle(r);
  }
}

// An echo-only or missing answer to the serial request is a failure, not an
// empty serial number; so is an ECR that answers nothing at all, and the job
// waiting for the dump gets the dump's error. Over the network, a dump that
// finds the connection dropped fails at once and opens it again, so that the
// next dump reaches the ECR once it is back.
TEST(Dump, SerialRequestEchoedOnlyOrUnansweredOrConnectionDroppedFailsTheDump) {
  for (const std::string answer : {"41F", "", "mute", "network"}) {
    SCOPED_TRACE(answer);
    Rig r;
    r.ctx.state.watched = true;
    r.Put("SR_START", "");
    const bool mute = answer == "mute", network = answer == "network";
    r.answers["41F"] = mute ? "" : answer;
    // With the status request unanswered too, no identification is asked.
    const bool silent = answer.empty();
    if (silent) r.answers["48F"] = "";
    if (mute) r.echoUnknown = false;
    if (network) {
      r.ctx.settings.linkMode = LinkMode::kNetwork;
      r.ctx.settings.address = "127.0.0.1";
      r.fp.socket.responder = [&](const std::string& b) {
        r.fp.socket.Deliver(10, b);  // the echo, then the second answer
        if (b == " K") r.fp.socket.Deliver(30, "K");
        if (r.answers.contains(b)) r.fp.socket.Deliver(30, r.answers.at(b));
      };
      r.answers = {{"48F", "48F6"}, {"47F", "47F12345678X99MZT123456"}, {"41F", "41F87654321"}};
    }
    StartDump(r.ctx, 1);
    const auto& w = r.fp.serial.writes;
    EXPECT_EQ(std::count(w.begin(), w.end(), "47F"), silent || mute || network ? 0 : 1);
    EXPECT_EQ(r.Read("SR_ERR"), "Errore generico sull'Ecr, verificare sul manuale del registratore\r\n");
    EXPECT_FALSE(r.Has("SR_START") || r.Has("FINESCO") || r.Has("SR_MATR"));
    EXPECT_TRUE(r.ctx.dump.pending[0]);
    EXPECT_EQ(r.ctx.state.dumpText[0], "DUMP NON ESEGUITO : -1");
    ExpectIdle(r);
    if (!network) continue;
    EXPECT_EQ(r.fp.socket.connectTimes.size(), 1u);
    r.fp.loop.Wait(r.fp.loop.NowMs() + 100);  // connected
    StartDump(r.ctx, 1);
    EXPECT_EQ(r.Read("SR_MATR").substr(0, 11), "99MZT123456");
    EXPECT_FALSE(r.Has("SR_ERR"));
    EXPECT_EQ(r.fp.socket.connectTimes.size(), 1u);
  }
}

}  // namespace
}  // namespace kolibra
