// Small text and file helpers of job control: the size limit of settings
// files and the items of a settings file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kolibra {

// Settings files are tiny; a longer file is not one.
constexpr std::size_t kSettingsReadLimit = 4096;

// Splits text into items the way the settings files are read: an item ends at
// a line end or a comma, surrounding blanks are dropped, and a double-quoted
// item is taken without its quotes.
std::vector<std::string> ReadItems(std::string_view text);

}  // namespace kolibra
