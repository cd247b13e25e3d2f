// Where the job files are exchanged (the data directory) and where the
// settings files live (the settings folder).
#pragma once

#include <string>

#include "core/app_context.h"

namespace kolibra {

inline const std::string kUserKeyPath = "SOFTWARE\\Norvik Engineering\\NORVIKKOLIBRA";
inline const std::string kCustomDataDirValue = "CustomPathDataDir";
inline const std::string kCommonSubFolder = "NORVIKKOLIBRA";

bool UsesCommonDataFolder(AppContext& ctx);
std::string CommonDataFolder(AppContext& ctx);
// The per-user override of the data directory; empty when absent or when it
// names a folder that does not exist.
std::string CustomDataDir(AppContext& ctx);

// Sets the data directory, the default data directory and the settings folder
// (the program's folder) and shows the data directory. False (after a message
// box) when the shared data directory does not exist: the program must end.
// A packaged build takes the package's folders instead (package_folders.h).
bool SelectDataDirectory(AppContext& ctx);

// Removes one trailing path separator.
std::string DropTrailingSeparator(std::string path);

}  // namespace kolibra
