#include "core/settings_file.h"

#include "core/job_files.h"

namespace kolibra {

bool WriteSettingsFile(AppContext& ctx, const std::string& name, std::string_view content) {
  const std::string path = JoinPath(ctx.settingsDir, name);
  if (WriteFileAtomically(ctx, path, content, FileAccess::kOwnerWrites)) return true;
  ctx.platform.notifier.Log("Impossibile scrivere " + path);
  return false;
}

}  // namespace kolibra
