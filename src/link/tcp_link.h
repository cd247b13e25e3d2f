#pragma once

#include <cstdint>
#include <string>

#include "app/app_context.h"

namespace kolibra {

void WSResetReceive(AppContext& ctx);
void OpenSocketConnection(AppContext& ctx, bool showClosing);
bool CloseSocketConnection(AppContext& ctx);
bool ResetReStartConnection(AppContext& ctx, int16_t maxSecTout);
bool CheckIPAddress(const std::string& address);

// Socket events.
void Winsock1_Connect(AppContext& ctx);
void Winsock1_DataArrival(AppContext& ctx, std::size_t bytes);
void Winsock1_Error(AppContext& ctx, int number, const std::string& description, int status);

// Operator buttons.
void ResetConnClicked(AppContext& ctx);
void ValidateIpClicked(AppContext& ctx);

}  // namespace kolibra
