// Synthetic spectra with known lines, and the fit driven the way the program drives it, so that the
// reported areas and positions can be compared with the truth over many noise realizations.
//
// The generator:
// - Lines are Gaussians of a given FWHM (one width per spectrum, as the fit assumes within an
//   interval), the shape of the default peak model after ResetAnalysisState. The expected count of a
//   channel is the line's density at the channel centre times its area: the fit's model is sampled at
//   channel centres too, so the truth and the model have the same shape. (Integrating over the
//   channel instead would widen the line by 1/12 channel² in variance and keep its area.)
// - Backgrounds are flat, linear or curved about a centre channel c with half-span h:
//   B(ch) = level·(1 + slope·t + curvature·t²), t = (ch − c)/h. With h = 4 FWHM, curvature 0.1 is a
//   background that rises 10 % from the centre to ±4 FWHM, and slope 0.1 one that rises 10 % from
//   the centre to +4 FWHM.
// - Counts are Poisson deviates of the expected counts (testing::PoissonDeviate: exact below mean 50,
//   the rounded normal above; the rounding keeps the variance and shifts the mean by less than 1e-3
//   of a count, far below any error the fits report).
// - The counts go into the workspace spectrum as a binary spectrum file would bring them (type 1,
//   counts only, channel 1 left empty as the reader does), then the program's own error setup
//   (SetErrors with the state's covar, 0 here). Counts above 65,535 are stored as they are: a 16-bit
//   file could not hold them, but raw counts of any size are what the fit must handle.
// - Every random number comes from one RandomGenerator with fixed seeds, so every run sees the same
//   spectra.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/interval_fit.h"
#include "analysis/workspace.h"
#include "core/numeric.h"

namespace orv::testing {

struct Line {
  double position = 0;  // centre channel
  double area = 0;      // expected counts of the whole line
};

struct SyntheticBackground {
  double level = 0;      // counts per channel at the centre
  double slope = 0;      // relative rise from the centre to centre + halfSpan
  double curvature = 0;  // relative rise from the centre to centre ± halfSpan on top of the slope
  double centre = 0, halfSpan = 1;
  double At(double channel) const;
};

struct SyntheticSpectrum {
  int channels = 512;     // spectrum channels 1..channels
  double fwhm = 4;        // of every line, and the width law handed to the fit
  double deltaWidth = 1;  // admissible deviation of the fitted width from the law
  std::vector<Line> lines;
  SyntheticBackground background;

  // Expected counts of line k alone, and of everything at a channel.
  double LineCounts(int k, double channel) const;
  double Expected(double channel) const;
  // The significance of line k as a perfect fit would see it: N/√(N + 2U + 1), N the line's expected
  // counts within ±1.5 FWHM of its centre (rounded channel bounds), U the expected counts of the
  // background and every other line in those channels.
  double TrueCriterion(int k) const;
};

// Seeds a generator for one class of fits; equal tags give equal sequences.
RandomGenerator SeededGenerator(std::uint32_t tag);

// Draws Poisson counts for `synthetic` (the expected counts themselves when `noise` is null) and loads them
// into ws's spectrum as described above: bounds and the analysed interval the whole spectrum, width
// law w(c) = fwhm with synthetic.deltaWidth, covar 0, counters cleared. Channels beyond synthetic.channels
// (up to the end of the spectrum before) are emptied.
void LoadSynthetic(Workspace& ws, const SyntheticSpectrum& synthetic, RandomGenerator* noise);

// One interval of a marking: its bounds and the marked positions (which may be off the truth).
struct MarkedInterval {
  int start = 0, end = 0;
  std::vector<double> marks;
};

// An interval over lines first..last of `synthetic` (0-based, ascending), from `margin` FWHM before the
// first to `margin` FWHM after the last (rounded to channels), marking each line up to `offset` FWHM
// off its position (uniformly, either side; 0 marks the truth).
MarkedInterval MarkLines(const SyntheticSpectrum& synthetic, int first, int last, double margin,
                         double offset, RandomGenerator& g);

// Replaces ws's marking by the given intervals (peaks in the order given).
void SetMarking(Workspace& ws, const std::vector<MarkedInterval>& intervals);

struct IntervalOutcome {
  bool fitted = false;  // FitInterval ran to the end
  bool retried = false;
  int backgroundDegree = 0;
  std::vector<PeakFigures> peaks;  // 0-based, one per marked peak
};

// Marks one interval (SetMarking) and fits it as the spectrum fit does: LoadInterval, the working
// width from the width law at the interval's centre, FitInterval with the marked positions, PeakResult
// for each peak. The engine's settings are left as they are: the caller decides whether a fit starts
// from the start-up settings (ws.engine.ApplyStartupSettings()).
IntervalOutcome FitMarkedInterval(Workspace& ws, const MarkedInterval& interval);

// Runs SpectrumFit (mode 0) over ws's marking with a port that accepts everything and records the
// messages (returned through `messages` when given). The results are in ws.results.
bool RunSpectrumFit(Workspace& ws, std::vector<std::string>* messages = nullptr);

}  // namespace orv::testing
