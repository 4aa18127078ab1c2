#include "tests/support/fit_kit.h"

#include <algorithm>
#include <cmath>

#include "analysis/spectrum_fit.h"
#include "core/numtext.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv::testing {

double SyntheticBackground::At(double channel) const {
  const double t = (channel - centre) / halfSpan;
  return level * (1 + slope * t + curvature * t * t);
}

double SyntheticSpectrum::LineCounts(int k, double channel) const {
  const double sigma = fwhm / (2 * std::sqrt(2 * std::log(2.0)));
  const double z = (channel - lines[k].position) / sigma;
  if (std::fabs(z) > 40) return 0;
  return lines[k].area / (sigma * std::sqrt(2 * M_PI)) * std::exp(-0.5 * z * z);
}

double SyntheticSpectrum::Expected(double channel) const {
  double y = background.At(channel);
  for (int k = 0; k < static_cast<int>(lines.size()); ++k) y += LineCounts(k, channel);
  return y;
}

double SyntheticSpectrum::TrueCriterion(int k) const {
  const double centre = lines[k].position;
  const int lo = RoundHalfEven(centre - 1.5 * fwhm), hi = RoundHalfEven(centre + 1.5 * fwhm);
  double signal = 0, rest = 0;
  for (int ch = lo; ch <= hi; ++ch) {
    const double line = LineCounts(k, ch);
    signal += line;
    rest += Expected(ch) - line;
  }
  return signal / std::sqrt(signal + 2 * rest + 1);
}

RandomGenerator SeededGenerator(std::uint32_t tag) {
  RandomGenerator g;
  g.Seed(static_cast<std::int32_t>(1 + 7919 * (tag % 100000)),
         static_cast<std::int32_t>(3 + 104729 * (tag % 10000)));
  return g;
}

void LoadSynthetic(Workspace& ws, const SyntheticSpectrum& synthetic, RandomGenerator* noise) {
  TSpectrum& s = ws.spectrum;
  // What the binary reader stores: counts, their first deviations, the bounds, channel 1 empty.
  StoreRawCounts(
      s, synthetic.channels, [&](int ch) { return synthetic.Expected(ch); }, noise);
  SetInterval(ws.state, s, s.a1, s.a2);
  ClearSpectrumCounters(ws.state);
  // The true width law, constant over the spectrum.
  s.width1 = s.width2 = synthetic.fwhm;
  s.deltaWidth = synthetic.deltaWidth;
  SetWidthLaw(ws.state, s);
  ws.state.covar = 0;
  s.SetErrors(ws.state.covar);
}

MarkedInterval MarkLines(const SyntheticSpectrum& synthetic, int first, int last, double margin,
                         double offset, RandomGenerator& g) {
  MarkedInterval m;
  m.start = RoundHalfEven(synthetic.lines[first].position - margin * synthetic.fwhm);
  m.end = RoundHalfEven(synthetic.lines[last].position + margin * synthetic.fwhm);
  for (int k = first; k <= last; ++k) {
    const double shift = offset != 0 ? offset * (2 * RandomUniform(g) - 1) * synthetic.fwhm : 0.0;
    m.marks.push_back(synthetic.lines[k].position + shift);
  }
  return m;
}

void SetMarking(Workspace& ws, const std::vector<MarkedInterval>& intervals) {
  Marking& m = ws.marking;
  m.peakCount = 0;
  m.intervalCount = 0;
  for (const MarkedInterval& in : intervals) {
    if (m.intervalCount == kMaxMarkedIntervals) break;
    MarkInterval& t = m.intervalTable[++m.intervalCount];
    t.startChannel = in.start;
    t.endChannel = in.end;
    t.firstPeak = m.peakCount + 1;
    for (double p : in.marks) {
      if (m.peakCount == kMaxMarkedPeaks) break;
      m.peakList[++m.peakCount] = p;
    }
    t.lastPeak = m.peakCount;
  }
  m.markingLength = 2 * m.intervalCount + m.peakCount;
  ws.state.markedCount = m.markingLength;
}

IntervalOutcome FitMarkedInterval(Workspace& ws, const MarkedInterval& interval) {
  SetMarking(ws, {interval});
  IntervalOutcome out;
  LoadInterval(ws, 1);
  IntervalFitState& fs = ws.fit;
  // The spectrum fit's working width: the width law at the interval's centre.
  fs.wInt = ws.state.kw0 + ws.state.kw1 * (fs.startChannel + fs.endChannel) / 2.0;
  out.fitted = FitInterval(ws, ws.marking.peakList.data() + fs.firstPeak - 1, 0);
  out.retried = fs.retried;
  out.backgroundDegree = fs.backgroundDegree;
  if (!out.fitted) return out;
  for (int k = 1; k <= fs.n; ++k) out.peaks.push_back(PeakResult(ws, k));
  return out;
}

bool RunSpectrumFit(Workspace& ws, std::vector<std::string>* messages) {
  FakePort port;
  port.fallback = [](DialogRequest&) { return true; };
  const bool ok = SpectrumFit(ws, port, 0, nullptr);
  ws.engine.port = nullptr;  // the port dies here
  if (messages) *messages = port.messages;
  return ok;
}

}  // namespace orv::testing
