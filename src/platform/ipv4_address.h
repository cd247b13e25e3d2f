// The remote address of the ECR as the operator types it: dotted IPv4 only.
#pragma once

#include <cstdint>
#include <string>

namespace kolibra {

// Four decimal parts of one to three digits, each at most 255, separated by
// dots and nothing else. Leading zeros are allowed ("192.168.001.010" is the
// same address as "192.168.1.10"); host names are not resolved. On success
// stores the address in host byte order.
bool ParseIpv4Address(const std::string& text, uint32_t* hostOrder);

}  // namespace kolibra
