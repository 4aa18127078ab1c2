// Synthetic gamma/X-ray spectra with known lines, for judging the peak search and the automatic
// analysis against the truth over many noise realizations.
//
// The model of a spectrum (channels 1..channels, c a channel centre):
//
//   expected(c) = Σ_k line_k(c) + continuum(c)
//
// - Width law: FWHM(c) = a + b·c (linear) or √(a + b·c) (the square-root law of X-ray detectors,
//   where the variance of the width grows with the energy).
// - Lines are Gaussians of the law's width at their own position p_k, sampled at channel centres like
//   the fit's model: line_k(c) = A_k/(σ_k√(2π))·exp(−(c − p_k)²/(2σ_k²)), σ_k = FWHM(p_k)/(2√(2 ln 2)).
// - continuum(c) = level + slope·c + falling·exp(−c/fallLength) + Σ_k compton_k(c), where every line
//   with comptonRatio > 0 adds the plateau of its Compton scattering: with E = kevPerChannel·p_k
//   (energy in keV, zero offset) and α = E/511, the Compton edge lies at channel e_k = p_k·2α/(1+2α);
//   compton_k(c) = h_k·(0.5 + 0.5·c/e_k)·Φ((e_k − c)/s_k), a plateau rising towards its edge and a
//   smoothed step down at the edge (Φ the normal distribution function; s_k = 2σ(e_k) + 0.02·e_k, since
//   the edge is smeared by the resolution, the electrons' binding and multiple scattering),
//   h_k = comptonRatio·min(1, E/1000)²·A_k/(0.75·e_k): the plateau holds about comptonRatio times the
//   line's counts at 1 MeV and above, less below, where photoabsorption takes over.
// - Counts are Poisson deviates of expected(c) (testing::PoissonDeviate) from a RandomGenerator with a
//   fixed seed (KitGenerator), so every run sees the same spectra.
// - Loading (LoadLineSpectrum) stores the counts as a binary spectrum file would: type 1, raw counts,
//   channel 1 empty, bounds and analysed interval the whole spectrum, deviations from SetErrors with
//   covar 0. The true width law can be handed to the workspace (width1, width2 = the law at the first
//   and last channel, a linear law through them, and deltaWidth), or the start-up widths are kept, as
//   the automatic analysis must cope with.
//
// Truth and matching use these definitions:
// - A line's true criterion is N/√(N + 2U + 1): N its expected counts within ±1.5 FWHM of its centre
//   (channel bounds rounded), U the expected counts of everything else in those channels.
// - A line is found when a fitted peak of any criterion lies within max(1 channel, 0.5 FWHM) of it,
//   one peak per line, except that lines closer than 0.5 FWHM may share one peak.
// - A reported peak has criterion > 3; a false peak is a reported peak that matches no line (a second
//   peak on a line already matched counts as false). Rates are per 1000 channels of the analysed
//   interval.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/workspace.h"
#include "core/numeric.h"

namespace orv::testing {

struct WidthLaw {
  enum class Kind { kLinear, kSqrt };
  Kind kind = Kind::kLinear;
  double a = 4, b = 0;  // FWHM = a + b·c, or √(a + b·c)
  double At(double channel) const;
  // The law through FWHM w1 at channel c1 and w2 at c2.
  static WidthLaw Linear(double c1, double w1, double c2, double w2);
  static WidthLaw Sqrt(double c1, double w1, double c2, double w2);
};

struct KitLine {
  double position = 0;      // centre channel
  double area = 0;          // expected counts of the whole line
  double comptonRatio = 0;  // counts of its Compton plateau per line count (0: none)
};

struct Continuum {
  double level = 0;  // counts per channel
  double slope = 0;  // per channel
  double falling = 0, fallLength = 1000;
  double kevPerChannel = 0.5;  // places the Compton edges
};

struct LineSpectrum {
  std::string name;
  int channels = 4096;
  WidthLaw width;
  double deltaWidth = 1;  // handed to the workspace with the law
  std::vector<KitLine> lines;
  Continuum continuum;
  // The analysed interval (0: the whole spectrum, channels 2..channels, as the reader leaves it).
  int first = 0, last = 0;

  double Fwhm(double channel) const { return width.At(channel); }
  double ComptonEdge(int k) const;  // channel of line k's edge
  double LineCounts(int k, double channel) const;
  double ContinuumAt(double channel) const;  // Compton plateaus included
  double Expected(double channel) const;
  double Window(int k, int& lo, int& hi) const;  // ±1.5 FWHM channel bounds of line k; returns FWHM
  double TrueCounts(int k) const;                // N
  double UnderCounts(int k) const;               // U
  double TrueCriterion(int k) const;
  int FirstChannel() const { return first > 0 ? first : 2; }
  int LastChannel() const { return last > 0 ? last : channels; }
};

// Seeds a generator; equal seeds give equal sequences (and differ from fit_kit's for equal tags).
RandomGenerator KitGenerator(std::uint32_t seed);

// Draws Poisson counts (the expected counts when `noise` is null) into ws's spectrum as described
// above, sets the analysed interval, clears the counters; with `giveWidthLaw` the true law becomes
// the workspace's width law. Channels beyond the spectrum (up to the previous end) are emptied.
void LoadLineSpectrum(Workspace& ws, const LineSpectrum& spectrum, RandomGenerator* noise, bool giveWidthLaw);

// The program's automatic marking (mode 0, every dialog accepted as preset) followed by the spectrum
// fit over it. False when either refuses. Messages and status lines shown are appended to `messages`.
bool MarkAndFit(Workspace& ws, std::vector<std::string>* messages = nullptr);

struct FittedPeak {
  double channel = 0;
  double criterion = 0;
};

// The rows of the latest fit: resultBase + 1 .. resultCount.
std::vector<FittedPeak> LatestResults(const Workspace& ws);

// Counts per category; add them up over seeds and cases.
struct MatchTally {
  int lines = 0, found = 0;                         // lines inside the interval
  int significant = 0, foundSignificant = 0;        // lines of true criterion > 3
  int isolatedStrong = 0, foundIsolatedStrong = 0;  // no other line within 3 FWHM, true criterion > 5
  int peaks = 0, reported = 0, falseReported = 0;
  int channels = 0;  // of the analysed interval

  MatchTally& operator+=(const MatchTally& o);
  double FoundShare() const;           // found / lines (1 when there are none)
  double SignificantShare() const;     // of the lines of criterion > 3
  double IsolatedStrongShare() const;  // of the isolated lines of criterion > 5
  double FalsePer1000() const;         // false reported peaks per 1000 channels
  std::string Summary() const;         // one line of figures, for the test logs
};

struct MatchResult {
  MatchTally tally;
  std::vector<int> lineToPeak;  // per line: index of its peak, −1 when not found
  std::vector<int> peakToLine;  // per peak: index of its line, −1 when it matches none
};

// Matches the peaks against the lines inside the analysed interval (peaks outside it are ignored).
MatchResult Match(const LineSpectrum& spectrum, const std::vector<FittedPeak>& peaks);

// Case builders: each seed places the lines anew (positions, areas); noise is drawn separately.
LineSpectrum IsolatedLinesCase(std::uint32_t seed);  // 4096 ch, areas 1e3–1e5, Compton edges
LineSpectrum DoubletsCase(std::uint32_t seed);       // separations 0.7–2 FWHM, ratios 1, 0.5, 0.2; triplets
// The same without the doublets closer than `closest` FWHM (separations 0.7, 0.8, 1, 1.25, 1.5, 2).
LineSpectrum DoubletsCase(std::uint32_t seed, double closest);
LineSpectrum WeakLinesCase(std::uint32_t seed);       // true criterion 2–10 on ~250 counts/channel
LineSpectrum HighBackgroundCase(std::uint32_t seed);  // 1e4–4e4 counts/channel
LineSpectrum WideRangeCase(std::uint32_t seed);       // 100–1e6 side by side, satellites 3–6 FWHM away
LineSpectrum LowCountsCase(std::uint32_t seed);       // areas 15–400 on 1–3 counts/channel
LineSpectrum LongSpectrumCase(
    std::uint32_t seed);                    // 16,384 ch, 2.5 → 6 ch, 60 singles, 8 doublets, 2 triplets
LineSpectrum XRayCase(std::uint32_t seed);  // 4096 ch, √ law 8 → 20 ch
LineSpectrum FlatCase(double level, int channels);  // no lines at all

// The area that gives a line of FWHM w a true criterion `criterion` on a continuum of `level`
// counts per channel (isolated, the ±1.5 FWHM window holding almost the whole line).
double AreaForCriterion(double criterion, double level, double fwhm);

}  // namespace orv::testing
