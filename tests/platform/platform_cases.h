// Cases every real platform passes on real folders, sockets and ports, run once per system with Traits naming the
// parts under test (Loop, Socket, Serial, Files, System, Watch) and giving OsWaits(loop), kNamesKnown (changes carry
// names), SerialPair (the ECR's end of a line joined to the port; Join false: skipped), Plant(planted, path, target)
// (false: cannot here), Facts(path), TakesTermination(loop), TerminationRequests(loop).
#pragma once

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/file_system.h"
#include "platform/folder_watch.h"
#include "platform/make_platform.h"
#include "platform/serial_settings.h"
#include "platform/platform_test_util.h"
#include "platform/system.h"
#include "platform/tcp_socket.h"

namespace kolibra::testing {

using Log = std::vector<std::string>;

using fakes::ReadFileBytes, fakes::WriteFileBytes;

// CPU time used by the process so far, user and system.
inline int64_t CpuMs() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) { return (int64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10000; };
  return ms(kernel) + ms(user);
#else
  return static_cast<int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC;
#endif
}

// What another user may plant under a name the driver writes.
enum class Planted { kNothing, kPlainFile, kSymlink, kHardLink, kFifo, kFolder };

// What a name holds, looked at without following a link.
struct NameFacts {
  bool folder = false, plain = false;
  int names = 0;  // links to the file
  std::optional<bool> ownerOnly;  // none where the system cannot tell
};

// The test's end of a loopback TCP connection (the socket under test keeps Winsock started).
struct Peer {
  using Handle = decltype(socket(0, 0, 0));
#ifdef _WIN32
  static void Close(Handle h) { closesocket(h); }
#else
  static void Close(Handle h) { close(h); }
#endif
  // A socket on a free loopback port; bound but not listening, it refuses.
  static Handle Bound(bool listening, int* port) {
    const Handle h = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    bind(h, reinterpret_cast<sockaddr*>(&sa), len);
    if (listening) listen(h, 4);
    getsockname(h, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return h;
  }
  // Up to size bytes within two seconds.
  static std::string Receive(Handle h, std::size_t size) {
    std::string got;
    char buf[64];
    while (got.size() < size) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(h, &readable);
      timeval tv{2, 0};
      if (select(static_cast<int>(h) + 1, &readable, nullptr, nullptr, &tv) <= 0) break;
      const int n = static_cast<int>(recv(h, buf, sizeof buf, 0));
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
};

template <typename T>
class PlatformCases : public ::testing::Test {
 protected:
  PlatformCases() {
    SocketEvents events;
    events.onConnected = [this] { log_.push_back("connected"); };
    events.onDataArrival = [this](std::size_t n) {
      log_.push_back("data " + std::to_string(n));
      received_ += sock_.GetData();
    };
    events.onError = [this](int number, const Status& failure, int status) {
      log_.push_back("error " + std::to_string(number) + " " + std::to_string(status) + " " + failure.Cause());
    };
    sock_.SetEvents(events);
  }
  // An idle wait sleeps in the OS to its deadline: not shorter, not much longer, not a spin.
  void ExpectIdleWaitSleeps() {
    const int64_t cpu0 = CpuMs(), waits0 = T::OsWaits(loop_), took = TimedWait(200);
    EXPECT_GE(took, 200);
    EXPECT_LT(took, 400);
    EXPECT_LT(CpuMs() - cpu0, 20);
    EXPECT_LE(T::OsWaits(loop_) - waits0, 3);
  }
  int64_t TimedWait(int64_t budgetMs) {
    const int64_t t0 = loop_.NowMs();
    loop_.Wait(t0 + budgetMs);
    return loop_.NowMs() - t0;
  }
  void Connect(int port) {
    sock_.SetRemoteHost("127.0.0.1");
    sock_.SetRemotePort(port);
    const std::size_t before = log_.size();
    sock_.Connect();
    EXPECT_EQ(log_.size(), before);  // events come only inside Wait
    EXPECT_TRUE(WaitFor(loop_, [&] { return log_.size() > before; }));
  }
  std::string Path(const std::string& name) { return JoinPath(dir_.path, name); }

  TempDir dir_;
  typename T::Loop loop_;
  typename T::Socket sock_{loop_};
  Log log_;
  std::string received_;
};

TYPED_TEST_SUITE_P(PlatformCases);

// Timers tick inside Wait in due order; a call posted by a handler waits until it has returned. Folder changes reach
// the handler inside Wait(), with names where the system tells them, many in a handful of deliveries; a watched
// folder stays renamable; stopped, missing or disabled watches deliver nothing.
TYPED_TEST_P(PlatformCases, TimersPostsAndFolderChangesReachTheLoopThatOtherwiseSleeps) {
  this->ExpectIdleWaitSleeps();
  EventLoop& loop = this->loop_;
  Log order;
  auto slow = loop.CreateTimer([&] { order.push_back("slow"); });
  auto fast = loop.CreateTimer([&] { order.push_back("fast"); });
  loop.SetTimer(slow, 120, true);
  loop.SetTimer(fast, 50, true);
  for (const int64_t end = loop.NowMs() + 135; loop.NowMs() < end;) loop.Wait(end);
  EXPECT_EQ(order, (Log{"fast", "fast", "slow"}));
  loop.SetTimer(slow, 0, false);
  loop.SetTimer(fast, 0, false);
  order.clear();
  loop.Post([&] {
    loop.Post([&] { order.push_back("posted"); });
    order.push_back("handler");
  });
  loop.Wait(loop.NowMs() + 1000);
  EXPECT_EQ(order, Log{"handler"});
  EXPECT_LT(this->TimedWait(1000), 100);
  EXPECT_EQ(order, (Log{"handler", "posted"}));

  typename TypeParam::Watch watch(this->loop_);
  const std::string dir = this->dir_.path;
  std::vector<FolderChange> seen;
  auto record = [&](const FolderChange& c) { seen.push_back(c); };
  EXPECT_FALSE(watch.Start(dir + "/missing", record));
  EXPECT_FALSE(watch.Active());
  ASSERT_TRUE(watch.Start(dir, record));
  EXPECT_TRUE(watch.Active());
  this->ExpectIdleWaitSleeps();
  EXPECT_TRUE(seen.empty());
  WriteFileBytes(dir + "/SR_START.001", "1\r\n");
  EXPECT_TRUE(seen.empty());  // only inside Wait()
  ASSERT_TRUE(WaitFor(loop, [&] { return !seen.empty(); }));
  EXPECT_EQ(seen[0].namesKnown, TypeParam::kNamesKnown);
  EXPECT_FALSE(seen[0].ended);
  if (TypeParam::kNamesKnown) {
    EXPECT_EQ(seen[0].names, std::vector<std::string>{"SR_START.001"});
  }

  loop.Wait(loop.NowMs() + 100);
  seen.clear();
  for (int i = 0; i < 200; ++i) WriteFileBytes(dir + "/f" + std::to_string(i), "x");
  loop.Wait(loop.NowMs() + 300);
  EXPECT_GE(seen.size(), 1u);
  EXPECT_LE(seen.size(), 4u);
  if (TypeParam::kNamesKnown && !seen.empty()) {
    EXPECT_EQ(seen[0].names.size(), 200u);
  }

  // The watch may end on the rename, but never spins.
  std::error_code ec;
  std::filesystem::rename(dir, dir + ".moved", ec);
  EXPECT_FALSE(ec) << ec.message();
  loop.Wait(loop.NowMs() + 100);
  std::filesystem::rename(dir + ".moved", dir, ec);
  watch.Stop();
  EXPECT_FALSE(watch.Active());
  seen.clear();
  WriteFileBytes(dir + "/SR_START.002", "1\r\n");
  loop.Wait(loop.NowMs() + 200);
  EXPECT_TRUE(seen.empty());
  watch.Disable();
  EXPECT_FALSE(watch.Start(dir, record));
}

// The peer's data comes before its close, then silence; a refused connect is error 10061; nothing of a closed
// connection (data and a reset waiting when the logic closes) reaches the next one, even on the same handle.
TYPED_TEST_P(PlatformCases, TcpExchangesBytesAndKeepsEachConnectionsEventsToItself) {
  int port = 0, refusedPort = 0;
  const auto listener = Peer::Bound(true, &port);
  const auto refusing = Peer::Bound(false, &refusedPort);
  this->Connect(port);
  EXPECT_EQ(this->log_, Log{"connected"});
  EXPECT_EQ(this->sock_.State(), kSocketConnected);
  auto peer = accept(listener, nullptr, nullptr);
  const std::string cmd("1000H1R\x13\0\xff", 10);
  ASSERT_TRUE(this->sock_.Send(cmd).ok());
  EXPECT_EQ(Peer::Receive(peer, cmd.size()), cmd);
  ASSERT_EQ(send(peer, "K\x13\x02", 3, 0), 3);
  ASSERT_TRUE(WaitFor(this->loop_, [&] { return this->received_.size() >= 3; }));
  EXPECT_EQ(this->received_, "K\x13\x02");
  Peer::Close(peer);
  ASSERT_TRUE(WaitFor(this->loop_, [&] { return this->log_.size() == 3; }));
  EXPECT_EQ(this->log_, (Log{"connected", "data 3", "error 10053 7 Connection closed by peer"}));
  EXPECT_EQ(this->sock_.State(), kSocketError);
  EXPECT_EQ(this->sock_.Send("x").Cause(), "not connected");
  this->loop_.Wait(this->loop_.NowMs() + 100);  // the dead connection is not watched
  EXPECT_EQ(this->log_.size(), 3u);

  this->sock_.Close();
  this->log_.clear();
  this->received_.clear();
  this->Connect(port);
  peer = accept(listener, nullptr, nullptr);
  ASSERT_EQ(send(peer, "late", 4, 0), 4);
  const linger abortive{1, 0};  // closed with a reset
  setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
  Peer::Close(peer);
  this->loop_.SleepBlocking(200);
  this->sock_.Close();
  EXPECT_EQ(this->sock_.State(), kSocketClosed);
  EXPECT_EQ(this->sock_.GetData(), "");
  this->Connect(refusedPort);
  this->loop_.Wait(this->loop_.NowMs() + 100);
  EXPECT_EQ(this->log_, (Log{"connected", "error 10061 6 Connection refused"}));
  EXPECT_EQ(this->sock_.State(), kSocketError);
  EXPECT_EQ(this->received_, "");
  Peer::Close(refusing);
  Peer::Close(listener);
}

// A refused Configure leaves the last accepted port; a missing port stays closed. Joined to the ECR's end, the port
// is held while open, bytes go both ways unchanged (XON, XOFF, CR, LF, NUL, DEL, high bytes are data) and the wait
// wakes on arrivals only, also while input is left unread.
TYPED_TEST_P(PlatformCases, SerialTakesKnownSettingsAndCarriesBytesUnchangedWithoutSpinning) {
  typename TypeParam::Serial port(this->loop_);
  EXPECT_TRUE(port.Configure(255, "230400,o,7,2").ok());
  EXPECT_FALSE(port.Configure(1, "460800,N,8,1").ok());
  EXPECT_EQ(port.PortNumber(), 255);
  const Status missing = port.Open();  // with the system's reason
  EXPECT_FALSE(missing.ok());
  if (TypeParam::kNoDevice != nullptr) {
    EXPECT_EQ(missing.Cause(), TypeParam::kNoDevice);
  }
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Write("K").Cause(), kSerialPortClosed);
  EXPECT_EQ(port.ReadAll(), "");
  EXPECT_EQ(port.InputCount(), 0);

  typename TypeParam::SerialPair ecr(this->loop_);
  if (!ecr.Join(port)) GTEST_SKIP() << "no line joined to a serial port here";
  ASSERT_TRUE(port.Open().ok());
  EXPECT_FALSE(port.Configure(port.PortNumber(), "9600,N,8,1").ok());  // refused while open
  EXPECT_TRUE(ecr.Held());
  const std::string all("1000H1R\x13\x11\r\n\0\x7f\xe0\xff", 15);
  ASSERT_TRUE(port.Write(all).ok());
  EXPECT_EQ(ecr.Receive(all.size()), all);
  // At most one wake-up per port for input already taken, then sleep.
  for (int i = 0; i < 2; ++i) this->loop_.Wait(this->loop_.NowMs());
  EXPECT_GE(this->TimedWait(200), 190);
  ASSERT_TRUE(ecr.Send(all));
  EXPECT_LT(this->TimedWait(2000), 1000);  // woken by the arrival
  WaitFor(this->loop_, [&] { return port.InputCount() == 15; });
  const int64_t cpu0 = CpuMs();
  EXPECT_GE(this->TimedWait(300), 290);  // input left unread: no wake-ups until it is read
  EXPECT_LT(CpuMs() - cpu0, 50);
  EXPECT_EQ(port.ReadAll(), all);
  // Output keeps flowing after the ECR sent XOFF: the port does not obey it.
  ASSERT_TRUE(port.Write("K").ok());
  EXPECT_EQ(ecr.Receive(1), "K");
  ASSERT_TRUE(ecr.Send("Y"));  // read: watched again
  EXPECT_LT(this->TimedWait(2000), 1000);
  std::string got;
  WaitFor(this->loop_, [&] { return (got += port.ReadAll()) == "Y"; }, 3000);
  EXPECT_EQ(got, "Y");
  port.Close();
  EXPECT_FALSE(ecr.Held());  // released on close
}

// Only plain files are read, never through a link and never waiting on a FIFO, pipe or device; Inspect tells each
// kind. A folder swapped for a link (the trace files' month folder) is not written into.
TYPED_TEST_P(PlatformCases, ReadsOnlyPlainFilesAndWritesOnlyIntoRealFolders) {
  typename TypeParam::Files fs;
  const std::string plain = this->Path("SR_DATI.001"), folder = this->Path("folder");
  WriteFileBytes(plain, "SALE,N1,P1000;\r\n");
  ASSERT_TRUE(fs.MakeDirectory(folder).ok());
  EXPECT_TRUE(fs.MakeDirectory(folder).ok());  // already there
  EXPECT_FALSE(fs.MakeDirectory(plain).ok());  // a file has the name
  // Below a plain file nothing is made, and the failure carries the system's own reason.
#ifdef _WIN32
  const std::string notAFolder = OsError(ERROR_DIRECTORY).Cause();
#else
  const std::string notAFolder = "Not a directory";
  EXPECT_EQ(fs.MakeDirectory(JoinPath(plain, "x")).Cause(), notAFolder);
  EXPECT_EQ(fs.ListFolder(plain).status().Cause(), notAFolder);
  EXPECT_EQ(fs.ReadRegularFile(JoinPath(plain, "x"), 100).error.Cause(), notAFolder);
#endif
  const std::string below = JoinPath(plain, "SR_ERR.001");
  for (const Status& failure : {fs.CreateFresh(below).status(), fs.CreateExclusive(below, FileAccess::kShared).status(),
                                fs.AppendToPlainFile(below, "x"), fs.ReplaceWith(JoinPath(plain, "from"), below),
                                fs.TryClaim(below).error, fs.HoldFolder(plain).status()}) {
    EXPECT_EQ(failure.Cause(), notAFolder);
  }
  std::vector<std::tuple<std::string, std::size_t, ReadStatus, FileKind>> cases = {
      {plain, 100, ReadStatus::kOk, FileKind::kRegular},
      {plain, 5, ReadStatus::kTooLarge, FileKind::kRegular},
      {folder, 100, ReadStatus::kNotRegular, FileKind::kDirectory},
      {this->Path("missing"), 100, ReadStatus::kMissing, FileKind::kMissing},
      {JoinPath(this->Path("missing"), "below"), 100, ReadStatus::kMissing, FileKind::kMissing},
  };
  if (TypeParam::Plant(Planted::kFifo, this->Path("fifo"), "")) {
    cases.push_back({this->Path("fifo"), 100, ReadStatus::kNotRegular, FileKind::kOther});
  }
  if (TypeParam::Plant(Planted::kSymlink, this->Path("link"), plain)) {
    cases.push_back({this->Path("link"), 100, ReadStatus::kNotRegular, FileKind::kLink});
  }
  for (const auto& [path, limit, status, kind] : cases) {
    SCOPED_TRACE(path);
    const ReadResult r = fs.ReadRegularFile(path, limit);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.bytes, status == ReadStatus::kOk ? "SALE,N1,P1000;\r\n" : "");
    EXPECT_EQ(fs.Inspect(path).kind, kind);
    EXPECT_EQ(fs.IsDirectory(path), kind == FileKind::kDirectory);
    if (kind != FileKind::kOther) {
      EXPECT_EQ(fs.Exists(path), kind != FileKind::kMissing);
    }
  }
  // One pass over a folder finds the names with a prefix (in either case where the system ignores it); none is an
  // empty list, a folder that is not there a failure.
#ifdef _WIN32
  const std::vector<std::string> withPrefix = {"SR_DATI.001"};
#else
  const std::vector<std::string> withPrefix = {};
#endif
  for (const auto& [in, prefix, names] : {std::tuple{folder, "SR_", std::vector<std::string>{}},
                                          std::tuple{this->dir_.path, "SR_DATI.", std::vector{std::string("SR_DATI.001")}},
                                          std::tuple{this->dir_.path, "sr_", withPrefix}}) {
    const StatusOr<std::vector<std::string>> found = fs.FindNames(in, prefix);
    EXPECT_TRUE(found.ok()) << found.status().Cause();
    EXPECT_EQ(found.value(), names) << prefix;
  }
  EXPECT_FALSE(fs.FindNames(this->Path("missing"), "SR_").ok());
  EXPECT_FALSE(fs.FindNames(plain, "SR_").ok());

  // CreateFresh replaces the file, with a new identity even at the same size;
  // a folder under the name is neither removed nor replaced.
  const std::string result = this->Path("SR_ERR.001");
  WriteFileBytes(result, "an older, longer text\r\n");
  EXPECT_EQ(fs.Inspect(result).identity, fs.Inspect(result).identity);  // stable while unchanged
  for (int i = 0; i < 2; ++i) {
    const std::string earlier = fs.Inspect(result).identity;
    std::FILE* f = fs.CreateFresh(result).value();
    ASSERT_NE(f, nullptr);
    std::fputs("E504\r\n", f);  // binary: no second CR
    std::fclose(f);
    EXPECT_EQ(ReadFileBytes(result), "E504\r\n");
    EXPECT_NE(fs.Inspect(result).identity, earlier);
  }
  EXPECT_FALSE(fs.CreateFresh(folder).ok());
  EXPECT_FALSE(fs.Remove(folder).ok());
  EXPECT_TRUE(fs.IsDirectory(folder));
  EXPECT_FALSE(fs.CreateFresh(JoinPath(this->Path("missing"), "SR_ERR.001")).ok());
  EXPECT_TRUE(fs.Remove(this->Path("missing")).ok());  // removing what is not there succeeds

  const std::string month = this->Path("TRACE_202612"), file = JoinPath(month, "TRACE_20261206_101500.TXT");
  if (TypeParam::Plant(Planted::kSymlink, month, folder)) {
    EXPECT_TRUE(fs.IsDirectory(month));  // followed, as stat() does
    EXPECT_FALSE(fs.CreateFresh(file).ok());
    EXPECT_FALSE(fs.AppendToPlainFile(file, "x").ok());
    WriteFileBytes(JoinPath(folder, "from"), "x");
    EXPECT_FALSE(fs.ReplaceWith(JoinPath(month, "from"), file).ok());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    // The link goes, the folder and its contents stay.
    EXPECT_TRUE(fs.Remove(month).ok());
    EXPECT_FALSE(fs.Exists(month));
    EXPECT_TRUE(fs.Exists(JoinPath(folder, "from")));
  }
}

// Every way of writing a name: nothing planted under it is written through, a link, hard link or FIFO gives way to a
// plain file with one name, a folder is refused, no temporary name is left; fresh files are the user's alone.
TYPED_TEST_P(PlatformCases, WritesNeverGoThroughWhatIsPlantedUnderTheName) {
  enum class Op { kCreateFresh, kAppend, kAtomically, kExclusive };
  typename TypeParam::Files fs;
  const auto temporary = [](const std::string& path) { return path + ".tmp"; };
  const auto write = [&](Op op, const std::string& path) {
    switch (op) {
      case Op::kCreateFresh:
      case Op::kExclusive: {  // exclusive: a temporary file under a fresh name, only where nothing has the name
        std::FILE* f = (op == Op::kExclusive ? fs.CreateExclusive(path, FileAccess::kOwnerOnly)
                                             : fs.CreateFresh(path, FileAccess::kOwnerOnly)).value();
        return f != nullptr && std::fputs("new\r\n", f) >= 0 && std::fclose(f) == 0;
      }
      case Op::kAppend: return fs.AppendToPlainFile(path, "new\r\n").ok();
      case Op::kAtomically: {
        // As a result file is written: whole under a temporary name, then renamed.
        std::FILE* f = fs.CreateFresh(temporary(path), FileAccess::kOwnerOnly).value();
        const bool written = f != nullptr && std::fputs("new\r\n", f) >= 0 && fs.FlushToDisk(f).ok();
        if (f != nullptr) std::fclose(f);
        const bool ok = written && fs.ReplaceWith(temporary(path), path).ok();
        if (!ok) fs.Remove(temporary(path));
        return ok;
      }
    }
    return false;
  };
  for (Op op : {Op::kCreateFresh, Op::kAppend, Op::kAtomically, Op::kExclusive}) {
    for (Planted planted : {Planted::kNothing, Planted::kPlainFile, Planted::kSymlink, Planted::kHardLink,
                            Planted::kFifo, Planted::kFolder}) {
      SCOPED_TRACE(::testing::Message() << "op " << static_cast<int>(op) << ", planted " << static_cast<int>(planted));
      TempDir dir;
      const std::string target = JoinPath(dir.path, "target"), name = JoinPath(dir.path, "LOGFILE.TXT");
      WriteFileBytes(target, "precious\r\n");
      if (planted == Planted::kPlainFile) {
        WriteFileBytes(name, "old\r\n");
      } else if (planted != Planted::kNothing && !TypeParam::Plant(planted, name, target)) {
        continue;
      }
      const bool kept = op == Op::kAppend && planted == Planted::kPlainFile;
      const bool exclusive = op == Op::kExclusive;
      EXPECT_EQ(write(op, name), exclusive ? planted == Planted::kNothing : planted != Planted::kFolder);
      EXPECT_EQ(ReadFileBytes(target), "precious\r\n");
      const NameFacts facts = TypeParam::Facts(name);
      const std::vector<std::string> names = fs.ListFolder(dir.path).value();
      EXPECT_EQ(std::count(names.begin(), names.end(), "LOGFILE.TXT"), 1);
      EXPECT_EQ(std::count(names.begin(), names.end(), "."), 0);
      if (exclusive && planted != Planted::kNothing) {
        // What has the name stays as it was.
        EXPECT_EQ(facts.folder, planted == Planted::kFolder);
        EXPECT_TRUE(planted != Planted::kPlainFile || ReadFileBytes(name) == "old\r\n") << ReadFileBytes(name);
        EXPECT_TRUE(planted != Planted::kHardLink || facts.names == 2) << facts.names;
      } else if (planted == Planted::kFolder) {
        EXPECT_TRUE(facts.folder);
      } else {
        EXPECT_TRUE(facts.plain);
        EXPECT_EQ(facts.names, 1);
        EXPECT_EQ(ReadFileBytes(name), kept ? "old\r\nnew\r\n" : "new\r\n");
        if (op == Op::kCreateFresh || op == Op::kAtomically) {
          EXPECT_NE(facts.ownerOnly, false);
        }
      }
      EXPECT_FALSE(std::filesystem::exists(temporary(name)));
    }
  }
}

// A held folder's files are reached through its Path() whatever its own path names later. POSIX: it may be renamed (a
// folder made in its place gets nothing) and removed (then kDeleted, nothing made in it); Windows: it can be neither
// while held, and can once released.
TYPED_TEST_P(PlatformCases, AHeldFolderKeepsItsFilesWhateverItsPathNames) {
#ifdef _WIN32
  constexpr bool kMoves = false;
#else
  constexpr bool kMoves = true;
#endif
  typename TypeParam::Files fs;
  const std::string data = this->Path("data"), old = this->Path("data.old");
  ASSERT_TRUE(fs.MakeDirectory(data).ok());
  EXPECT_FALSE(fs.HoldFolder(this->Path("missing")).ok());
  std::unique_ptr<HeldFolder> held = std::move(fs.HoldFolder(data).value());
  ASSERT_NE(held, nullptr);
  std::error_code ec;
  std::filesystem::rename(data, old, ec);
  EXPECT_EQ(!ec, kMoves) << ec.message();
  const std::string home = ec ? data : old, in = held->Path();
  if (!ec) {
    ASSERT_TRUE(fs.MakeDirectory(data).ok());
  }
  std::FILE* f = fs.CreateFresh(JoinPath(in, "~KBFINESCO.001.tmp")).value();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fputs("finesco", f) >= 0 && std::fclose(f) == 0, true);
  EXPECT_TRUE(fs.ReplaceWith(JoinPath(in, "~KBFINESCO.001.tmp"), JoinPath(in, "FINESCO.001")).ok());
  EXPECT_TRUE(fs.AppendToPlainFile(JoinPath(in, "LOGFILE.TXT"), "x\r\n").ok());
  EXPECT_EQ(ReadFileBytes(JoinPath(home, "FINESCO.001")), "finesco");
  EXPECT_EQ(ReadFileBytes(JoinPath(home, "LOGFILE.TXT")), "x\r\n");
  EXPECT_EQ(fs.Inspect(JoinPath(in, "FINESCO.001")).identity, fs.Inspect(JoinPath(home, "FINESCO.001")).identity);
  EXPECT_TRUE(fs.Remove(JoinPath(in, "LOGFILE.TXT")).ok());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data), {}), home == data ? 1 : 0);
  EXPECT_EQ(held->State(), HeldFolderState::kPresent);
  std::filesystem::remove_all(home, ec);
  EXPECT_EQ(!ec, kMoves) << ec.message();
  EXPECT_EQ(held->State(), kMoves ? HeldFolderState::kDeleted : HeldFolderState::kPresent);
  f = fs.CreateFresh(JoinPath(in, "SR_ERR.001")).value();
  EXPECT_EQ(f == nullptr, kMoves);
  if (f != nullptr) std::fclose(f);
  held.reset();
  std::filesystem::rename(data, old, ec);
  EXPECT_FALSE(ec) << ec.message();
}

// One copy per settings folder until it ends; the data-folder lock is a lock of its own; a lock whose file cannot be
// created is not taken. Each termination request runs the handler once, soon, inside Wait; one loop of the process
// owns them, the composition root only when asked.
TYPED_TEST_P(PlatformCases, OneCopyHoldsTheLocksAndOneLoopTakesTermination) {
  using System = typename TypeParam::System;
  const std::string dir = this->dir_.path, missing = this->Path("missing");
  // A slot's claim: one holder at a time (two opens of one process too); the file a holder
  // leaves behind is taken again; never a folder or through a link.
  typename TypeParam::Files fs;
  const std::string claim = this->Path("~KBCLAIM.001"), link = this->Path("~KBCLAIM.002");
  {
    const ClaimResult held = fs.TryClaim(claim);
    ASSERT_EQ(held.status, ClaimStatus::kHeld);
    EXPECT_EQ(fs.TryClaim(claim).status, ClaimStatus::kBusy);
  }
  EXPECT_EQ(fs.TryClaim(claim).status, ClaimStatus::kHeld);
  EXPECT_EQ(fs.TryClaim(dir).status, ClaimStatus::kFailed);
  EXPECT_EQ(fs.TryClaim(JoinPath(missing, "~KBCLAIM.001")).status, ClaimStatus::kFailed);
  if (TypeParam::Plant(Planted::kSymlink, link, claim)) {
    EXPECT_EQ(fs.TryClaim(link).status, ClaimStatus::kFailed);
  }
#ifndef _WIN32
  // Whatever the umask, the claim is the group's to open for writing (a job file's mode: PosixPlatform's table).
  const mode_t umaskBefore = umask(077);
  const ClaimResult fresh = fs.TryClaim(this->Path("~KBCLAIM.003"));
  umask(umaskBefore);
  EXPECT_EQ(fresh.status, ClaimStatus::kHeld);
  struct stat st;
  ASSERT_EQ(stat(this->Path("~KBCLAIM.003").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
#endif
  {
    System first;
    ASSERT_TRUE(first.AcquireSingleInstance(dir));
    EXPECT_FALSE(System().AcquireSingleInstance(dir));
  }
  System settings, data, second;
  ASSERT_TRUE(settings.AcquireSingleInstance(dir));
  ASSERT_TRUE(data.AcquireDataFolderLock(dir));
  EXPECT_EQ(data.CheckDataFolderLock(), DataLockState::kHeld);
  EXPECT_FALSE(second.AcquireDataFolderLock(dir));
  EXPECT_EQ(second.LastLockRefusal(), LockRefusal::kAnotherCopy);
  EXPECT_FALSE(System().AcquireDataFolderLock(missing));
  EXPECT_FALSE(System().AcquireSingleInstance(missing));

  for (const bool asked : {false, true}) {
    const auto services = MakePlatform({.serialDevices = {}, .handleTerminationSignals = asked});
    typename TypeParam::Loop other;
    EXPECT_EQ(TypeParam::TakesTermination(other), !asked) << asked;
  }
  ASSERT_TRUE(TypeParam::TakesTermination(this->loop_));
  int terminated = 0;
  this->loop_.SetTerminateHandler([&] { ++terminated; });
  for (const auto& [name, request] : TypeParam::TerminationRequests(this->loop_)) {
    terminated = 0;
    request();
    EXPECT_EQ(terminated, 0) << name;
    EXPECT_LT(this->TimedWait(2000), 500) << name;
    EXPECT_EQ(terminated, 1) << name;
  }
}

REGISTER_TYPED_TEST_SUITE_P(PlatformCases, TimersPostsAndFolderChangesReachTheLoopThatOtherwiseSleeps,
                            TcpExchangesBytesAndKeepsEachConnectionsEventsToItself,
                            SerialTakesKnownSettingsAndCarriesBytesUnchangedWithoutSpinning,
                            ReadsOnlyPlainFilesAndWritesOnlyIntoRealFolders,
                            WritesNeverGoThroughWhatIsPlantedUnderTheName,
                            OneCopyHoldsTheLocksAndOneLoopTakesTermination,
                            AHeldFolderKeepsItsFilesWhateverItsPathNames);

}  // namespace kolibra::testing
