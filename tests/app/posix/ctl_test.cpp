// kolibra ctl through the real control socket to a driver context on the real platform, the ECR simulator on
// TCP: each action with its exit code, its text and what it changed, then what shutdown saved.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <sstream>
#include <tuple>

#include "app/cli.h"
#include "app/control_server.h"
#include "app/startup.h"
#include "core/messages.h"
#include "fakes/fake_platform.h"
#include "platform/make_platform.h"
#include "support/child_process.h"
#include "ui/operator_window.h"
#include "ui/window_facts.h"

namespace kolibra {
namespace {

struct CtlRow {
  std::vector<std::string> args;
  int code;
  std::string text;      // found in what ctl printed
  bool* held = nullptr;  // a flag set while ctl asks (a job or a dump running)
  std::function<void(AppContext&)> check = nullptr;
  bool asService = false;  // the driver sees itself started by systemd
};

TEST(KolibraCtl, EachActionThroughTheSocket) {
  support::EcrSimulator sim;
  if (!sim.Start({"--port", "0"})) GTEST_SKIP() << "no simulator";
  unsetenv("INVOCATION_ID");  // as when run by hand, whoever runs the tests
  fakes::ScratchDir settings, data;
  std::filesystem::permissions(settings.path(), std::filesystem::perms::owner_all);
  fakes::WriteFileBytes(settings.File("KBCHKCOM.TXT"), "1111\r\n");
  fakes::WriteFileBytes(settings.File("KBCHKSCO.TXT"), "0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n");

  const auto services = MakePlatform({.serialDevices = {}, .handleTerminationSignals = false});
  AppContext ctx(services->platform());
  EventLoop& loop = ctx.platform.loop;
  ctx.settingsDir = settings.path();
  ASSERT_TRUE(ctx.platform.system.AcquireSingleInstance(ctx.settingsDir));
  ASSERT_EQ(StartDriver(ctx, {settings.path(), data.path(), sim.Port(), true}), StartResult::kStarted);
  // Opened once, then minimized to the tray, where it normally sits: the dump's texts, the test receipt and
  // the status are the driver's all the same.
  RestoreWindow(ctx);
  MinimizeWindow(ctx);
  auto endpoint = std::make_unique<ControlEndpoint>(ctx, services->controlChannel());
  ASSERT_TRUE(endpoint->open());
  const auto pumpUntil = [&](const std::function<bool()>& done, int64_t budgetMs) {
    const int64_t end = loop.NowMs() + budgetMs;
    while (!done() && loop.NowMs() < end) loop.Wait(loop.NowMs() + 20);
    return done();
  };
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(data.File("SR_MATR.001")); }, 15000));

  // The command runs on a thread of its own while this one runs the driver: its exit code, stdout, stderr.
  const auto ctl = [&](const std::vector<std::string>& args) {
    std::vector<std::string> words{"ctl", "--settings-dir", settings.path()};
    words.insert(words.end(), args.begin(), args.end());
    auto run = std::async(std::launch::async, [words] {
      std::ostringstream out, err;
      return std::tuple<int, std::string, std::string>{RunKolibra(words, out, err), out.str(), err.str()};
    });
    pumpUntil([&] { return run.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 40000);
    return run.get();
  };
  bool* const busy = &ctx.cycle.jobBusy;

  const CtlRow rows[] = {
      // The dump cleared the other slots' boxes, which disabled the test button.
      {{"test-receipt"}, 1, "Pulsante \" Esegui Test\" disattivato", nullptr, [&](AppContext& c) {
         EXPECT_FALSE(std::filesystem::exists(data.File("SR_DATI.001")));
         EXPECT_EQ(c.state.dumpText[0], kDumpDone);
       }},
      {{"slots", "1100"}, 1, "COM 2: casella disattivata, valore non accettato"},
      {{"slots", "0000"}, 0, "Porte attive: 0000\nRicerca lavori: ferma"},
      {{"slots", "1000"}, 1, "Connessione in corso, valore non accettato", busy},
      {{"slots", "1000"}, 0, "Ricerca lavori: attiva"},
      {{"test-receipt"}, 1, "Connessione in corso, comando non accettato", busy},
      {{"test-receipt"}, 0, "Scontrino di prova scritto per la porta COM 1", nullptr, [&](AppContext& c) {
         EXPECT_EQ(fakes::ReadFileBytes(data.File("SR_DATI.001")), std::string(kTestReceiptLine) + "\r\n");
         EXPECT_FALSE(Window(c).testReceiptReady);
         EXPECT_TRUE(pumpUntil([&] { return c.cycle.lastJob.any; }, 15000));
       }},
      {{"set-polling", "5"}, 1, "Connessione in corso, valore non accettato", busy},
      // Not a refusal: the one-second default is in force and saved.
      {{"set-polling", "0"}, 0, "Valore non ammesso\nTimer in sec.: 0 (1000 ms)"},
      // A dump does not hold the polling value back, only a job does.
      {{"set-polling", "2"}, 0, "Timer in sec.: 2 (2000 ms)", &ctx.dump.inProgress,
       [&](AppContext&) { EXPECT_EQ(fakes::ReadFileBytes(settings.File("KBTIMER1.TXT")), "2\r\n"); }},
      {{"set-speed", "19200"}, 0, "19200"},
      {{"mode", "serial"}, 1, "Connessione in corso, valore non accettato", busy},
      {{"mode", "serial"}, 0, "Collegamento: Seriale"},
      {{"mode", "network"}, 0, "Collegamento: Rete"},
      {{"address", "127.0.0.1.9"}, 0, "IP OK",
       nullptr, [](AppContext& c) { EXPECT_EQ(c.settings.address, "127.0.0.1.9"); }},
      {{"address", "127.0.0.1"}, 0, "IP OK"},
      {{"reset-connection"}, 1, "Connessione in corso, comando non accettato", busy},
      {{"reset-connection"}, 0, "Connessione: verde"},
      {{"trace", "on"}, 0, "Abilita Trace: si"},
      {{"pass-through", "on"}, 0, "Attiva Input Xon-Xoff: si"},
      {{"payments", "8"}, 0, "N. dei Pagamenti: 8 PAGAMENTI"},
      {{"fourth-payment", "card"}, 0, "Pagam.4 = Bancomat: si"},
      {{"payments", "7"}, 2, "argomento non valido, si scrive: payments 5|6|8\nuso: kolibra ctl"},
      {{"status"}, 0, "Ultimo lavoro: COM 1, TUTTO OK (0), "},
      {{"status", "--json"}, 0, "\"sinceStart\":{\"jobs\":1,\"printed\":1,\"failed\":0,"},
      // Under systemd the service manager stops it: an orderly exit would end the service for good.
      {{"stop"}, 1, kControlStopByService, nullptr, [](AppContext& c) { EXPECT_FALSE(c.cycle.shutdownRequested); },
       true},
      {{"stop"}, 0, " Chiusura programma Kolibra in corso ...",
       nullptr, [](AppContext& c) { EXPECT_TRUE(c.cycle.shutdownRequested); }},
      {{"trace", "off"}, 1, " Chiusura programma Kolibra in corso ..."},  // the saved trace box stays ticked
  };
  for (const CtlRow& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    if (row.held) *row.held = true;
    if (row.asService) {
      setenv("INVOCATION_ID", "6f1c2d0e9a8b4c7d8e9f0a1b2c3d4e5f", 1);
      setenv("SYSTEMD_EXEC_PID", std::to_string(getpid()).c_str(), 1);
    }
    const auto [code, out, err] = ctl(row.args);
    unsetenv("INVOCATION_ID");
    unsetenv("SYSTEMD_EXEC_PID");
    if (row.held) *row.held = false;
    EXPECT_EQ(code, row.code) << out << err;
    EXPECT_NE((row.code == 0 ? out : err).find(row.text), std::string::npos) << out << err;
    if (row.check) row.check(ctx);
  }

  // Idle connections of this user: four are its share, so its command is answered busy though the channel
  // has room for other users'; they are dropped within the idle time-out (a closing driver still answers).
  std::vector<int> idle;
  for (int i = 0; i < 4; ++i) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, settings.File("kolibra.sock").c_str(), sizeof addr.sun_path - 1);
    idle.push_back(socket(AF_UNIX, SOCK_STREAM, 0));
    ASSERT_EQ(connect(idle.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  const int64_t idleSince = loop.NowMs();
  const auto [busyCode, busyOut, busyErr] = ctl({"status"});
  EXPECT_EQ(busyCode, 1) << busyOut;
  EXPECT_NE(busyErr.find(kControlBusy), std::string::npos) << busyErr;
  EXPECT_TRUE(pumpUntil([&] {
    char c;
    return std::all_of(idle.begin(), idle.end(), [&](int fd) { return recv(fd, &c, 1, MSG_DONTWAIT) == 0; });
  }, 8000));
  EXPECT_LT(loop.NowMs() - idleSince, 4500);
  for (const int fd : idle) close(fd);
  EXPECT_EQ(std::get<0>(ctl({"status"})), 0);

  RunMainLoop(ctx);
  endpoint.reset();
  EXPECT_EQ(fakes::ReadFileBytes(settings.File("KBCHKCOM.TXT")), "1000\r\n");
  EXPECT_EQ(fakes::ReadFileBytes(settings.File("KBChkBd.txt")), "19200\r\n");
  EXPECT_EQ(fakes::ReadFileBytes(settings.File("KBCHKSCO.TXT")), "1\r\n1\r\n2\r\n1\r\n127.0.0.1\r\n1\r\n1\r\n");
  EXPECT_FALSE(std::filesystem::exists(settings.File("kolibra.sock")));
  EXPECT_EQ(std::get<0>(ctl({"status"})), 3);
}

}  // namespace
}  // namespace kolibra
