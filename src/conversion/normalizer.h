// Record line normalizer: rewrites one command-file record so that the record
// handlers see an upper-case keyword, numbers in one canonical form and texts
// that the ECR can print.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolibra {

// Width the conversion passes for printable texts.
inline constexpr int16_t kRecordTextWidth = 30;

// Normalizes one record line; texts are cut to `width` characters after their
// colon. An empty line gives an empty result; any other result ends with ";"
// somewhere. Pure: no state, no side effects.
std::string NormalizeRecordLine(std::string_view line, int16_t width);

// True when a data field of the record line (split at every "," as the
// normalizer splits it; text fields, those holding ":", never count) has one
// of `keys` (ASCII, any letter case) as its key and a negative value: after
// blanks, "-" and a number with a digit other than 0 ("V-5", "P -0.5", but
// not "V-0" or "V-x"). The digit clean-up would drop that sign.
bool HasNegativeField(std::string_view line, std::string_view keys);

// Canonical decimal text of the longest leading decimal number of `value`
// ("," read as "."): "." separator, no exponent, at most 15 significant
// digits, no trailing fraction zeros, "0" before a bare fraction; an
// unreadable value gives "0".
std::string NumberNormalForm(std::string_view value);

// Upper case of one Windows-1252 byte: ASCII letters and the accented letters
// 224-254 (but 247, the division sign). Bytes 128-159 are left alone so that
// the replacement table meets them as they are.
char UpperCp1252(char c);

}  // namespace kolibra
