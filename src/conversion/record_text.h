// Text parameters of ECR command lines built by the record handlers.
#pragma once

#include <string>
#include <string_view>

namespace kolibra {

// A text parameter: the text between double quotes. A double quote inside the
// text would end the parameter early and send the rest to the ECR as
// commands, so it is sent as an apostrophe. A control byte (below 0x20, or
// DEL) would reach the link as STX, ETX, XON, XOFF and the like, so it is sent
// as a blank. Bytes from 0x80 up are code-page letters and pass unchanged.
inline std::string QuoteText(std::string_view text) {
  std::string r;
  r.reserve(text.size() + 2);
  r.push_back('"');
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"') {
      r.push_back('\'');
    } else if (u < 0x20 || u == 0x7f) {
      r.push_back(' ');
    } else {
      r.push_back(c);
    }
  }
  r.push_back('"');
  return r;
}

// A printed text line: the quoted text followed by "@".
inline std::string TextLine(std::string_view text) { return QuoteText(text) + "@"; }

}  // namespace kolibra
