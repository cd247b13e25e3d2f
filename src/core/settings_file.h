// Writing one settings file of the settings folder.
#pragma once

#include <string>
#include <string_view>

#include "core/app_context.h"

namespace kolibra {

// Writes the settings folder's file `name` whole (WriteFileAtomically), so
// that a reader finds the old or the new settings, never a part; only the
// driver's user may write it, its group may read it, whatever the umask.
// A failure is logged as "Impossibile scrivere <path>: <reason>"; false then.
bool WriteSettingsFile(AppContext& ctx, const std::string& name, std::string_view content);

}  // namespace kolibra
