#include "app/settings.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "app/job_cycle.h"
#include "conversion/numbers.h"
#include "core/file_util.h"
#include "link/tcp_link.h"

namespace kolibra {

namespace {

constexpr int32_t kDefaultBaud = 9600;
constexpr int32_t kHighestBaud = 4000000;
constexpr int kPaymentChoices = 3;  // "5 PAGAMENTI", "6 PAGAMENTI", "8 PAGAMENTI"
// A number item of a settings file: blanks around, sign, optional point.
constexpr NumberForm kItemNumber{" \t", true, true, ""};

std::string SettingsPath(const AppContext& ctx, const char* name) {
  return JoinPath(ctx.settingsDir, name);
}

// The items of a settings file; nullopt when it is no plain file (a link,
// a FIFO: never followed nor waited on), cannot be read or is larger than
// any settings file.
std::optional<std::vector<std::string>> ReadSettingsFile(AppContext& ctx, const char* name) {
  const ReadResult read = ctx.platform.fs.ReadRegularFile(SettingsPath(ctx, name), kSettingsReadLimit);
  if (read.status != ReadStatus::kOk) return std::nullopt;
  return ReadItems(read.bytes);
}

bool IsExactlyOne(const std::string& item) { return ParseNumber(item, kItemNumber) == 1.0; }

void WriteSettingsFile(AppContext& ctx, const char* name, const std::string& content) {
  const std::string path = SettingsPath(ctx, name);
  if (!WriteWholeFile(path, content)) ctx.platform.notifier.Log("Impossibile scrivere " + path);
}

const char* Flag(bool on) { return on ? "1" : "0"; }

}  // namespace

void ReadSlotSettings(AppContext& ctx) {
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBCHKCOM.TXT");
  const bool usable = items && !items->empty() && items->front().size() >= kSlotCount;
  for (int i = 0; i < kSlotCount; ++i) {
    ctx.ui.slotCheck[i].value = !usable || (*items)[0][i] == '1' ? 1 : 0;
  }
}

void ReadTimerSettings(AppContext& ctx) {
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBTIMER1.TXT");
  const std::string value = items && !items->empty() ? items->front() : std::string();
  SetPollingValue(ctx, value, false);
  WriteSettingsFile(ctx, "KBTIMER1.TXT", ctx.ui.timerValue + "\r\n");
}

void ReadBaudSettings(AppContext& ctx) {
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBChkBd.txt");
  ctx.baudRate = kDefaultBaud;
  ctx.ui.baudText = std::to_string(kDefaultBaud);
  if (!items || items->empty()) return;
  const std::string& item = items->front();
  // Only a plain whole number is a baud rate; anything else keeps 9600.
  const std::optional<double> v = ParseNumber(item, kItemNumber);
  if (!v || *v < 1 || *v > kHighestBaud || *v != std::floor(*v)) return;
  ctx.baudRate = static_cast<int32_t>(*v);
  ctx.ui.baudText = std::to_string(ctx.baudRate);
}

void ReadProgramSettings(AppContext& ctx) {
  OperatorState& ui = ctx.ui;
  ui.passThrough.value = 0;
  ui.footerRt.value = 0;
  ui.paymentsIndex = 0;
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBCHKSCO.TXT");
  if (!items) return;  // the link, address, trace and debit card keep the window defaults

  ctx.platform.socket.SetRemoteHost("");
  ui.serialChosen = true;
  ui.networkChosen = false;
  ui.remoteIp.clear();
  ui.trace.value = 0;
  ui.pag4Bancomat.value = 0;

  const std::vector<std::string>& it = *items;
  const std::size_t n = it.size();
  if (n > 0) ui.passThrough.value = IsExactlyOne(it[0]) ? 1 : 0;
  if (n > 1) ui.footerRt.value = IsExactlyOne(it[1]) ? 1 : 0;
  if (n > 2) {
    const std::optional<double> v = ParseNumber(it[2], kItemNumber);
    if (v && *v > -0.5 && *v < kPaymentChoices - 0.5) {
      ui.paymentsIndex = static_cast<int>(std::lround(*v));
    }
  }
  if (n > 3) {
    ui.networkChosen = IsExactlyOne(it[3]);
    ui.serialChosen = !ui.networkChosen;
  }
  if (n > 4 && IsValidIpAddress(it[4])) {
    ui.remoteIp = it[4];
    ctx.platform.socket.SetRemoteHost(it[4]);
  }
  if (n > 5) ui.trace.value = it[5] == "1" ? 1 : 0;
  if (n > 6) ui.pag4Bancomat.value = it[6] == "1" ? 1 : 0;
}

void SaveSettings(AppContext& ctx) {
  const OperatorState& ui = ctx.ui;
  std::string slots = "0000";
  for (int i = 0; i < kSlotCount; ++i) {
    if (ui.slotCheck[i].value == 1) slots[i] = '1';
  }
  WriteSettingsFile(ctx, "KBCHKCOM.TXT", slots + "\r\n");
  WriteSettingsFile(ctx, "KBChkBd.txt", ui.baudText + "\r\n");

  const bool addressOk = !ui.remoteIp.empty() && IsValidIpAddress(ui.remoteIp);
  std::string program;
  program += std::string(Flag(ui.passThrough.value == 1)) + "\r\n";
  program += std::string(Flag(ui.footerRt.value == 1)) + "\r\n";
  program += std::to_string(ui.paymentsIndex) + "\r\n";
  program += std::string(Flag(ui.networkChosen)) + "\r\n";
  program += (addressOk ? ui.remoteIp : std::string("0")) + "\r\n";
  program += std::string(Flag(ui.trace.value == 1)) + "\r\n";
  program += std::string(Flag(ui.pag4Bancomat.value == 1)) + "\r\n";
  WriteSettingsFile(ctx, "KBCHKSCO.TXT", program);
}

}  // namespace kolibra
