// A driver context on the platform fakes over a scratch data folder, also its settings folder unless a rig
// points that elsewhere, with the job files' helpers. File names the data folder's job file, also while a
// job's own files are reached through its held folder.
#pragma once

#include <string>

#include "core/job_files.h"
#include "fakes/fake_platform.h"

namespace kolibra::fakes {

struct ContextRig {
  FakePlatform fp;
  ScratchDir data;
  AppContext ctx{fp.platform};
  std::string dataFolder = data.path();

  ContextRig() { ctx.settingsDir = ctx.dataDir = dataFolder; }
  std::string File(const std::string& base, int slot = 1) const { return JoinPath(dataFolder, JobFileName(base, slot)); }
  bool Has(const std::string& base, int slot = 1) { return fp.fs.Exists(File(base, slot)); }
  std::string Read(const std::string& base, int slot = 1) const { return ReadFileBytes(File(base, slot)); }
  void Put(const std::string& base, const std::string& bytes, int slot = 1) { WriteFileBytes(File(base, slot), bytes); }
  std::string Setting(const std::string& name) const { return ReadFileBytes(JoinPath(ctx.settingsDir, name)); }
  void PutSetting(const std::string& name, const std::string& bytes) {
    WriteFileBytes(JoinPath(ctx.settingsDir, name), bytes);
  }
};

}  // namespace kolibra::fakes
