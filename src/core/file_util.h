// Small text and file helpers of job control: bounded reads of settings
// files, whole-file writes, and locale-free number reading and writing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolibra {

// Settings files are tiny; anything past this many bytes is ignored.
constexpr std::size_t kSettingsReadLimit = 4096;

// The first `limit` bytes of a file; nullopt when it cannot be opened.
std::optional<std::string> ReadFileHead(const std::string& path,
                                        std::size_t limit = kSettingsReadLimit);

// Creates or truncates the file and writes `content` in binary; false on failure.
bool WriteWholeFile(const std::string& path, std::string_view content);
// Appends `content` in binary, creating the file when missing.
bool AppendToFile(const std::string& path, std::string_view content);

// Splits text into items the way the settings files are read: an item ends at
// a line end or a comma, surrounding blanks are dropped, and a double-quoted
// item is taken without its quotes.
std::vector<std::string> ReadItems(std::string_view text);

// The leading decimal number of text (blanks skipped, digits with an optional
// point, up to the first other character). `written` receives the characters
// of that number as they appear. No number gives 0 and an empty `written`.
double LeadingNumber(std::string_view text, std::string* written = nullptr);

// True when the whole text (after trimming blanks) is a decimal number such as
// "1", "-2", "0.5"; the value goes to `value`.
bool ParseWholeNumber(std::string_view text, double& value);

// Shortest decimal text of a value, always with "." as the separator and never
// in exponent form ("2", "1.5", "0.25").
std::string FormatDecimal(double value);

}  // namespace kolibra
