// Command files of arbitrary bytes: whatever they say, the bounds stay inside the spectrum arrays, the
// calibration tables within their capacity, and the width law a finite line. IS never reads a spectrum
// here, so a name in the input cannot make the fuzzer open a large file, a device or a pipe.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/command_file.h"
#include "analysis/workspace.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One workspace for the whole run: building one per input would dominate the time.
  static std::unique_ptr<orv::Workspace> ws = [] {
    auto w = std::make_unique<orv::Workspace>(".");
    orv::ResetAnalysisState(*w);
    return w;
  }();
  orv::SilentPort port;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  orv::ReadCommandStream(*ws, port, in, orv::CommandFileOptions{false});

  const orv::TSpectrum& s = ws->spectrum;
  const orv::AnalysisState& st = ws->state;
  Check(s.sp.size() == static_cast<std::size_t>(orv::kSpectrumCapacity + 1));
  Check(1 <= s.a1 && s.a1 <= s.a2 && s.a2 <= orv::kSpectrumCapacity);
  Check(1 <= s.b1 && s.b1 <= s.b2 && s.b2 <= orv::kSpectrumCapacity);
  Check(st.intervalFirst == s.b1 && st.intervalLast == s.b2 && st.intervalLength == s.b2 - s.b1 + 1);
  Check(std::isfinite(st.kw0) && std::isfinite(st.kw1));
  for (int count : {st.energyItemCount, st.efficiencyItemCount})
    Check(0 <= count && count <= orv::kCommandFileCalibrationItems);
  Check(!st.energyCalibrated || st.energyItemCount >= 2);
  Check(!st.efficiencyCalibrated || st.efficiencyItemCount >= 2);
  for (int i = 1; i < st.energyItemCount; ++i)
    Check(ws->calibration.energyItems[i].argument <= ws->calibration.energyItems[i + 1].argument);
  return 0;
}
