#include "core/folder_scan.h"

#include <string>

#include "core/job_files.h"
#include "core/operator_events.h"

namespace kolibra {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Names compared with ASCII letters in either case: on Windows both spell
// one file; elsewhere the inspection by the exact name then finds nothing.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

FolderScan ScanJobFolder(AppContext& ctx) {
  FileSystem& fs = ctx.platform.fs;
  FolderScan scan;
  const StatusOr<std::vector<std::string>> names = fs.FindNames(JobFolderPath(ctx), "SR_");
  scan.listed = names.ok();
  for (int n = 1; n <= kSlotCount; ++n) {
    const std::string start = JobFileName("SR_START", n), serial = JobFileName("SR_MATR", n);
    bool startListed = false;
    for (const std::string& name : names.value()) {
      startListed = startListed || SameName(name, start);
      scan.serialFiles[n - 1] = scan.serialFiles[n - 1] || SameName(name, serial);
      scan.serialNamed[n - 1] = scan.serialNamed[n - 1] || name == serial;
    }
    // Unlisted, the start file is looked at by its name.
    if (startListed || !scan.listed) scan.starts[n - 1] = fs.Inspect(JobFilePath(ctx, "SR_START", n));
  }
  return scan;
}

bool FolderCheckDue(const AppContext& ctx, const FolderScan& scan, int64_t lastCheckMs) {
  const JobCycleState& cycle = ctx.cycle;
  if (!scan.listed || cycle.dataDirMissing || cycle.dataLockLost || !cycle.watch.armed) return true;
  if (lastCheckMs < 0 || ctx.platform.loop.NowMs() - lastCheckMs >= kFolderCheckMs) return true;
  if (ctx.outcome.pending.any) return true;
  bool anyPort = false;
  for (int n = 1; n <= kSlotCount; ++n) {
    if (scan.starts[n - 1].kind != FileKind::kMissing || ctx.job.pendingAnswers[n - 1].any) return true;
    if (SlotTakesJobs(ctx, n) && !scan.serialFiles[n - 1]) return true;
    anyPort = anyPort || cycle.portAvailable[n - 1];
  }
  return !anyPort;
}

}  // namespace kolibra
