#pragma once

#include <cstdint>
#include <string>

#include "core/app_context.h"
#include "platform/status.h"

namespace kolibra {

void ArmReceive(AppContext& ctx);
void OpenConnection(AppContext& ctx, bool showClosing);
bool CloseConnection(AppContext& ctx);
bool Reconnect(AppContext& ctx, int16_t maxSeconds);
// The address check of the settings file and of "Valida IP": at least four
// dot-separated parts, the first four numbers up to 255. The socket builds
// its address by its own stricter reading (SocketAddress), so an address
// that passes here may still fail to connect with "Host not found".
bool IsValidIpAddress(const std::string& address);

// Socket events.
void OnSocketConnected(AppContext& ctx);
void OnSocketData(AppContext& ctx, std::size_t bytes);
void OnSocketError(AppContext& ctx, int number, const Status& failure, int status);

// Operator buttons.
void ResetConnClicked(AppContext& ctx);

}  // namespace kolibra
