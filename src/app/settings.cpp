#include "app/settings.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "app/job_cycle.h"
#include "conversion/numbers.h"
#include "core/file_util.h"
#include "core/settings_file.h"
#include "link/tcp_link.h"
#include "ui/operator_actions.h"

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

const char* Flag(bool on) { return on ? "1" : "0"; }

}  // namespace

void ReadSlotSettings(AppContext& ctx) {
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBCHKCOM.TXT");
  const bool usable = items && !items->empty() && items->front().size() >= kSlotCount;
  for (int i = 0; i < kSlotCount; ++i) {
    ctx.settings.slotOn[i] = !usable || (*items)[0][i] == '1';
  }
}

void ReadTimerSettings(AppContext& ctx) {
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBTIMER1.TXT");
  const std::string value = items && !items->empty() ? items->front() : std::string();
  SetPollingInterval(ctx, SetPollingValue(ctx, value, false));
  WriteSettingsFile(ctx, "KBTIMER1.TXT", ctx.settings.pollingValue + "\r\n");
}

void ReadBaudSettings(AppContext& ctx) {
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBChkBd.txt");
  ctx.settings.baudRate = kDefaultBaud;
  ctx.settings.speedText = std::to_string(kDefaultBaud);
  if (!items || items->empty()) return;
  const std::string& item = items->front();
  // Only a plain whole number is a baud rate; anything else keeps 9600.
  const std::optional<double> v = ParseNumber(item, kItemNumber);
  if (!v || *v < 1 || *v > kHighestBaud || *v != std::floor(*v)) return;
  ctx.settings.baudRate = static_cast<int32_t>(*v);
  ctx.settings.speedText = std::to_string(ctx.settings.baudRate);
}

void ReadProgramSettings(AppContext& ctx) {
  DriverSettings& settings = ctx.settings;
  settings.passThrough = false;
  settings.footerRt = false;
  settings.paymentsIndex = 0;
  std::optional<std::vector<std::string>> items = ReadSettingsFile(ctx, "KBCHKSCO.TXT");
  if (!items) return;  // the link, address, trace and debit card keep the window defaults

  ctx.platform.socket.SetRemoteHost("");
  settings.linkMode = LinkMode::kSerial;
  settings.address.clear();
  settings.trace = false;
  settings.fourthPaymentCard = false;

  const std::vector<std::string>& it = *items;
  const std::size_t n = it.size();
  if (n > 0) settings.passThrough = IsExactlyOne(it[0]);
  if (n > 1) settings.footerRt = IsExactlyOne(it[1]);
  if (n > 2) {
    const std::optional<double> v = ParseNumber(it[2], kItemNumber);
    if (v && *v > -0.5 && *v < kPaymentChoices - 0.5) {
      settings.paymentsIndex = static_cast<int>(std::lround(*v));
    }
  }
  if (n > 3) {
    settings.linkMode = IsExactlyOne(it[3]) ? LinkMode::kNetwork : LinkMode::kSerial;
  }
  if (n > 4 && IsValidIpAddress(it[4])) {
    settings.address = it[4];
    ctx.platform.socket.SetRemoteHost(it[4]);
  }
  if (n > 5) settings.trace = it[5] == "1";
  if (n > 6) settings.fourthPaymentCard = it[6] == "1";
}

void SaveSettings(AppContext& ctx) {
  const DriverSettings& settings = ctx.settings;
  std::string slots = "0000";
  for (int i = 0; i < kSlotCount; ++i) {
    if (settings.slotOn[i]) slots[i] = '1';
  }
  WriteSettingsFile(ctx, "KBCHKCOM.TXT", slots + "\r\n");
  WriteSettingsFile(ctx, "KBChkBd.txt", settings.speedText + "\r\n");

  const bool addressOk = !settings.address.empty() && IsValidIpAddress(settings.address);
  std::string program;
  program += std::string(Flag(settings.passThrough)) + "\r\n";
  program += std::string(Flag(settings.footerRt)) + "\r\n";
  program += std::to_string(settings.paymentsIndex) + "\r\n";
  program += std::string(Flag(settings.linkMode == LinkMode::kNetwork)) + "\r\n";
  program += (addressOk ? settings.address : std::string("0")) + "\r\n";
  program += std::string(Flag(settings.trace)) + "\r\n";
  program += std::string(Flag(settings.fourthPaymentCard)) + "\r\n";
  WriteSettingsFile(ctx, "KBCHKSCO.TXT", program);
}

}  // namespace kolibra
