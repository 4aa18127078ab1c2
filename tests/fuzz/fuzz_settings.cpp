// Settings files of arbitrary bytes: whatever the file holds, the settings stay in their ranges, and
// what is read writes back to a file that reads the same.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "analysis/settings_file.h"

namespace {

bool ColorsInRange(const orv::AnalysisState& s) {
  for (std::int32_t c : {s.colorBackground, s.colorTextBackground, s.colorFitData, s.colorExpData,
                         s.colorForm, s.colorForm1Back})
    if (c < 0 || c > orv::kMaxColor) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  orv::AnalysisState st;
  std::istringstream in(text);
  orv::ReadSettingsStream(st, in);
  // The entry scale 1.0 lies inside the clamps, so every outcome must.
  if (!(st.screenScale >= 0.64 && st.screenScale <= 1.56)) std::abort();
  if (st.fontSize < 8 || st.fontSize > 14) std::abort();
  if (!ColorsInRange(st)) std::abort();

  std::ostringstream out;
  orv::WriteSettingsStream(st, out);
  orv::AnalysisState back;
  back.screenScale = 0.0;  // must be overwritten by the written scale line
  std::istringstream again(out.str());
  orv::ReadSettingsStream(back, again);
  if (back.settingsTitle != st.settingsTitle) std::abort();
  if (std::fabs(back.screenScale - st.screenScale) > 0.00005) std::abort();
  if (back.fontSize != st.fontSize || back.russianHelp != st.russianHelp) std::abort();
  if (back.colorBackground != st.colorBackground || back.colorTextBackground != st.colorTextBackground ||
      back.colorFitData != st.colorFitData || back.colorExpData != st.colorExpData ||
      back.colorForm != st.colorForm || back.colorForm1Back != st.colorForm1Back)
    std::abort();
  return 0;
}
