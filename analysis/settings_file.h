// The settings file "orvant.fn": window scale, font size, help language and the colour table, carried
// from one run to the next. Ten lines, each value right-aligned in 10 characters and followed by its key.
#pragma once

#include <iosfwd>
#include <string>

#include "core/state.h"

namespace orv {

// Largest colour value: red + 256 * green + 65536 * blue with every component at 255.
inline constexpr std::int32_t kMaxColor = 0xFFFFFF;

// Reads the ten settings in turn, each from the next line that does not begin with "*". A line without
// its key, or whose text before the key is not a number, keeps the setting and is used up all the same.
// Out-of-range values are clamped; a colour outside 0..kMaxColor keeps the old colour.
void ReadSettingsStream(AnalysisState& state, std::istream& in);
// False, without a message, when the file cannot be opened.
bool ReadSettingsFile(AnalysisState& state, const std::string& name);

void WriteSettingsStream(const AnalysisState& state, std::ostream& out);
// False, without a message, when the file cannot be created or written.
bool WriteSettingsFile(const AnalysisState& state, const std::string& name);

}  // namespace orv
