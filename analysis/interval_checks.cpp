#include "analysis/interval_checks.h"

#include <algorithm>
#include <string>

#include "analysis/workspace.h"

namespace orv {

std::string IntervalName(const MarkInterval& m) {
  return std::to_string(m.startChannel) + " " + std::to_string(m.endChannel);
}

bool CheckIntervalForFit(const Workspace& ws, const MarkInterval& m, UiPort& port) {
  const TSpectrum& s = ws.spectrum;
  const int first = std::max(s.a1, 1), last = std::min(s.a2, kSpectrumCapacity);
  if (m.startChannel < first || m.endChannel > last || m.startChannel > m.endChannel) {
    port.ShowMessage("Error, interval " + IntervalName(m) + " outside the spectrum " + std::to_string(first) +
                     " " + std::to_string(last));
    return false;
  }
  const int peaks = PeaksInInterval(m);
  const int fitted = std::clamp(peaks, 0, kMaxPeaks);
  // Each peak has an amplitude and a position, the interval a width and at least a constant
  // background: fewer channels than that, and one more to judge the fit by, determine nothing.
  const long long channels = static_cast<long long>(m.endChannel) - m.startChannel + 1;
  if (fitted > 0 && channels < 2LL * fitted + 3) {
    port.ShowMessage("Error, interval " + IntervalName(m) + " has " + std::to_string(channels) +
                     " channel(s) for " + std::to_string(fitted) + " peak(s)");
    return false;
  }
  if (peaks > kMaxPeaks)
    port.ShowMessage("Warning, interval " + IntervalName(m) + " holds " + std::to_string(peaks) +
                     " peaks; only the first " + std::to_string(kMaxPeaks) + " are fitted");
  return true;
}

bool CheckMarkingBounds(const Marking& marking, UiPort& port) {
  for (int i = 1; i <= std::min(marking.intervalCount, kMaxMarkedIntervals); ++i) {
    const MarkInterval& m = marking.intervalTable[i];
    if (m.startChannel < 1 || m.endChannel > kSpectrumCapacity || m.startChannel > m.endChannel) {
      port.ShowMessage("Error, interval " + IntervalName(m) + " outside the channels 1 " +
                       std::to_string(kSpectrumCapacity));
      return false;
    }
  }
  return true;
}

void NoteBackgroundDegree(Workspace& ws) {
  ws.state.usedBackgroundDegree = std::max(ws.state.usedBackgroundDegree, ws.fit.backgroundDegree);
}

}  // namespace orv
