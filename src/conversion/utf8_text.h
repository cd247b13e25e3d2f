// Command files written in UTF-8: their text in the 8-bit code page
// (Windows-1252) that the conversion works in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kolibra {

// The Windows-1252 text of `bytes` when they are valid UTF-8 holding at least
// one character beyond ASCII; nullopt for any other text (pure ASCII, or an
// 8-bit file that is not valid UTF-8), which is already code-page text.
// A leading byte-order mark is dropped. A character with no code-page form
// becomes its plain letter where it is a Latin letter with a diacritic (a
// combining mark after a letter makes the accented letter where the code page
// has one, else it is dropped), otherwise "?".
std::optional<std::string> Utf8ToCp1252(std::string_view bytes);

}  // namespace kolibra
