// Energy lists of marking by energies, of arbitrary bytes: with and without an energy calibration in
// force, the preset channels stay within their table, finite, positive and sorted.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "analysis/marking_modes.h"
#include "analysis/workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::unique_ptr<orv::Workspace> ws = [] {
    auto w = std::make_unique<orv::Workspace>(".");
    orv::ResetAnalysisState(*w);
    w->calibration.energyItems[1] = {59.54, 100, 0.02};
    w->calibration.energyItems[2] = {1332.49, 3000, 0.1};
    w->state.energyItemCount = 2;
    return w;
  }();
  if (size == 0) return 0;
  // The first byte chooses whether a calibration is in force and in which mode.
  ws->state.energyCalibrated = data[0] & 1;
  ws->state.calibrationMode = (data[0] >> 1) & 1;
  orv::FitLinearEnergyCalibration(ws->state, ws->calibration);
  orv::SilentPort port;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  orv::MarkingInput& m = ws->markingInput;
  const int count = orv::ReadEnergyList(in, m);
  if (count < 0 || count > orv::kMaxPresetPoints) std::abort();
  orv::SetPresetEnergies(*ws, port, count);
  if (m.count < 0 || m.count > count) std::abort();
  for (int i = 1; i <= m.count; ++i) {
    if (!(m.points[i] > 0) || !std::isfinite(m.points[i])) std::abort();
    if (i > 1 && m.points[i] < m.points[i - 1]) std::abort();
  }
  return 0;
}
