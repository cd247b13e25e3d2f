// The window binding on a fake host: what the operator's commands do and refuse, and when the controls are written.
#include "ui/window_binding.h"

#include <gtest/gtest.h>

#include "app/job_cycle.h"
#include "core/poll_timer.h"
#include "fakes/context_rig.h"
#include "fakes/fake_window_host.h"
#include "link/transmission.h"
#include "platform/window_ids.h"
#include "ui/operator_window.h"
#include "ui/window_facts.h"

namespace kolibra {
namespace {

struct Rig : fakes::ContextRig {
  fakes::FakeWindowHost host;
  int exits = 0;
  WindowBinding binding{ctx, host, {[this] { ++exits; }}};

  Rig() {
    ctx.defaultDataDir = data.path();
    ctx.settings.slotOn.fill(true);
    ctx.cycle.portAvailable.fill(true);
    InstallPollTimer(ctx, [] {});  // the window's actions reach the cycle; no polling
    StartPolling(ctx);
    InitLink(ctx);
    binding.Attach();
  }
  void Open() { host.events.onTrayMouse(515); }
  void Enter(int box, const std::string& text, int button) {
    host.text[box] = text;
    host.Command(button);
  }
};

// The operator's input with the window open, phase by phase, and what it did; refusals say why in a message.
TEST(WindowBinding, CommandsAndTheirRefusalsDuringAJob) {
  Rig r;
  r.Open();
  r.Enter(IDC_TIMER_VALUE, "5", IDC_SET_TIMER_BUTTON);
  EXPECT_EQ(r.fp.loop.TimerInterval(r.ctx.cycle.pollTimer), 5000);
  EXPECT_TRUE(PollTimerEnabled(r.ctx));  // running as it was

  // Only a speed of the list is taken; anything else goes back to the box.
  r.Enter(IDC_SPEED, "14400", IDC_SET_SPEED_BUTTON);
  EXPECT_EQ(r.ctx.settings.baudRate, 9600);
  EXPECT_EQ(r.host.text[IDC_SPEED], "9600");
  EXPECT_EQ(r.Setting("KBChkBd.txt"), "");
  r.Enter(IDC_SPEED, "19200", IDC_SET_SPEED_BUTTON);
  EXPECT_EQ(r.ctx.settings.baudRate, 19200);
  EXPECT_EQ(r.Setting("KBChkBd.txt"), "19200\r\n");

  // "Valida IP" says for two seconds whether the box holds an address, without connecting.
  r.host.checked[IDC_SERIAL_OPTION] = false;
  r.host.Click(IDC_NETWORK_OPTION);
  EXPECT_EQ(r.ctx.settings.linkMode, LinkMode::kNetwork);
  r.host.Type(IDC_REMOTE_IP, "10.0.0.1");
  EXPECT_EQ(r.ctx.settings.address, "10.0.0.1");
  r.host.Type(IDC_REMOTE_IP, "10.0.0.256");
  std::string during;
  r.fp.loop.After(1000, [&] { during = r.host.text[IDC_VALIDATE_IP_BUTTON]; });
  r.host.Command(IDC_VALIDATE_IP_BUTTON);
  EXPECT_EQ(during, "IP non Valido");
  EXPECT_EQ(r.ctx.settings.address, "10.0.0.1");
  EXPECT_EQ(r.host.text[IDC_REMOTE_IP], "10.0.0.256");  // what was typed stays
  EXPECT_EQ(r.host.text[IDC_VALIDATE_IP_BUTTON], "Valida IP");
  EXPECT_TRUE(r.fp.socket.connectTimes.empty());
  r.Enter(IDC_REMOTE_IP, "10.0.0.2", IDC_RESET_CONNECTION_BUTTON);
  EXPECT_EQ(r.fp.socket.RemoteHost(), "10.0.0.2");
  EXPECT_EQ(r.fp.socket.connectTimes.size(), 1u);
  EXPECT_EQ(r.host.colour[IDC_CONNECTION_INDICATOR], kColourGreen);
  EXPECT_EQ(r.ctx.state.connection, ConnectionState::kOpen);
  EXPECT_EQ(r.host.text[IDC_RESET_CONNECTION_BUTTON], "Reset Connessione");

  for (int id : {IDC_TRACE, IDC_PASS_THROUGH, IDC_PAYMENT4_BANCOMAT}) r.host.Click(id);
  r.host.Pick(IDC_PAYMENTS, 2);
  const DriverSettings& s = r.ctx.settings;
  EXPECT_TRUE(s.trace && s.passThrough && s.fourthPaymentCard);
  EXPECT_FALSE(s.footerRt);
  EXPECT_EQ(s.paymentsIndex, 2);
  r.host.Click(IDC_FOOTER_RT);
  EXPECT_TRUE(s.footerRt);

  // Unticking stops the polling; during a job ticking, the test button and the timer are refused.
  r.host.Click(IDC_SLOT2_ENABLE);
  EXPECT_FALSE(r.ctx.settings.slotOn[1] || PollTimerEnabled(r.ctx) || r.host.enabled[IDC_TEST_BUTTON]);
  EXPECT_TRUE(r.host.enabled[IDC_SPEED]);
  r.ctx.cycle.jobBusy = true;
  r.host.Click(IDC_SLOT2_ENABLE);
  r.host.Command(IDC_TEST_BUTTON);
  EXPECT_FALSE(r.host.checked[IDC_SLOT2_ENABLE] || r.ctx.settings.slotOn[1] || PollTimerEnabled(r.ctx));
  r.Enter(IDC_TIMER_VALUE, "7", IDC_SET_TIMER_BUTTON);
  EXPECT_EQ(r.ctx.settings.pollingValue, "5");
  EXPECT_EQ(r.ctx.cycle.pollingIntervalMs, 5000);
  EXPECT_EQ(r.Setting("KBTIMER1.TXT"), "5\r\n");
  EXPECT_EQ(r.host.text[IDC_TIMER_VALUE], "5");
  // Ticking after the job locks the settings.
  r.ctx.cycle.jobBusy = false;
  r.host.Click(IDC_SLOT2_ENABLE);
  EXPECT_TRUE(PollTimerEnabled(r.ctx));
  for (int id : {IDC_SPEED, IDC_PAYMENT4_BANCOMAT, IDC_ECR_MESSAGE}) EXPECT_FALSE(r.host.enabled[id]) << id;
  EXPECT_TRUE(r.host.enabled[IDC_TEST_BUTTON]);

  const std::string manual = JoinPath(r.data.path(), "mankolibra.pdf");
  r.host.Command(IDM_MANUAL);
  EXPECT_TRUE(r.host.opened.empty());
  fakes::WriteFileBytes(manual, "%PDF");
  r.host.openSucceeds = false;
  r.host.Command(IDM_MANUAL);
  EXPECT_EQ(r.host.opened.size(), 1u);
  EXPECT_EQ(r.fp.notifier.messages, (std::vector<std::string>{
      "Velocita' non ammessa: 9600, 19200, 38400, 57600 o 115200", "Connessione in corso, valore non accettato",
      "Connessione in corso, comando non accettato", "Connessione in corso, valore non accettato",
      "File: " + manual + " non trovato", "Operazione non eseguita: verificare presenza Reader "}));
  r.host.Command(IDM_INFO);
  ASSERT_EQ(r.host.about.size(), 1u);
  EXPECT_EQ(r.host.about[0].version, "Versione 1.0.0.14");
  EXPECT_EQ(r.host.about[0].title, "Kolibra per sistemi Windows 32 bit");
  r.host.events.onCloseBox();
  EXPECT_EQ(r.exits, 1);
}

// Restoring marks the unticked slots (3 and 4) as needing a dump.
TEST(WindowBinding, WritesTheWindowOnlyWhileShownAndPopsTheMenuUpWhenHidden) {
  Rig r;
  r.ctx.settings.slotOn[2] = r.ctx.settings.slotOn[3] = false;
  r.ctx.dump.pending = {false, true, false, false};
  r.binding.Refresh();
  EXPECT_EQ(r.host.writes, 0);
  EXPECT_FALSE(r.host.mainVisible);

  r.Open();
  EXPECT_TRUE(r.host.mainVisible && Window(r.ctx).watched);
  EXPECT_EQ(r.ctx.dump.pending, (std::array<bool, 4>{false, true, true, true}));
  EXPECT_EQ(r.host.text[IDC_SLOT1_DUMP], "DUMP ESEGUITO");
  for (int id : {IDC_SLOT2_DUMP, IDC_SLOT3_DUMP, IDC_SLOT4_DUMP}) EXPECT_EQ(r.host.text[id], "DUMP NON ESEGUITO");
  EXPECT_EQ(r.host.text[IDC_SERIAL_NUMBER], "Matricola");
  EXPECT_EQ(r.host.tips[IDC_STATE_HEADING], "Se verde indica che la porta \xE8 attiva");

  // The refresh timer carries model changes into the open window, but not over what is being typed.
  r.ctx.state.status = "KOLIBRA TERMINATO : TUTTO OK";
  r.ctx.state.ecrMessage = "DUMP NON ANCORA ESEGUITO";
  r.host.text[IDC_TIMER_VALUE] = "4";
  r.fp.loop.Wait(r.fp.loop.NowMs() + 300);
  EXPECT_EQ(r.host.text[IDC_STATUS], "KOLIBRA TERMINATO : TUTTO OK");
  EXPECT_EQ(r.host.text[IDC_ECR_MESSAGE], "DUMP NON ANCORA ESEGUITO");
  EXPECT_EQ(r.host.text[IDC_TIMER_VALUE], "4");

  // Minimised: hidden, nothing written, and the tray's right button (on its release) pops the file menu up.
  r.host.events.onMinimized();
  EXPECT_FALSE(r.host.mainVisible || Window(r.ctx).watched);
  const int writes = r.host.writes;
  r.ctx.state.status = "TRASMISSIONE KOLIBRA IN CORSO ..";
  r.fp.loop.Wait(r.fp.loop.NowMs() + 1000);
  EXPECT_EQ(r.host.writes, writes);
  r.host.events.onTrayMouse(512);
  r.host.events.onTrayMouse(517);
  ASSERT_EQ(r.host.popups.size(), 1u);
  const auto& menu = r.host.popups[0];
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].text + "|" + menu[1].text, "T&ermina Kolibra|&Manuale Kolibra");
  EXPECT_TRUE(menu[0].isDefault && !menu[1].isDefault);
  EXPECT_FALSE(r.host.mainVisible);
}

}  // namespace
}  // namespace kolibra
