#include "app/data_dir.h"

#include "app/package_folders.h"
#include "core/messages.h"
#include "core/operator_events.h"

namespace kolibra {

std::string DropTrailingSeparator(std::string path) {
  if (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

bool UsesCommonDataFolder(AppContext& ctx) { return ctx.platform.system.IsNtMajor6(); }

std::string CommonDataFolder(AppContext& ctx) {
  std::string folder = ctx.platform.system.CommonAppDataFolder();
  // The shell answers in a fixed buffer: the text ends at its first NUL.
  const std::size_t nul = folder.find('\0');
  if (nul != std::string::npos) folder.resize(nul);
  return folder;
}

std::string CustomDataDir(AppContext& ctx) {
  std::string value = ctx.platform.system.ReadUserValue(kUserKeyPath, kCustomDataDirValue);
  const std::size_t nul = value.find('\0');
  if (nul != std::string::npos) value.resize(nul);
  if (value.empty()) return {};
  value = DropTrailingSeparator(value);
  return ctx.platform.fs.IsDirectory(value) ? value : std::string();
}

bool SelectDataDirectory(AppContext& ctx) {
  const PackageLayout& package = BuiltInPackageLayout();
  if (!package.settingsDir.empty()) {
    // A packaged install: the service's folders, never the program's.
    ctx.settingsDir = package.settingsDir;
    ctx.dataDir = ctx.defaultDataDir = PackageDataDir(ctx.platform.fs, package);
    if (ctx.platform.fs.IsDirectory(ctx.dataDir)) return true;
    ShowMessage(ctx, ctx.dataDir + kDirMissingSuffix);
    return false;
  }
  const std::string programFolder = ctx.platform.system.ProgramFolder();
  ctx.dataDir = programFolder;
  if (UsesCommonDataFolder(ctx)) {
    const std::string common = CommonDataFolder(ctx);
    if (!common.empty()) ctx.dataDir = JoinPath(common, kCommonSubFolder);
    if (!ctx.platform.fs.IsDirectory(ctx.dataDir)) {
      ShowMessage(ctx, ctx.dataDir + kDirMissingSuffix);
      return false;
    }
  }
  ctx.defaultDataDir = ctx.dataDir;
  ctx.settingsDir = programFolder;
  const std::string custom = CustomDataDir(ctx);
  if (!custom.empty()) ctx.dataDir = DropTrailingSeparator(custom);
  return true;
}

}  // namespace kolibra
