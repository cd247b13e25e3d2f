#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"

namespace kolibra {

void ArmReceive(AppContext& ctx);
void OpenConnection(AppContext& ctx, bool showClosing);
bool CloseConnection(AppContext& ctx);
bool Reconnect(AppContext& ctx, int16_t maxSeconds);
bool IsValidIpAddress(const std::string& address);

// Socket events.
void OnSocketConnected(AppContext& ctx);
void OnSocketData(AppContext& ctx, std::size_t bytes);
void OnSocketError(AppContext& ctx, int number, const std::string& description, int status);

// Operator buttons.
void ResetConnClicked(AppContext& ctx);
void ValidateIpClicked(AppContext& ctx);

}  // namespace kolibra
