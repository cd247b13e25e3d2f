// A context on the platform fakes with a scratch data directory and a serial ECR that answers from
// a table (echoing what it does not know).
#pragma once

#include <map>
#include <string>

#include "fakes/context_rig.h"
#include "link/transmission.h"

namespace kolibra::testing_outcome {

struct Rig : fakes::ContextRig {
  std::map<std::string, std::string> answers;  // "" = no answer
  bool echoUnknown = true;

  Rig() {
    InitLink(ctx);
    ctx.settings.linkMode = LinkMode::kSerial;
    SetSlot(1);
    fp.serial.responder = [this](const std::string& b) {
      const std::string reply = answers.contains(b) ? answers[b] : echoUnknown ? b : "";
      if (!reply.empty()) fp.serial.QueueInput(10, reply);
    };
  }
  void SetSlot(int slot) {
    ctx.job.currentSlot = static_cast<int16_t>(slot);
    ctx.job.commandPath = File("SR_DATI", slot);
  }
  std::string DataFile(const std::string& name) { return fakes::ReadFileBytes(data.File(name)); }
};

}  // namespace kolibra::testing_outcome
