#include "core/file_util.h"

namespace kolibra {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<std::string> ReadItems(std::string_view text) {
  std::vector<std::string> items;
  std::size_t i = 0;
  const std::size_t n = text.size();
  // Ends the current item at a comma or a line end (CR LF counts once).
  auto skipDelimiter = [&] {
    if (i >= n) return;
    if (text[i] == ',' || text[i] == '\n') {
      ++i;
    } else if (text[i] == '\r') {
      ++i;
      if (i < n && text[i] == '\n') ++i;
    }
  };
  while (i < n) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;
    if (text[i] == '"') {
      const std::size_t start = ++i;
      while (i < n && text[i] != '"') ++i;
      items.emplace_back(text.substr(start, i - start));
      if (i < n) ++i;  // closing quote
      // Anything between the closing quote and the delimiter is dropped.
      while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') ++i;
    } else {
      const std::size_t start = i;
      while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') ++i;
      items.emplace_back(Trim(text.substr(start, i - start)));
    }
    skipDelimiter();
  }
  return items;
}

}  // namespace kolibra
