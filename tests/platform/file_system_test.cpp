// Job files on a real file system: only plain files are read, never through
// a link and never waiting on a FIFO; new files replace whatever had the name
// without writing through a planted link.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_platform.h"
#include "platform/posix/posix_file_system.h"
#include "platform_test_util.h"

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

  // A link planted under a result file's name is replaced, its target kept.
  const std::string result = JoinPath(dir.path, "SR_ERR.001");
  std::filesystem::create_symlink(plain, result);
  std::FILE* f = fs.CreateFresh(result);
  ASSERT_NE(f, nullptr);
  std::fputs("E504\r\n", f);
  std::fclose(f);
  EXPECT_EQ(fakes::ReadFileBytes(plain), "SALE,N1,P1000;\r\n");
  EXPECT_EQ(fs.Inspect(result).kind, FileKind::kRegular);
  EXPECT_EQ(fakes::ReadFileBytes(result), "E504\r\n");
  // The identity tells a rewritten file from the one inspected before.
  const std::string before = fs.Inspect(result).identity;
  std::fclose(fs.CreateFresh(result));
  EXPECT_NE(fs.Inspect(result).identity, before);
}

}  // namespace
}  // namespace kolibra
