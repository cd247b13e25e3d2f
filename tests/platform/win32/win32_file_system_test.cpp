// Job files on a Windows file system: only plain disk files are read, never
// through a link, a pipe or a DOS device name; new files replace whatever
// had the name without writing through it.
#include "platform/win32/win32_file_system.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "win32_test_util.h"

namespace kolibra {
namespace {

using testing::TempDir;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Win32FileSystemTest, ReadsOnlyPlainDiskFiles) {
  TempDir dir;
  Win32FileSystem fs;
  const std::string plain = JoinPath(dir.path, "SR_DATI.001");
  std::ofstream(plain, std::ios::binary) << "SALE,N1,P1000;\r\n";
  const std::string folder = JoinPath(dir.path, "folder");
  ASSERT_TRUE(fs.MakeDirectory(folder));
  EXPECT_TRUE(fs.MakeDirectory(folder));  // already there
  EXPECT_FALSE(fs.MakeDirectory(plain));  // a file has the name
  // A pipe with a server waiting plays the FIFO: it opens, but is no disk
  // file. Each open takes one waiting instance.
  const std::string pipe = "\\\\.\\pipe\\kolibra-test-" + std::to_string(GetCurrentProcessId());
  HANDLE servers[4];
  for (HANDLE& server : servers) {
    server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 512, 512, 0,
                              nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
  }

  const struct {
    std::string path;
    std::size_t limit;
    ReadStatus status;
    FileKind kind;
  } cases[] = {
      {plain, 100, ReadStatus::kOk, FileKind::kRegular},
      {plain, 5, ReadStatus::kTooLarge, FileKind::kRegular},
      {folder, 100, ReadStatus::kNotRegular, FileKind::kDirectory},
      {pipe, 100, ReadStatus::kNotRegular, FileKind::kOther},
      // DOS device names are the device in any folder, with any extension.
      {JoinPath(dir.path, "NUL"), 100, ReadStatus::kNotRegular, FileKind::kOther},
      {JoinPath(dir.path, "con.001"), 100, ReadStatus::kNotRegular, FileKind::kOther},
      {JoinPath(dir.path, "Com1 .txt"), 100, ReadStatus::kNotRegular, FileKind::kOther},
      {JoinPath(dir.path, "missing"), 100, ReadStatus::kMissing, FileKind::kMissing},
      {JoinPath(dir.path, "missing\\below"), 100, ReadStatus::kMissing, FileKind::kMissing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const ReadResult r = fs.ReadRegularFile(c.path, c.limit);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.bytes, c.status == ReadStatus::kOk ? "SALE,N1,P1000;\r\n" : "");
    EXPECT_EQ(fs.Inspect(c.path).kind, c.kind);
    EXPECT_EQ(fs.IsDirectory(c.path), c.kind == FileKind::kDirectory);
    if (c.path != pipe) {
      EXPECT_EQ(fs.Exists(c.path), c.kind != FileKind::kMissing && c.kind != FileKind::kOther);
    }
  }
  for (HANDLE server : servers) CloseHandle(server);
  // Names that merely begin like a device are ordinary files.
  for (const char* name : {"CONFIG.TXT", "COM10", "NULL", "LPT"}) {
    EXPECT_FALSE(Win32FileSystem::NamesDevice(JoinPath(dir.path, name))) << name;
  }
}

TEST(Win32FileSystemTest, CreateFreshReplacesWhatHasTheNameAndChangesIdentity) {
  TempDir dir;
  Win32FileSystem fs;
  const std::string result = JoinPath(dir.path, "SR_ERR.001");
  std::ofstream(result, std::ios::binary) << "an older, longer text\r\n";
  const std::string before = fs.Inspect(result).identity;
  EXPECT_EQ(fs.Inspect(result).identity, before);  // stable while unchanged
  std::FILE* f = fs.CreateFresh(result);
  ASSERT_NE(f, nullptr);
  std::fputs("E504\r\n", f);  // binary: no second CR
  std::fclose(f);
  EXPECT_EQ(ReadBytes(result), "E504\r\n");
  EXPECT_NE(fs.Inspect(result).identity, before);
  // Rewritten with the same size: still told apart.
  const std::string second = fs.Inspect(result).identity;
  f = fs.CreateFresh(result);
  ASSERT_NE(f, nullptr);
  std::fputs("E504\r\n", f);
  std::fclose(f);
  EXPECT_NE(fs.Inspect(result).identity, second);

  // A folder under the name is not removed, and nothing is created.
  const std::string folder = JoinPath(dir.path, "FINESCO.001");
  ASSERT_TRUE(fs.MakeDirectory(folder));
  EXPECT_EQ(fs.CreateFresh(folder), nullptr);
  EXPECT_FALSE(fs.Remove(folder));
  EXPECT_TRUE(fs.IsDirectory(folder));
  EXPECT_EQ(fs.CreateFresh(JoinPath(dir.path, "NUL")), nullptr);
  EXPECT_EQ(fs.CreateFresh(JoinPath(dir.path, "missing\\SR_ERR.001")), nullptr);
  // Removing what is not there succeeds; a file held open without delete
  // sharing cannot be removed, and is still there.
  EXPECT_TRUE(fs.Remove(JoinPath(dir.path, "missing")));
  const HANDLE held = CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs.Remove(result));
  EXPECT_EQ(fs.CreateFresh(result), nullptr);
  CloseHandle(held);
  EXPECT_TRUE(fs.Remove(result));
  EXPECT_FALSE(fs.Exists(result));
}

// Symbolic links need a file system and rights that allow them; Wine 8
// reports success without creating one.
TEST(Win32FileSystemTest, LinksAreNeverFollowed) {
  TempDir dir;
  Win32FileSystem fs;
  const std::string plain = JoinPath(dir.path, "SR_DATI.001"), link = JoinPath(dir.path, "SR_ERR.001");
  const std::string folder = JoinPath(dir.path, "target"), folderLink = JoinPath(dir.path, "TRACE_202401");
  std::ofstream(plain, std::ios::binary) << "SALE,N1,P1000;\r\n";
  ASSERT_TRUE(fs.MakeDirectory(folder));
  std::ofstream(JoinPath(folder, "kept.txt"), std::ios::binary) << "x";
  const auto isLink = [](const std::string& p) {
    const DWORD a = GetFileAttributesA(p.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  if (!CreateSymbolicLinkA(link.c_str(), plain.c_str(), 0) || !isLink(link) ||
      !CreateSymbolicLinkA(folderLink.c_str(), folder.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) || !isLink(folderLink)) {
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  EXPECT_EQ(fs.Inspect(link).kind, FileKind::kLink);
  EXPECT_EQ(fs.ReadRegularFile(link, 100).status, ReadStatus::kNotRegular);
  EXPECT_TRUE(fs.IsDirectory(folderLink));  // followed, as stat() does
  std::FILE* f = fs.CreateFresh(link);
  ASSERT_NE(f, nullptr);
  std::fputs("E504\r\n", f);
  std::fclose(f);
  EXPECT_EQ(ReadBytes(plain), "SALE,N1,P1000;\r\n");
  EXPECT_EQ(fs.Inspect(link).kind, FileKind::kRegular);
  // Nothing is made, appended or renamed into a folder that is a link.
  const std::string inLink = JoinPath(folderLink, "TRACE_20240105_101500.TXT");
  EXPECT_EQ(fs.CreateFresh(inLink), nullptr);
  EXPECT_FALSE(fs.AppendToPlainFile(inLink, "x"));
  EXPECT_FALSE(fs.ReplaceWith(JoinPath(folderLink, "kept.txt"), inLink));
  EXPECT_FALSE(fs.Exists(JoinPath(folder, "TRACE_20240105_101500.TXT")));
  // A link to a folder goes, the folder and its contents stay.
  EXPECT_TRUE(fs.Remove(folderLink));
  EXPECT_FALSE(fs.Exists(folderLink));
  EXPECT_TRUE(fs.Exists(JoinPath(folder, "kept.txt")));
}

// Result files go in place by a rename that replaces what had the name and
// waits for a reader that holds it; a log is appended only to a plain file
// with one name; the journal is created for its owner alone.
TEST(Win32FileSystemTest, RenamesAppendsAndOwnerOnlyFiles) {
  TempDir dir;
  Win32FileSystem fs;
  const std::string result = JoinPath(dir.path, "SR_OUT.001"), temporary = JoinPath(dir.path, "~KBSR_OUT.001.tmp");
  std::ofstream(result, std::ios::binary) << "old";
  std::FILE* f = fs.CreateFresh(temporary);
  ASSERT_NE(f, nullptr);
  std::fputs("TIME,1\r\n", f);
  EXPECT_TRUE(fs.FlushToDisk(f));
  std::fclose(f);
  const HANDLE held = CreateFileA(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs.ReplaceWith(temporary, result));  // a reader holds it: tried again later
  EXPECT_EQ(ReadBytes(temporary), "TIME,1\r\n");
  CloseHandle(held);
  EXPECT_TRUE(fs.ReplaceWith(temporary, result));
  EXPECT_EQ(ReadBytes(result), "TIME,1\r\n");
  EXPECT_FALSE(fs.Exists(temporary));

  const std::string log = JoinPath(dir.path, "LOGFILE.TXT"), other = JoinPath(dir.path, "other.txt");
  EXPECT_TRUE(fs.AppendToPlainFile(log, "a\r\n"));
  EXPECT_TRUE(fs.AppendToPlainFile(log, "b\r\n"));
  EXPECT_EQ(ReadBytes(log), "a\r\nb\r\n");
  std::ofstream(other, std::ios::binary) << "precious";
  ASSERT_TRUE(fs.Remove(log));
  if (CreateHardLinkA(log.c_str(), other.c_str(), nullptr)) {
    EXPECT_TRUE(fs.AppendToPlainFile(log, "c\r\n"));
    EXPECT_EQ(ReadBytes(other), "precious");
    EXPECT_EQ(ReadBytes(log), "c\r\n");
  }

  const std::string journal = JoinPath(dir.path, "KBJOURNAL.TXT");
  f = fs.CreateFresh(journal, FileAccess::kOwnerOnly);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(fs.Inspect(journal).kind, FileKind::kRegular);
}

}  // namespace
}  // namespace kolibra
