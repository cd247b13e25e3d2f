// A driver context on the platform fakes: scratch data and settings folders, every slot
// on, and an ECR on the serial fake that echoes every command.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>

#include "app/job_cycle.h"
#include "app/startup.h"
#include "core/poll_timer.h"
#include "fakes/context_rig.h"
#include "link/transmission.h"

namespace kolibra::testing_app {

struct AppRig : fakes::ContextRig {
  fakes::ScratchDir settings;

  AppRig() {
    ctx.settingsDir = settings.path();
    fp.system.programFolder = settings.path();
    ctx.settings.linkMode = LinkMode::kSerial;
    ctx.settings.slotOn.fill(true);
    ctx.cycle.portAvailable.fill(true);
    fp.serial.responder = [this](const std::string& bytes) { fp.serial.QueueInput(10, bytes); };
  }
  // Only these slots ticked.
  AppRig(std::initializer_list<int> slots) : AppRig() {
    ctx.settings.slotOn.fill(false);
    for (int s : slots) ctx.settings.slotOn[s - 1] = true;
  }

  // The ECR also answers the dump's commands with an RT register's identity.
  void AnswerDumps() {
    fp.serial.responder = [this](const std::string& bytes) {
      const std::map<std::string, std::string> answers{
          {"48F", "48F6"}, {"47F", "47F12345678X99MZT123456"}, {"41F", "41F87654321"}};
      const auto it = answers.find(bytes);
      fp.serial.QueueInput(10, it == answers.end() ? bytes : it->second);
    };
  }

  // What start-up does for the cycle: the link and the polling timer.
  void StartPolling(int64_t intervalMs = 1000) {
    InitLink(ctx);
    SetPollingInterval(ctx, static_cast<int32_t>(intervalMs));
    kolibra::StartPolling(ctx);
  }

  // A till's job: serial-number file, command file, start file.
  void PutJob(int slot = 1, const std::string& dati = "SALE,N1,P1000;\r\n") {
    Put("SR_MATR", "m", slot);
    Put("SR_DATI", dati, slot);
    Put("SR_START", "1\r\n", slot);
  }
  DriverOptions Options() const { return {.settingsDir = settings.path(), .dataDir = data.path()}; }
  // How often a line was sent to the ECR; how many log lines hold part.
  long Sent(const std::string& line) const { return std::ranges::count(fp.serial.writes, line); }
  long LogsWith(const std::string& part) const {
    return std::ranges::count_if(fp.notifier.logs, [&](const auto& l) { return l.find(part) != std::string::npos; });
  }

  // Runs the loop until virtual time reaches atMs.
  void RunUntil(int64_t atMs) { while (fp.loop.NowMs() < atMs) fp.loop.Wait(atMs); }
  // Runs the loop in small steps until pred holds or virtual time passes limitMs.
  template <typename Pred>
  bool RunUntilTrue(Pred pred, int64_t limitMs) {
    while (!pred()) {
      if (fp.loop.NowMs() >= limitMs) return false;
      fp.loop.Wait(fp.loop.NowMs() + 10);
    }
    return true;
  }
};

}  // namespace kolibra::testing_app
