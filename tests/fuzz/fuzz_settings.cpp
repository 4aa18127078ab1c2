// Settings files of arbitrary bytes: whatever the file holds, the settings stay in their ranges, and
// what is read writes back to a file that reads the same.
#include <cmath>
#include <sstream>
#include <vector>

#include "analysis/settings_file.h"
#include "fuzz_common.h"

namespace {

std::vector<std::int32_t> Colors(const orv::AnalysisState& s) {
  return {s.colorBackground, s.colorTextBackground, s.colorFitData,
          s.colorExpData,    s.colorForm,           s.colorForm1Back};
}

bool ColorsInRange(const orv::AnalysisState& s) {
  for (std::int32_t c : Colors(s))
    if (c < 0 || c > orv::kMaxColor) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orv::AnalysisState st;
  std::istringstream in(orv::Text(data, size));
  orv::ReadSettingsStream(st, in);
  // The entry scale 1.0 lies inside the clamps, so every outcome must.
  orv::Check(st.screenScale >= 0.64 && st.screenScale <= 1.56 && st.fontSize >= 8 && st.fontSize <= 14);
  orv::Check(ColorsInRange(st));

  std::ostringstream out;
  orv::WriteSettingsStream(st, out);
  orv::AnalysisState back;
  back.screenScale = 0.0;  // must be overwritten by the written scale line
  std::istringstream again(out.str());
  orv::ReadSettingsStream(back, again);
  orv::Check(back.settingsTitle == st.settingsTitle &&
             std::fabs(back.screenScale - st.screenScale) <= 0.00005);
  orv::Check(back.fontSize == st.fontSize && back.russianHelp == st.russianHelp);
  orv::Check(Colors(back) == Colors(st));
  return 0;
}
