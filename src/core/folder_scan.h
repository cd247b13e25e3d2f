// What one polling pass sees of the data folder: one listing of its job
// file names in place of a look at each slot's start file by name (under
// Wine every look at a missing name reads the whole folder, twice), and
// whether the folder's path must be checked before anything is done there.
#pragma once

#include <array>
#include <cstdint>

#include "core/app_context.h"

namespace kolibra {

struct FolderScan {
  // Each slot's start file in the job folder: inspected when listed, else
  // missing.
  std::array<FileInfo, kSlotCount> starts{};
  // Each slot's serial-number file (SR_MATR.00n) is listed.
  std::array<bool, kSlotCount> serialFiles{};
  // ... under exactly its own name: it is there on any system, and needs no
  // look of its own.
  std::array<bool, kSlotCount> serialNamed{};
  // False when the folder could not be listed: each start file was then
  // inspected by its name.
  bool listed = false;
};

// Lists the job folder's "SR_" names once and inspects the start files
// among them.
FolderScan ScanJobFolder(AppContext& ctx);

// How long an idle data folder goes at most without a check of what its
// path names, while the folder watch reports nothing.
constexpr int64_t kFolderCheckMs = 10000;

// True when this polling pass must check that the data folder's path still
// names the folder it has locked before using it: the listing failed, the
// last check found no folder or no lock, no folder watch runs (none was
// possible, or it ended: the folder went), something is to be done there (a
// start file, a dump, an answer or outcome to write, E502 for every slot),
// or the last check (at lastCheckMs, negative: none) is kFolderCheckMs old,
// so that a folder put in place of the locked one is noticed while idle too.
bool FolderCheckDue(const AppContext& ctx, const FolderScan& scan, int64_t lastCheckMs);

}  // namespace kolibra
