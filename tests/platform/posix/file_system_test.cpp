// Job files on a real file system: only plain files are read, never through
// a link and never waiting on a FIFO; new files replace whatever had the name
// without writing through a planted link.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <fstream>

#include "fakes/fake_platform.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/platform_test_util.h"

namespace kolibra {
namespace {

using testing::TempDir;

TEST(PosixFileSystemTest, ReadsOnlyPlainFilesAndCreatesFreshOnes) {
  TempDir dir;
  PosixFileSystem fs;
  const std::string plain = JoinPath(dir.path, "SR_DATI.001");
  std::ofstream(plain, std::ios::binary) << "SALE,N1,P1000;\r\n";
  const std::string link = JoinPath(dir.path, "link"), folder = JoinPath(dir.path, "folder"),
                    fifo = JoinPath(dir.path, "fifo");
  std::filesystem::create_symlink(plain, link);
  std::filesystem::create_directory(folder);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opening it for reading must not block

  const struct {
    std::string path;
    std::size_t limit;
    ReadStatus status;
    FileKind kind;
  } cases[] = {
      {plain, 100, ReadStatus::kOk, FileKind::kRegular},
      {plain, 5, ReadStatus::kTooLarge, FileKind::kRegular},
      {link, 100, ReadStatus::kNotRegular, FileKind::kLink},
      {folder, 100, ReadStatus::kNotRegular, FileKind::kDirectory},
      {fifo, 100, ReadStatus::kNotRegular, FileKind::kOther},
      {JoinPath(dir.path, "missing"), 100, ReadStatus::kMissing, FileKind::kMissing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const ReadResult r = fs.ReadRegularFile(c.path, c.limit);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.bytes, c.status == ReadStatus::kOk ? "SALE,N1,P1000;\r\n" : "");
    EXPECT_EQ(fs.Inspect(c.path).kind, c.kind);
  }

  // The identity tells a rewritten file from the one inspected before.
  const std::string result = JoinPath(dir.path, "SR_ERR.001");
  std::fclose(fs.CreateFresh(result));
  const std::string before = fs.Inspect(result).identity;
  std::fclose(fs.CreateFresh(result));
  EXPECT_NE(fs.Inspect(result).identity, before);
}

// What another user may plant under a name the driver writes.
enum class Planted { kNothing, kPlainFile, kSymlink, kHardLink, kFifo, kFolder };

void Plant(Planted what, const std::string& path, const std::string& target) {
  switch (what) {
    case Planted::kNothing: break;
    case Planted::kPlainFile: fakes::WriteFileBytes(path, "old\r\n"); break;
    case Planted::kSymlink: std::filesystem::create_symlink(target, path); break;
    case Planted::kHardLink: std::filesystem::create_hard_link(target, path); break;
    case Planted::kFifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); break;
    case Planted::kFolder: std::filesystem::create_directory(path); break;
  }
}

// Every way of writing a name: nothing planted under it is written through,
// a link, hard link or FIFO gives way to a plain file with one name, a
// folder is refused; a temporary name is never left behind.
TEST(PosixFileSystemTest, WritesNeverGoThroughWhatIsPlantedUnderTheName) {
  enum class Op { kCreateFresh, kAppend, kReplaceWith, kAtomically };
  PosixFileSystem fs;
  const auto temporary = [](const std::string& path) { return path + ".tmp"; };
  const auto write = [&](Op op, const std::string& path) {
    switch (op) {
      case Op::kCreateFresh: {
        std::FILE* f = fs.CreateFresh(path, FileAccess::kOwnerOnly);
        return f != nullptr && std::fputs("new\r\n", f) >= 0 && std::fclose(f) == 0;
      }
      case Op::kAppend: return fs.AppendToPlainFile(path, "new\r\n");
      case Op::kReplaceWith: {
        fakes::WriteFileBytes(temporary(path), "new\r\n");
        const bool ok = fs.ReplaceWith(temporary(path), path);
        fs.Remove(temporary(path));
        return ok;
      }
      case Op::kAtomically: {
        // As a result file is written: whole under a temporary name, then
        // renamed; the name never holds an empty or partial file.
        std::FILE* f = fs.CreateFresh(temporary(path), FileAccess::kOwnerOnly);
        const bool written = f != nullptr && std::fputs("new\r\n", f) >= 0 && fs.FlushToDisk(f);
        if (f != nullptr) std::fclose(f);
        const bool ok = written && fs.ReplaceWith(temporary(path), path);
        if (!ok) fs.Remove(temporary(path));
        return ok;
      }
    }
    return false;
  };
  for (Op op : {Op::kCreateFresh, Op::kAppend, Op::kReplaceWith, Op::kAtomically}) {
    for (Planted planted : {Planted::kNothing, Planted::kPlainFile, Planted::kSymlink,
                            Planted::kHardLink, Planted::kFifo, Planted::kFolder}) {
      SCOPED_TRACE(::testing::Message() << "op " << static_cast<int>(op) << ", planted "
                                        << static_cast<int>(planted));
      TempDir dir;
      const std::string target = JoinPath(dir.path, "target"), name = JoinPath(dir.path, "LOGFILE.TXT");
      fakes::WriteFileBytes(target, "precious\r\n");
      Plant(planted, name, target);
      const bool kept = op == Op::kAppend && planted == Planted::kPlainFile;
      EXPECT_EQ(write(op, name), planted != Planted::kFolder);
      EXPECT_EQ(fakes::ReadFileBytes(target), "precious\r\n");
      struct stat st;
      ASSERT_EQ(lstat(name.c_str(), &st), 0);
      if (planted == Planted::kFolder) {
        EXPECT_TRUE(S_ISDIR(st.st_mode));
      } else {
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_EQ(fakes::ReadFileBytes(name), kept ? "old\r\nnew\r\n" : "new\r\n");
        if (op == Op::kCreateFresh || op == Op::kAtomically) EXPECT_EQ(st.st_mode & 0777, 0600u);
      }
      EXPECT_FALSE(std::filesystem::exists(temporary(name)));
    }
  }
}

// A folder swapped for a link (the month folder of the trace files) is not
// written into: the link's target stays empty.
TEST(PosixFileSystemTest, AFolderThatIsALinkIsNotWrittenInto) {
  TempDir dir;
  PosixFileSystem fs;
  const std::string elsewhere = JoinPath(dir.path, "elsewhere"), month = JoinPath(dir.path, "TRACE_202612");
  std::filesystem::create_directory(elsewhere);
  std::filesystem::create_directory_symlink(elsewhere, month);
  const std::string file = JoinPath(month, "TRACE_20261206_101500.TXT");
  EXPECT_EQ(fs.CreateFresh(file), nullptr);
  EXPECT_FALSE(fs.AppendToPlainFile(file, "x"));
  fakes::WriteFileBytes(JoinPath(elsewhere, "from"), "x");
  EXPECT_FALSE(fs.ReplaceWith(JoinPath(month, "from"), file));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(elsewhere), {}), 1);
  // The plain folder is written into as ever.
  std::FILE* f = fs.CreateFresh(JoinPath(elsewhere, "TRACE_20261206_101500.TXT"));
  ASSERT_NE(f, nullptr);
  std::fclose(f);
}

}  // namespace
}  // namespace kolibra
