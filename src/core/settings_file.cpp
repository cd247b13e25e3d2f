#include "core/settings_file.h"

#include "core/job_files.h"

namespace kolibra {

bool WriteSettingsFile(AppContext& ctx, const std::string& name, std::string_view content) {
  const std::string path = JoinPath(ctx.settingsDir, name);
  const Status written = WriteFileAtomically(ctx, path, content, FileAccess::kOwnerWrites);
  if (!written.ok()) ctx.platform.notifier.Log(written.Explain("Impossibile scrivere " + path));
  return written.ok();
}

}  // namespace kolibra
