#include "analysis/settings_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>

#include "core/numtext.h"

namespace orv {
namespace {

// The colour lines in file order: key fragment recognised on reading, key written after the value.
struct ColorLine {
  const char* fragment;
  const char* key;
  std::int32_t AnalysisState::*field;
};

constexpr ColorLine kColorLines[] = {
    {"*Backg", " *Background color", &AnalysisState::colorBackground},
    {"*Text", " *Text background color", &AnalysisState::colorTextBackground},
    {"*Fit.data", " *Fit.data color", &AnalysisState::colorFitData},
    {"*Exp.data", " *Exp.data color", &AnalysisState::colorExpData},
    {"*Form", " *Form color", &AnalysisState::colorForm},
    {"*Color", " *Color for Form1 back", &AnalysisState::colorForm1Back},
};

// The next line that does not begin with "*", without the carriage returns of a DOS line end.
bool NextDataLine(std::istream& in, std::string& line) {
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] != '*') return true;
  }
  return false;
}

// The number written before the key; nothing when the key is missing or the text is no finite number,
// so that a damaged line keeps the setting instead of planting garbage.
std::optional<double> ValueBefore(const std::string& line, const char* fragment) {
  const auto at = line.find(fragment);
  if (at == std::string::npos) return std::nullopt;
  std::string text = line.substr(0, at);
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  std::replace(text.begin(), text.end(), ',', '.');
  auto v = ParseNumberToken(text);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

// The title goes back unchanged, except what would break the line structure: a title beginning with
// "*" would be skipped as a comment and shift every later setting by one line.
std::string TitleLine(std::string title) {
  std::replace(title.begin(), title.end(), '\n', ' ');
  while (!title.empty() && title.back() == '\r') title.pop_back();
  if (!title.empty() && title[0] == '*') title.insert(title.begin(), ' ');
  return title;
}

}  // namespace

void ReadSettingsStream(AnalysisState& state, std::istream& in) {
  std::string line;
  if (!NextDataLine(in, line)) return;
  state.settingsTitle = line;

  if (!NextDataLine(in, line)) return;
  if (auto v = ValueBefore(line, "*scrsize")) state.screenScale = std::clamp(*v, 0.64, 1.56);

  if (!NextDataLine(in, line)) return;
  if (auto v = ValueBefore(line, "*fntsize")) state.fontSize = RoundHalfEven(std::clamp(*v, 8.0, 14.0));

  if (!NextDataLine(in, line)) return;
  if (auto v = ValueBefore(line, "*RusHelp")) state.russianHelp = std::clamp(*v, 0.0, 1.0) == 1.0;

  for (const ColorLine& c : kColorLines) {
    if (!NextDataLine(in, line)) return;
    auto v = ValueBefore(line, c.fragment);
    if (!v) continue;
    // A value that is no colour at all (negative or above white) is a damaged line, not a colour.
    const int color = RoundHalfEven(*v);
    if (color >= 0 && color <= kMaxColor) state.*c.field = color;
  }
}

bool ReadSettingsFile(AnalysisState& state, const std::string& name) {
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) return false;
  std::ifstream in(name);
  if (!in) return false;
  ReadSettingsStream(state, in);
  return true;
}

void WriteSettingsStream(const AnalysisState& state, std::ostream& out) {
  // Fields widen rather than show asterisks: a data line beginning with "*" would read as a comment.
  out << TitleLine(state.settingsTitle) << '\n';
  out << FormatFixed(state.screenScale, 10, 4) << " *scrsize\n";
  out << FormatInt(state.fontSize, 10) << " *fntsize\n";
  out << std::string(9, ' ') << (state.russianHelp ? '1' : '0') << " *RusHelp\n";
  for (const ColorLine& c : kColorLines) out << FormatInt(state.*c.field, 10) << c.key << '\n';
}

bool WriteSettingsFile(const AnalysisState& state, const std::string& name) {
  std::ofstream out(name, std::ios::trunc);
  if (!out) return false;
  WriteSettingsStream(state, out);
  out.close();
  return !out.fail();
}

}  // namespace orv
