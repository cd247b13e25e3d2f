// Checks of an Italian personal fiscal code (16 characters) and of an Italian
// VAT number (11 digits), each with its check character.
#pragma once

#include <string_view>

namespace kolibra {

bool CheckCodiceFiscale(std::string_view text);
bool CheckPartitaIva(std::string_view text);

}  // namespace kolibra
