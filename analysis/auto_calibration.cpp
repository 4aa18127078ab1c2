#include "analysis/auto_calibration.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <sstream>
#include <string_view>

#include "analysis/workspace.h"
#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numeric.h"
#include "core/numtext.h"

namespace orv::embedded {
extern const char reference_lines_ra226[];
extern const std::size_t reference_lines_ra226_size;
extern const char reference_lines_eu152[];
extern const std::size_t reference_lines_eu152_size;
}  // namespace orv::embedded

namespace orv {

namespace {

// The first number of every data line is a line energy; the rest of the line is commentary.
ReferenceSample ParseSample(std::string name, std::string_view text) {
  ReferenceSample s;
  s.name = std::move(name);
  std::istringstream in{std::string(text)};
  std::string line;
  std::vector<double> numbers;
  std::size_t count = 0;
  while (count < s.energies.size() && std::getline(in, line)) {
    const FreeFieldLine kind = ClassifyFreeFieldLine(line);
    if (kind == FreeFieldLine::kEndOfBlock) break;
    if (kind == FreeFieldLine::kSkip || ParseNumberList(line, numbers) == 0) continue;
    s.energies[count++] = numbers[0];
  }
  return s;
}

// The largest number of masks any k gives for m items: C(m, m/2).
std::size_t LargestMaskCount(int m) {
  std::size_t c = 1;
  for (int i = 1; i <= m / 2; ++i)
    c = c * static_cast<std::size_t>(m - m / 2 + i) / static_cast<std::size_t>(i);
  return c;
}

std::size_t Binomial(int m, int k) {
  if (k < 0 || k > m) return 0;
  std::size_t c = 1;
  for (int i = 1; i <= k; ++i) c = c * static_cast<std::size_t>(m - k + i) / static_cast<std::size_t>(i);
  return c;
}

std::string TooManyItems(int count) {
  return std::to_string(count) + "-too large number of items. Job stopped";
}

// What the line fit needs of one peak subset; it depends on the channels only, so it is worked out
// once per peak mask and serves every reference mask. The arithmetic is FitLine's, step for step, so
// the search ranks pairings by exactly the chi-square FitLine reports.
struct PeakSubset {
  double x0 = 0;
  double inv00 = 0, inv01 = 0, inv10 = 0, inv11 = 0;  // inverse of the lifted normal matrix
  double determinant = 0;
  bool ok = false;
};

PeakSubset PreparePeakSubset(unsigned mask, const double* channels, int k, double w, double* dx) {
  PeakSubset s;
  double sx = 0;
  for (unsigned m = mask; m != 0; m &= m - 1) sx += channels[std::countr_zero(m)];
  s.x0 = sx / std::max(1, k);
  double s11 = 0, s12 = 0, s22 = 0;
  int j = 0;
  for (unsigned m = mask; m != 0; m &= m - 1, ++j) {
    const double d = channels[std::countr_zero(m)] - s.x0;
    dx[j] = d;
    s11 += w * d * d;
    s12 += w * d;
    s22 += w;
  }
  // The matrix {{s11·L, s12, 0}, {s12, s22·L, 0}, {0, 0, 1}} inverted by cofactors.
  const double m00 = s11 * 1.00000001, m11 = s22 * 1.00000001;
  s.determinant = m00 * m11 + s12 * -s12 + 0.0 * 0.0;
  if (s.determinant == 0 || !std::isfinite(s.determinant)) return s;
  s.ok = true;
  s.inv00 = m11 / s.determinant;
  s.inv01 = -s12 / s.determinant;
  s.inv10 = -s12 / s.determinant;
  s.inv11 = m00 / s.determinant;
  return s;
}

}  // namespace

const std::vector<ReferenceSample>& ReferenceSamples() {
  static const std::vector<ReferenceSample> samples = {
      ParseSample("Ra-226", {embedded::reference_lines_ra226, embedded::reference_lines_ra226_size}),
      ParseSample("Eu-152", {embedded::reference_lines_eu152, embedded::reference_lines_eu152_size}),
  };
  return samples;
}

int EnumerateSubsets(int m, int k, int printMode, std::vector<double>& masks, LineSink* sink) {
  masks.clear();
  if (m < 0 || m > kMaxSubsetItems) return -1;
  auto write = [sink](const std::string& line) {
    if (sink) sink->WriteLine(line);
  };
  const unsigned last = (1u << m) - 1;
  for (unsigned mask = 1; mask <= last; ++mask) {
    if (std::popcount(mask) != k) continue;
    masks.push_back(mask);
    if (printMode == 1) {
      std::string pattern;
      for (int bit = m - 1; bit >= 0; --bit) pattern += (mask >> bit & 1u) ? '1' : '0';
      write(FormatInt(mask, 10) + std::string(std::max(0, 15 - m), ' ') + pattern);
    }
  }
  const int count = static_cast<int>(masks.size());
  if (printMode == 1 || printMode == 2)
    write(FormatInt(count, 5) + " of " + std::to_string(k) + "-" + std::to_string(m) + " pattern[s] out" +
          " of " + std::to_string(last) + " possible");
  return count;
}

AutoCalibrationOutcome AutoCalibrate(std::span<const double> channels, std::span<const double> energies,
                                     double pairError, AutoCalibration& best, UiPort& port, LineSink* sink) {
  best = AutoCalibration{};
  best.pairError = pairError;
  const int n = static_cast<int>(channels.size()), r = static_cast<int>(energies.size());
  if (r > kMaxSubsetItems || n > kMaxSubsetItems) {
    port.ShowMessage(TooManyItems(r > kMaxSubsetItems ? r : n));
    return AutoCalibrationOutcome::kTooManyItems;
  }
  best.referenceCount = r;
  std::copy(energies.begin(), energies.end(), best.referenceEnergies.begin());
  if (r < 3 || n < 3) return AutoCalibrationOutcome::kNoPairing;

  // Every buffer at its largest size before the loops; the enumerations refill within capacity.
  const int top = std::min(r, n);
  std::size_t dxSize = 0;
  for (int k = 3; k <= top; ++k) dxSize = std::max(dxSize, Binomial(n, k) * static_cast<std::size_t>(k));
  std::vector<double> referenceMasks, peakMasks, dx(dxSize);
  referenceMasks.reserve(LargestMaskCount(r));
  peakMasks.reserve(LargestMaskCount(n));
  std::vector<PeakSubset> subsets(LargestMaskCount(n));

  const double w = pairError != 0 ? 1 / (pairError * pairError) : 0.0;
  bool singularReported = false;
  std::array<double, kMaxSubsetItems> y{};
  for (int k = top; k >= 3; --k) {
    port.ShowProgress("Auto-calibration", top - k, top - 2);  // larger k first, fewer pairings each
    const int rc = EnumerateSubsets(r, k, 0, referenceMasks, nullptr);
    const int pc = EnumerateSubsets(n, k, 0, peakMasks, nullptr);
    for (int p = 0; p < pc; ++p)
      subsets[p] = PreparePeakSubset(static_cast<unsigned>(peakMasks[p]), channels.data(), k, w, &dx[p * k]);
    const double df = std::max(k - 2, 1);
    for (int a = 0; a < rc; ++a) {
      const auto referenceMask = static_cast<unsigned>(referenceMasks[a]);
      int j = 0;
      for (unsigned m = referenceMask; m != 0; m &= m - 1) y[j++] = energies[std::countr_zero(m)];
      for (int p = 0; p < pc; ++p) {
        const PeakSubset& s = subsets[p];
        if (!s.ok) {
          if (!singularReported && sink)
            sink->WriteLine("not ok  det= " + FormatNumber(12, 4, s.determinant));
          singularReported = true;
          continue;
        }
        const double* d = &dx[p * k];
        double b1 = 0, b2 = 0;
        for (int i = 0; i < k; ++i) {
          b1 += w * d[i] * y[i];
          b2 += w * y[i];
        }
        const double p0 = 0.9999999 * (s.inv00 * b1 + s.inv01 * b2);
        const double p1 = 0.9999999 * (s.inv10 * b1 + s.inv11 * b2);
        double total = 0;
        for (int i = 0; i < k; ++i) {
          const double e = y[i] - (p0 * d[i] + p1);
          total += w * e * e;
        }
        const double chi = total / df;
        if (!(chi < best.criterion)) continue;
        best.criterion = chi;
        best.referenceMask = static_cast<int>(referenceMask);
        best.peakMask = static_cast<int>(peakMasks[p]);
        best.size = k;
        best.p0 = p0;
        best.p1 = p1;
        best.x0 = s.x0;
        best.s0 = std::sqrt(std::fabs(s.inv00));
        best.s1 = std::sqrt(std::fabs(s.inv11));
        std::copy(y.begin(), y.begin() + k, best.energies.begin());
      }
    }
  }
  port.ShowProgress("Auto-calibration", top - 2, top - 2);
  // The channels of the best pairing, in marking order.
  int j = 0;
  for (unsigned m = static_cast<unsigned>(best.peakMask); m != 0; m &= m - 1)
    best.channels[j++] = channels[std::countr_zero(m)];
  return best.found() ? AutoCalibrationOutcome::kFound : AutoCalibrationOutcome::kNoPairing;
}

double CalibrationAccuracy(const AutoCalibration& best) {
  if (!best.found()) return 0;
  double mean = 0;
  for (int i = 0; i < best.size; ++i) mean += best.energies[i];
  mean /= best.size;
  // chi-square per degree of freedom times the squared pair error is the residual variance in keV^2.
  const double rms = std::fabs(best.pairError) * std::sqrt(std::max(best.criterion, 0.0));
  return mean != 0 ? 100 * rms / std::fabs(mean) : 0;
}

bool WriteAutoCalibration(const AutoCalibration& best, LineSink* sink) {
  if (!best.found() || !sink) return true;
  const double intercept = best.p1 - best.p0 * best.x0;
  const double interceptError = std::sqrt(std::pow(best.s0 * best.x0, 2) + best.s1 * best.s1);
  bool ok = sink->WriteLine("Short calibr pars " + FormatFixed(best.p0, 9, 5) + FormatFixed(intercept, 9, 2));
  ok = sink->WriteLine("Their errors      " + FormatFixed(best.s0, 9, 4) +
                       FormatFixed(interceptError, 9, 2)) &&
       ok;
  ok = sink->WriteLine("Calibration accuracy " + FormatFixed(CalibrationAccuracy(best), 7, 2) + " %") && ok;
  ok = sink->WriteLine(" Auto-calibr") && ok;
  std::array<LinePoint, kMaxSubsetItems + 1> points{};
  for (int i = 0; i < best.size; ++i) points[i + 1] = {best.energies[i], best.channels[i], best.pairError, 0};
  FitLine(points.data(), best.size, 1, sink);
  return sink->WriteLine("") && ok;
}

bool PutAutoCalibrationInForce(const AutoCalibration& best, AnalysisState& state, CalibrationTables& cal) {
  if (!best.found() || best.size < 2) return false;
  for (int i = 0; i < best.size; ++i)
    cal.energyItems[i + 1] = CalibrationItem{best.energies[i], best.channels[i], best.pairError};
  SortCalibrationItems(cal.energyItems, best.size);
  state.energyItemCount = best.size;
  state.calibrationMode = 1;
  FitLinearEnergyCalibration(state, cal);
  state.energyCalibrated = true;
  return true;
}

bool AutoCalibrationCommand(Workspace& ws, UiPort& port, const std::function<bool()>& showCalibrationGraph) {
  const std::vector<ReferenceSample>& samples = ReferenceSamples();
  std::vector<std::string> names;
  for (const ReferenceSample& s : samples) names.push_back(s.name);
  DialogRequest r = PrepareDialog("Auto-calibration", 100, 330, 300);
  r.helpLines = HelpText(HelpId::kAutoCalibration, ws.state.russianHelp);
  ShowLabel(r, 1, 20, 30, "Select the reference sample:");
  ShowRadioGroup(r, 1, 1, 20, 90, 200, 55, names, 1);
  if (!port.ShowDialog(r)) return false;
  const int chosen = r.radio1 ? std::clamp(r.radio1->chosen, 1, static_cast<int>(samples.size())) : 1;
  const ReferenceSample& sample = samples[chosen - 1];

  const int n = std::clamp(ws.marking.peakCount, 0, kMaxMarkedPeaks);
  LineSink* sink = ws.output.isOpen() ? &ws.output : nullptr;
  AutoCalibration& best = ws.autoCalibration;
  const AutoCalibrationOutcome outcome =
      AutoCalibrate({ws.marking.peakList.data() + 1, static_cast<std::size_t>(n)}, sample.energies,
                    kAutoCalibrationPairError, best, port, sink);
  best.sample = sample.name;
  std::string& report = ws.state.reportLines[0];
  if (outcome == AutoCalibrationOutcome::kTooManyItems) {
    report = " Auto-calibration stopped: too many peaks";
    return false;
  }
  if (outcome == AutoCalibrationOutcome::kNoPairing) {
    report = n < 3 ? " Auto-calibration: " + std::to_string(n) + " peaks marked, 3 at least needed"
                   : " Auto-calibration: no pairing could be fitted";
    port.ShowMessage(report.substr(1) + ". Nothing written.");
    return false;
  }
  report = " Auto-calibration done: " + std::to_string(best.size) + " of " +
           std::to_string(kReferenceLineCount) + " " + sample.name + " lines matched";
  if (showCalibrationGraph && showCalibrationGraph() && sink && !WriteAutoCalibration(best, sink))
    port.ShowMessage(ws.output.lastError());
  return true;
}

}  // namespace orv
