// A context on the platform fakes with a scratch data directory and a serial ECR that answers from
// a table (echoing what it does not know).
#pragma once

#include <map>
#include <string>

#include "core/job_files.h"
#include "fakes/fake_platform.h"
#include "link/transmission.h"

namespace kolibra::testing_outcome {

struct Rig {
  fakes::FakePlatform fp;
  fakes::ScratchDir dir;
  AppContext ctx{fp.platform};
  std::map<std::string, std::string> answers;  // "" = no answer
  bool echoUnknown = true;

  Rig() {
    ctx.settingsDir = ctx.dataDir = dir.path();  // the job journal goes there, not into the working folder
    InitLink(ctx);
    ctx.cycle.pollTimer = fp.loop.CreateTimer([] {});
    ctx.settings.linkMode = LinkMode::kSerial;
    SetSlot(1);
    fp.serial.responder = [this](const std::string& b) {
      const std::string reply = answers.contains(b) ? answers[b] : echoUnknown ? b : "";
      if (!reply.empty()) fp.serial.QueueInput(10, reply);
    };
  }
  void SetSlot(int slot) {
    ctx.cycle.currentSlot = static_cast<int16_t>(slot);
    ctx.cycle.commandPath = File("SR_DATI", slot);
  }
  std::string File(const std::string& base, int slot = 1) const { return JobFilePath(ctx, base, slot); }
  bool Has(const std::string& base, int slot = 1) { return fp.fs.Exists(File(base, slot)); }
  std::string Read(const std::string& base, int slot = 1) { return fakes::ReadFileBytes(File(base, slot)); }
  void Put(const std::string& base, const std::string& b, int slot = 1) { fakes::WriteFileBytes(File(base, slot), b); }
  std::string DataFile(const std::string& name) { return fakes::ReadFileBytes(dir.File(name)); }
  bool PauseTickArmed() {
    return fp.loop.TimerEnabled(ctx.cycle.pollTimer) && fp.loop.TimerInterval(ctx.cycle.pollTimer) == 1000;
  }
};

}  // namespace kolibra::testing_outcome
