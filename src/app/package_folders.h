// The folders of a packaged install (the Debian package's service), compiled
// in by the package's build (CMake option KOLIBRA_PACKAGE_FOLDERS). There the
// program's folder (/usr/bin) is never a default: without --settings-dir and
// --data-dir the driver, `kolibra ctl` and `kolibra submit` use the
// service's folders.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/system.h"

namespace kolibra {

struct PackageLayout {
  std::string settingsDir;   // the service's settings folder
  std::string dataDir;       // its data folder when the defaults file names none
  std::string defaultsFile;  // the service's environment file, which may name another
};

// The layout compiled in; all empty in a build that is not the package's.
const PackageLayout& BuiltInPackageLayout();

// The value of the last "KOLIBRA_DATA_DIR=" line of an environment file, read
// as systemd reads it (blanks around, "#" and ";" comments, one pair of
// quotes); empty when there is none or it is not an absolute path.
std::string DataDirOfDefaults(std::string_view text);

// The package's data folder: the defaults file's KOLIBRA_DATA_DIR, else
// layout.dataDir.
std::string PackageDataDir(FileSystem& fs, const PackageLayout& layout);

// The settings folder when none is given: the package's, else the
// program's folder.
std::string DefaultSettingsFolder(System& system);

// For the help texts: the folders a packaged build uses when none is given
// (lines ended by "\n"); empty in other builds.
std::string PackageFoldersHelp();

}  // namespace kolibra
