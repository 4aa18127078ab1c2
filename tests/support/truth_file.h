// The truth file of a built-in test spectrum (data/test_spectra/NAME.truth): one line per generated
// line, '*' lines are comments.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orv::testing {

struct TruthLine {
  double channel = 0, area = 0, fwhm = 0, energy = 0, gauss = 0, under = 0;
  std::string kind;
};

inline std::vector<TruthLine> ReadTruth(const std::string& name) {
  std::ifstream in(std::string(ORVANT_SOURCE_DIR) + "/data/test_spectra/" + name + ".truth");
  std::vector<TruthLine> lines;
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty() || text[0] == '*') continue;
    std::istringstream fields(text);
    TruthLine t;
    if (fields >> t.channel >> t.area >> t.fwhm >> t.energy >> t.gauss >> t.under >> t.kind)
      lines.push_back(t);
  }
  return lines;
}

}  // namespace orv::testing
