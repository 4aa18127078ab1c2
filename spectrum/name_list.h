// The spectrum name list: the series of spectrum files a fit loop or "Assign the Spectrum Name" works
// through; saving a spectrum's results removes its name.
#pragma once

#include <string>
#include <vector>

namespace orv {

inline constexpr int kNameListCapacity = 1000;

struct SpectrumNameList {
  // 1-based: names[1..nameCount] are in use (the count lives in the analysis state).
  std::vector<std::string> names = std::vector<std::string>(kNameListCapacity + 1);
};

}  // namespace orv
