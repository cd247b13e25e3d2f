// A context on the platform fakes with a scratch data directory, for the job
// run, outcome and dump tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/job_files.h"
#include "fakes/fake_platform.h"
#include "link/transmission.h"

namespace kolibra::testing_outcome {

struct Rig {
  fakes::FakePlatform fp;
  fakes::ScratchDir dir;
  AppContext ctx{fp.platform};
  // Serial answers by command; a command not listed is echoed, unless
  // echoUnknown is false.
  std::map<std::string, std::string> answers;
  bool echoUnknown = true;

  Rig() {
    ctx.dataDir = dir.path();
    ctx.settingsDir = dir.path();
    InitLink(ctx);
    ctx.cycle.timer21 = fp.loop.CreateTimer([] {});
    ctx.ui.optionRs232 = true;
    SetSlot(1);
    fp.serial.responder = [this](const std::string& bytes) {
      auto it = answers.find(bytes);
      if (it != answers.end()) {
        if (!it->second.empty()) fp.serial.QueueInput(10, it->second);
      } else if (echoUnknown) {
        fp.serial.QueueInput(10, bytes);
      }
    };
  }

  void SetSlot(int slot) {
    ctx.cycle.currentSlot = static_cast<int16_t>(slot);
    ctx.cycle.commandPath = File("SR_DATI", slot);
  }

  std::string File(const std::string& base, int slot = 1) const {
    return JobFilePath(ctx, base, slot);
  }
  bool Has(const std::string& base, int slot = 1) { return fp.fs.Exists(File(base, slot)); }
  std::string Read(const std::string& base, int slot = 1) const {
    return fakes::ReadFileBytes(File(base, slot));
  }
  void Put(const std::string& base, const std::string& bytes, int slot = 1) {
    fakes::WriteFileBytes(File(base, slot), bytes);
  }
  bool Timer21Armed(int64_t intervalMs) {
    return fp.loop.TimerEnabled(ctx.cycle.timer21) &&
           fp.loop.TimerInterval(ctx.cycle.timer21) == intervalMs;
  }
  // Lines of a CR LF text file, without their ends.
  static std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < bytes.size()) {
      std::size_t end = bytes.find("\r\n", start);
      if (end == std::string::npos) end = bytes.size();
      out.push_back(bytes.substr(start, end - start));
      start = end + 2;
    }
    return out;
  }
};

}  // namespace kolibra::testing_outcome
