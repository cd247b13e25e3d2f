#include "platform/ipv4_address.h"

namespace kolibra {

bool ParseIpv4Address(const std::string& text, uint32_t* hostOrder) {
  uint32_t value = 0;
  std::size_t i = 0;
  for (int parts = 0; parts < 4; ++parts) {
    if (parts > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    const std::size_t start = i;
    unsigned part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      part = part * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
    }
    if (i == start || part > 255) return false;
    value = (value << 8) | part;
  }
  if (i != text.size()) return false;
  *hostOrder = value;
  return true;
}

}  // namespace kolibra
