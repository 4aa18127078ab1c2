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

// One trial: which candidate each line took (-1: none) and the line fitted to the pairs.
struct Match {
  std::array<int, kMaxSubsetItems> peakOf{};
  int count = 0;
  unsigned lineMask = 0, peakMask = 0;
  double slope = 0, offset = 0, deviation = 0;  // deviation: mean square in FWHM per degree of freedom
};

// Each line (ascending) takes the candidate (ascending channels) nearest to the channel the trial
// line puts it at, when that lies within the window and no earlier line took it.
void MatchLines(const double* channel, const double* width, int n, const double* energy, int r, double slope,
                double offset, Match& m) {
  m.count = 0;
  m.lineMask = m.peakMask = 0;
  for (int i = 0; i < r; ++i) {
    m.peakOf[i] = -1;
    const double x = (energy[i] - offset) / slope;
    const int above = static_cast<int>(std::lower_bound(channel, channel + n, x) - channel);
    int q = above;
    if (q == n || (q > 0 && x - channel[q - 1] < channel[q] - x)) q = above - 1;
    if (std::fabs(channel[q] - x) > kMatchWindow * width[q] || (m.peakMask >> q & 1u)) continue;
    m.peakOf[i] = q;
    m.peakMask |= 1u << q;
    m.lineMask |= 1u << i;
    ++m.count;
  }
}

// Straight line energy = slope * channel + offset through the matched pairs, weighted by 1/FWHM^2, and
// the deviation of the pairs from it. False when it is degenerate or not rising.
bool FitMatch(const double* channel, const double* width, const double* energy, int r, Match& m) {
  double sw = 0, sx = 0, sy = 0;
  for (int i = 0; i < r; ++i) {
    if (m.peakOf[i] < 0) continue;
    const double w = 1 / (width[m.peakOf[i]] * width[m.peakOf[i]]);
    sw += w;
    sx += w * channel[m.peakOf[i]];
    sy += w * energy[i];
  }
  const double mx = sx / sw, my = sy / sw;
  double sxx = 0, sxy = 0;
  for (int i = 0; i < r; ++i) {
    if (m.peakOf[i] < 0) continue;
    const double w = 1 / (width[m.peakOf[i]] * width[m.peakOf[i]]);
    const double dx = channel[m.peakOf[i]] - mx;
    sxx += w * dx * dx;
    sxy += w * dx * (energy[i] - my);
  }
  if (!(sxx > 0)) return false;
  const double slope = sxy / sxx;
  if (!(slope > 0) || !std::isfinite(slope)) return false;
  m.slope = slope;
  m.offset = my - slope * mx;
  double total = 0;
  for (int i = 0; i < r; ++i) {
    if (m.peakOf[i] < 0) continue;
    const int q = m.peakOf[i];
    const double d = (slope * channel[q] + m.offset - energy[i]) / (slope * width[q]);
    total += d * d;
  }
  m.deviation = total / std::max(m.count - 2, 1);
  return true;
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

int RequiredMatches(int referenceCount) {
  return std::max(3, (referenceCount + 1) / 2);
}

AutoCalibrationOutcome AutoCalibrate(std::span<const CalibrationPeak> peaks, std::span<const double> energies,
                                     AutoCalibration& best, UiPort& port) {
  best = AutoCalibration{};
  const int r = std::min(static_cast<int>(energies.size()), kMaxSubsetItems);
  best.referenceCount = r;
  std::copy(energies.begin(), energies.begin() + r, best.referenceEnergies.begin());
  std::array<double, kMaxSubsetItems> energy{};
  std::copy(energies.begin(), energies.begin() + r, energy.begin());
  std::sort(energy.begin(), energy.begin() + r);

  // The strongest candidates with a usable position and width, in channel order.
  std::array<CalibrationPeak, kMaxCalibrationPeaks> taken{};
  int n = 0;
  for (const CalibrationPeak& p : peaks) {
    if (n == kMaxCalibrationPeaks) break;
    if (std::isfinite(p.channel) && p.width > 0 && std::isfinite(p.width)) taken[n++] = p;
  }
  std::sort(taken.begin(), taken.begin() + n,
            [](const CalibrationPeak& a, const CalibrationPeak& b) { return a.channel < b.channel; });
  std::array<double, kMaxCalibrationPeaks> channel{}, width{};
  for (int q = 0; q < n; ++q) channel[q] = taken[q].channel, width[q] = taken[q].width;
  const int required = RequiredMatches(r);
  if (n < required || r < required) return AutoCalibrationOutcome::kTooFewPeaks;

  Match trial, previous, winner;
  winner.count = 0;
  const int pairs = r * (r - 1) / 2;
  int pairsDone = 0;
  for (int i = 0; i < r; ++i) {
    for (int j = i + 1; j < r; ++j, ++pairsDone) {
      port.ShowProgress("Auto-calibration", pairsDone, pairs);
      for (int a = 0; a < n; ++a) {
        for (int b = a + 1; b < n; ++b) {
          if (!(channel[b] > channel[a])) continue;
          double slope = (energy[j] - energy[i]) / (channel[b] - channel[a]);
          if (!(slope > 0)) continue;
          double offset = energy[i] - slope * channel[a];
          // Match, fit, match again with the fitted line until the pairs no longer change.
          bool settled = false;
          previous.lineMask = previous.peakMask = 0;
          for (int pass = 0; pass < 4 && !settled; ++pass) {
            MatchLines(channel.data(), width.data(), n, energy.data(), r, slope, offset, trial);
            if (trial.count < 3 || !FitMatch(channel.data(), width.data(), energy.data(), r, trial)) break;
            settled = trial.lineMask == previous.lineMask && trial.peakMask == previous.peakMask;
            previous = trial;
            slope = trial.slope;
            offset = trial.offset;
          }
          if (!settled || trial.deviation > kConsistentScatter * kConsistentScatter) continue;
          if (std::fabs(trial.offset) > kZeroOffsetShare * trial.slope * channel[n - 1]) continue;
          if (trial.count > winner.count ||
              (trial.count == winner.count && trial.deviation < winner.deviation))
            winner = trial;
        }
      }
    }
  }
  port.ShowProgress("Auto-calibration", pairs, pairs);
  if (winner.count < required) return AutoCalibrationOutcome::kNoConsistentMatch;

  // The final line: FitLine's weighted fit with each pair's FWHM in keV scaled by the scatter found, so
  // that its errors are those the scatter of the pairs gives.
  const double scatter = std::max(std::sqrt(winner.deviation), kLeastScatter);
  std::array<LinePoint, kMaxSubsetItems + 1> points{};
  int k = 0;
  for (int i = 0; i < r; ++i) {
    const int q = winner.peakOf[i];
    if (q < 0) continue;
    best.energies[k] = energy[i];
    best.channels[k] = channel[q];
    best.errors[k] = winner.slope * width[q] * scatter;
    points[k + 1] = {best.energies[k], best.channels[k], best.errors[k], 0};
    ++k;
  }
  const LineFit fit = FitLine(points.data(), k, 0, nullptr);
  if (!fit.ok) return AutoCalibrationOutcome::kNoConsistentMatch;
  for (int i = 0; i < r; ++i)
    if (winner.lineMask >> i & 1u)
      for (int t = 0; t < r; ++t)
        if (best.referenceEnergies[t] == energy[i]) best.referenceMask |= 1 << t;
  best.size = k;
  best.criterion = winner.deviation;
  best.p0 = fit.p0;
  best.p1 = fit.p1;
  best.x0 = fit.x0;
  best.s0 = fit.error0;
  best.s1 = fit.error1;
  return AutoCalibrationOutcome::kFound;
}

double CalibrationAccuracy(const AutoCalibration& best) {
  if (!best.found()) return 0;
  double mean = 0, squares = 0;
  for (int i = 0; i < best.size; ++i) {
    mean += best.energies[i];
    const double d = best.energies[i] - (best.p0 * (best.channels[i] - best.x0) + best.p1);
    squares += d * d;
  }
  mean /= best.size;
  const double rms = std::sqrt(squares / std::max(best.size - 2, 1));
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
  for (int i = 0; i < best.size; ++i) points[i + 1] = {best.energies[i], best.channels[i], best.errors[i], 0};
  FitLine(points.data(), best.size, 1, sink);
  return sink->WriteLine("") && ok;
}

std::vector<CalibrationPeak> CalibrationCandidates(const Workspace& ws) {
  const Marking& mk = ws.marking;
  const AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  const int n = std::clamp(mk.peakCount, 0, kMaxMarkedPeaks);
  auto width = [&](double c) {
    double w = (mk.kw1 * c + mk.kw0) * mk.compr;
    if (!(w > 0)) w = st.kw1 * c + st.kw0;
    if (!(w > 0) && s.b2 > s.b1) w = s.width1 + (s.width2 - s.width1) * (c - s.b1) / (s.b2 - s.b1);
    return w > 0 && std::isfinite(w) ? w : 1.0;
  };
  std::vector<CalibrationPeak> peaks;
  peaks.reserve(n);
  // Rows resultBase + k hold the fits of this marking's peaks once they have been fitted.
  const int base = ws.results.resultBase;
  const bool fitted = n > 0 && base + n <= std::min(st.resultCount, ResultTable::resultCapacity);
  for (int k = 1; k <= n; ++k) {
    if (fitted) {
      const ResultRow& row = ws.results[base + k];
      if (row.criterion > 3) peaks.push_back({row.channel, width(row.channel), row.criterion});
      continue;
    }
    // Not fitted: the net height over the counts 1.5 widths to each side, times the width.
    const double c = mk.peakList[k], w = width(c);
    const double side = (s.CountAt(RoundHalfEven(c - 1.5 * w)) + s.CountAt(RoundHalfEven(c + 1.5 * w))) / 2;
    peaks.push_back({c, w, (s.CountAt(RoundHalfEven(c)) - side) * w});
  }
  std::stable_sort(peaks.begin(), peaks.end(), [](const CalibrationPeak& a, const CalibrationPeak& b) {
    return a.strength > b.strength;
  });
  return peaks;
}

bool PutAutoCalibrationInForce(const AutoCalibration& best, AnalysisState& state, CalibrationTables& cal) {
  if (!best.found() || best.size < 2) return false;
  for (int i = 0; i < best.size; ++i)
    cal.energyItems[i + 1] = CalibrationItem{best.energies[i], best.channels[i], best.errors[i]};
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

  const std::vector<CalibrationPeak> candidates = CalibrationCandidates(ws);
  LineSink* sink = ws.output.isOpen() ? &ws.output : nullptr;
  AutoCalibration& best = ws.autoCalibration;
  const AutoCalibrationOutcome outcome = AutoCalibrate(candidates, sample.energies, best, port);
  best.sample = sample.name;
  std::string& report = ws.state.reportLines[0];
  if (outcome == AutoCalibrationOutcome::kTooFewPeaks) {
    report = " Auto-calibration: " + std::to_string(candidates.size()) + " peaks marked, " +
             std::to_string(RequiredMatches(best.referenceCount)) + " at least needed";
    port.ShowMessage(report.substr(1) + ". Nothing written.");
    return false;
  }
  if (outcome == AutoCalibrationOutcome::kNoConsistentMatch) {
    const std::string text = "No consistent match with the " + sample.name + " lines";
    report = " " + text;
    port.ShowMessage(text);
    if (!WriteOutputLine(ws, text) && ws.output.isOpen()) port.ShowMessage(ws.output.lastError());
    return false;
  }
  report = " Auto-calibration done: " + std::to_string(best.size) + " of " +
           std::to_string(kReferenceLineCount) + " " + sample.name + " lines matched";
  if (showCalibrationGraph && showCalibrationGraph() && sink && !WriteAutoCalibration(best, sink))
    port.ShowMessage(ws.output.lastError());
  return true;
}

}  // namespace orv
