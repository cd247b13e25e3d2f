// Field extractor shared by the conversion driver and the record handlers.
#include <cstddef>

#include "conversion/conversion_state.h"
#include "conversion/text_util.h"

namespace kolibra {

bool GetField(bool atStart, std::string& value, std::string_view line, std::string_view key) {
  const std::size_t pos = FindNoCase(line, key);
  if (pos == std::string_view::npos) return false;
  if (atStart && pos != 0) return false;

  value.clear();
  std::size_t from;
  if (key == "DISP" || key == "PRNT" || key == "CLER") {
    // The value of these records starts after a six-character prefix such as
    // "PRNT,:", wherever the key itself was found.
    from = 6;
  } else if (key == ",S" || key == ",R") {
    // The value of a modifier or return flag starts with its own letter.
    from = pos + 1;
  } else {
    from = pos + key.size();
  }
  for (std::size_t i = from; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ';' || c == ',') break;
    value.push_back(c);
  }
  return true;
}

}  // namespace kolibra
