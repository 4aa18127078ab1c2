// Energy lists of marking by energies, of arbitrary bytes: with and without an energy calibration in
// force, the preset channels stay within their table, finite, positive and sorted.
#include <cmath>
#include <sstream>

#include "analysis/marking_modes.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::unique_ptr<orv::Workspace> ws = [] {
    auto w = orv::NewWorkspace(".");
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
  std::istringstream in(orv::Text(data + 1, size - 1));
  orv::MarkingInput& m = ws->markingInput;
  const int count = orv::ReadEnergyList(in, m);
  orv::Check(count >= 0 && count <= orv::kMaxPresetPoints);
  orv::SetPresetEnergies(*ws, port, count);
  orv::Check(m.count >= 0 && m.count <= count);
  for (int i = 1; i <= m.count; ++i)
    orv::Check(m.points[i] > 0 && std::isfinite(m.points[i]) && (i == 1 || m.points[i] >= m.points[i - 1]));
  return 0;
}
