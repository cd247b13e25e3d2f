// Text parameters of ECR command lines built by the record handlers.
#pragma once

#include <string>
#include <string_view>

#include "conversion/text_util.h"

namespace kolibra {

// A text parameter: the text between double quotes. A double quote inside the
// text would end the parameter early and send the rest to the ECR as
// commands, so it is sent as an apostrophe. A control byte would reach the
// link as one, so it is sent as a blank.
inline std::string QuoteText(std::string_view text) {
  std::string r;
  r.reserve(text.size() + 2);
  r.push_back('"');
  for (const char c : text) {
    if (c == '"') {
      r.push_back('\'');
    } else if (IsControlByte(c)) {
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
