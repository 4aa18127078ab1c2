#include "spectrum/blunders.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/help_texts.h"

namespace orv {

namespace {

// The deviation of the mean of the two neighbours, which is what replaces a blunder.
double NeighbourMeanDeviation(const TSpectrum& s, int i) {
  return std::sqrt(s.err[i - 1] * s.err[i - 1] + s.err[i + 1] * s.err[i + 1]) / 2.0;
}

// The squared deviation that a sound count passes once in 10^5 channels (the chi-square of one
// degree of freedom at that probability). A lower limit would alter clean spectra: at 10 a spectrum of
// 10^4 channels always has a dozen counts replaced, and their sum with them.
constexpr double kCleanChannelDeviation = 19.51;

// The variance of a count of mean `mean`, by the deviation formula the spectrum's errors follow.
double CountVariance(double mean, double covar) {
  return std::fabs(0.9 * mean + 0.1 * (covar * mean) * (covar * mean)) + 0.1;
}

// Isolated spikes: a point far above both neighbours when the neighbours agree.
int ReplaceIsolatedSpikes(TSpectrum& s, const AnalysisState& st, int first, int last) {
  std::vector<double>& sp = s.sp;
  const std::vector<double>& err = s.err;
  int changed = 0;
  for (int i = first + 1; i <= last - 1; ++i) {
    const double d = std::sqrt(err[i - 1] * err[i - 1] + err[i + 1] * err[i + 1] + 1.0);
    const double t = (sp[i - 1] - sp[i + 1]) / d;
    if (t * t > 3.0 * st.chibc || t >= 3.0) continue;
    const double m = (sp[i - 1] + sp[i + 1]) / d;
    const double r = sp[i] / std::sqrt(err[i] * err[i] + 1.0);
    if (r / std::max(m, 1.0) > st.blunderOrder) {
      s.err[i] = NeighbourMeanDeviation(s, i);
      sp[i] = (sp[i - 1] + sp[i + 1]) / 2.0;
      ++changed;
    }
  }
  return changed;
}

// Points far from a local fit of their neighbourhood; steep narrow peaks and rough neighbourhoods are
// left alone. Channels first+1 and last-1 are judged by their neighbours' mean only, so nothing
// outside first..last is ever read.
BlunderCount ReplaceLocalFitOutliers(TSpectrum& s, const AnalysisState& st, int first, int last) {
  std::vector<double>& sp = s.sp;
  BlunderCount n;
  for (int i = first + 1; i <= last - 1; ++i) {
    const int j = i - first + 1;
    double sum = sp[i - 1] + sp[i + 1];
    const double product = sp[i - 1] * sp[i + 1];
    const double diff = sp[i - 1] - sp[i + 1];
    if (product == 0.0) sum = 2.0 * std::fabs(diff);
    const double c = sp[i];
    if (c != 0.0 && sum < st.smallStatistics) continue;
    const double q = product == 0.0 ? 0.0 : std::fabs(diff) / (std::fabs(sum) + 1.0);
    const bool direct = (q < 0.25 && (c > sum || c < sum / 4.0)) || c == 0.0 || j == 2 || j == last - first;
    // The neighbours' mean: with a zero neighbour `sum` is twice their difference, which suits the
    // tests above but would double the estimate.
    double a = (sp[i - 1] + sp[i + 1]) / 2.0;
    // The counts the judgement rests on, the point among them: their mean is what a sound point and
    // its neighbours share, so it sets the scatter both the point and the estimate have. Taken from
    // the measured point alone (a zero above all) or from the estimate alone (neighbours that are low
    // by chance), the scatter would make ordinary counts look far off.
    double pooled = (c + sp[i - 1] + sp[i + 1]) / 3.0;
    double estimateShare = 0.5;  // variance of the mean of two counts, in units of one count's
    if (!direct) {
      const double h = 2.0 * std::sqrt(std::fabs(sum));
      if (sp[i - 1] - sp[i - 2] > h && c - sp[i - 1] > h && c - sp[i + 1] > h && sp[i + 1] - sp[i + 2] > h)
        continue;
      const double sumA = sum + sp[i - 2];
      const double sumB = diff - 2.0 * sp[i - 2];
      a = (3.0 * sumA + sumB) / 7.0;
      const double b = (3.0 * a - sumA) / 2.0;
      const double r2 = a - 2.0 * b - sp[i - 2];
      const double r1 = a + b - sp[i + 1];
      const double r0 = a - b - sp[i - 1];
      const double chi = s.Weight(i - 2) * r2 * r2 + s.Weight(i + 1) * r1 * r1 + s.Weight(i - 1) * r0 * r0;
      if (chi > st.chibc) continue;
      // The line through i-2, i-1 and i+1 taken at i is (4 sp[i-1] + 2 sp[i+1] + sp[i-2]) / 7.
      pooled = (c + sp[i - 2] + sp[i - 1] + sp[i + 1]) / 4.0;
      estimateShare = 21.0 / 49.0;
    }
    const double dev = (a - c) * (a - c) / ((1.0 + estimateShare) * CountVariance(pooled, st.covar));
    if (dev > std::max(st.blunderOrder, kCleanChannelDeviation)) {
      sp[i] = std::max(0.0, a);
      // The old deviation belonged to the blunder; a dropout's would give the estimate a weight far
      // above its neighbours'.
      s.err[i] = NeighbourMeanDeviation(s, i);
      ++n.changed;
      if (c == 0.0) ++n.zeroReplaced;
    }
  }
  return n;
}

}  // namespace

BlunderCount CorrectBlunders(TSpectrum& s, const AnalysisState& st, int first, int last) {
  first = std::max(first, 1);
  last = std::min(last, kSpectrumCapacity);
  if (last - first < 2) return {};
  const int spikes = ReplaceIsolatedSpikes(s, st, first, last);
  BlunderCount n = ReplaceLocalFitOutliers(s, st, first, last);
  n.changed += spikes;
  return n;
}

bool BlunderCommand(TSpectrum& s, AnalysisState& st, UiPort& port, LineSink* output) {
  DialogRequest r = PrepareDialog("Correcting for blunders", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kBlunders, st.russianHelp);
  ShowLabel(r, 1, 20, 10, "Check chibc and order");
  ShowParameterGrid(r, 20, 40, 2, 10, 1, {" Chibc= ", " Order= "}, {{st.chibc}, {st.blunderOrder}},
                    {120, 100});
  if (!port.ShowDialog(r)) return false;
  // Each read sets the acceptance afresh, so each is judged on its own.
  int chibcAccepted = 1, orderAccepted = 1;
  const double chibc = ReadGridValue(r, 0, 0, chibcAccepted);
  const double order = ReadGridValue(r, 1, 0, orderAccepted);
  if (chibcAccepted == 0 || orderAccepted == 0) return false;
  // A negative limit would mark every channel as a blunder and flatten the spectrum beyond undoing.
  if (chibc < 0.0 || order < 0.0) {
    port.ShowMessage("Error, Chibc and Order must not be negative");
    return false;
  }
  st.chibc = chibc;
  st.blunderOrder = order;
  const BlunderCount n = CorrectBlunders(s, st, s.a1, s.a2);
  s.FindExtremes();
  st.reportLines[0] = std::to_string(n.changed) + " blunders corrected";
  st.reportLines[1].clear();
  if (output) output->WriteLine(st.reportLines[0]);
  return true;
}

}  // namespace orv
