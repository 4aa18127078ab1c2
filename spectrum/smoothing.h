// Spline smoothing of the analysed interval and the smooth background under it: the user watches the
// initial and the processed curves superimposed and asks for less or more smoothing until the result
// looks right; the accepted curve then replaces the interval or is subtracted from it.
#pragma once

#include <functional>

#include "core/numeric.h"
#include "core/port.h"
#include "core/state.h"
#include "spectrum/spectrum.h"

namespace orv {

inline constexpr int kSplineSmoothing = 0;   // mode: smooth the interval
inline constexpr int kSplineBackground = 1;  // mode: build the background under it

// The spline needs more than five points; shorter intervals are refused instead of passed through.
inline constexpr int kSplineMinPoints = 6;
// Each " Less smoothing" multiplies lambda by this step, each " More smoothing" divides by it.
inline constexpr double kSplineLambdaStep = 1.5;
// Lambda is kept inside these limits: beyond them the curve no longer changes visibly, and endless
// stepping would reach 0 or infinity and turn the recursion into NaN.
inline constexpr double kSplineLambdaMin = 1e-12;
inline constexpr double kSplineLambdaMax = 1e12;
// Width of the picture the curves are drawn into (points at x = 1..512).
inline constexpr int kSplinePictureWidth = 512;

// The two curves of the tuning picture, both [1..count]; point k belongs to channel firstChannel + k − 1.
struct SplineCurves {
  const double* original = nullptr;   // the interval's counts (spline input)
  const double* processed = nullptr;  // the smoothed curve or the background (spline output)
  int count = 0;
  int firstChannel = 1;
  double smallest = 0, largest = 0;  // of the original: the vertical scale, fixed for the whole loop
  double lambda = 1.0;
  int mode = kSplineSmoothing;
};
// Shows the curves in the picture of the dialog that asks about them; called after every computation
// of the processed curve, with that dialog's request.
using SplineCurveView = std::function<void(const SplineCurves&, DialogRequest&)>;
// Where the tuning dialog leaves room for that picture, below its prompts and above its buttons.
inline constexpr DialogImage kSplinePictureArea{5, 122, 520, 245, {}};

// Horizontal position of point k of n in the picture: round(k · 512 / max(1, n)).
int SplineCurvePixel(int k, int n);

// One computation on the interval in work.input[1..n] into work.output[1..n]: mode 0 the smoothing
// spline with parameter lambda, mode 1 the background filter (10 passes, coupling lambda, slope and
// curvature weights 0.5). False (output unchanged) when n is outside kSplineMinPoints..kSplineCapacity
// or the mode is unknown.
bool ProcessSplineCurve(SplineWork& work, int n, int mode, double lambda);

struct SplineTuning {
  double lambda = 1.0;     // parameter of the curve left in work.output
  int steps = 0;           // less/more steps taken
  bool cancelled = false;  // ended by Cancel rather than " Quit"
};

// The tuning loop on work.input[1..n]: computes the curve with lambda = 1, shows it and asks " Less
// smoothing" (lambda × 1.5), " More smoothing" (lambda / 1.5) or " Quit" in the first radio group, until
// " Quit" or Cancel. The last computed curve stays in work.output. n must lie in
// kSplineMinPoints..kSplineCapacity (otherwise nothing is computed and the output is left as it is).
SplineTuning SplineTuningLoop(SplineWork& work, int n, int mode, UiPort& port, bool russianHelp = false,
                              const SplineCurveView& view = {}, int firstChannel = 1);

// The commands "Smooth the Spectrum" (mode 0) and "Build the Background" (mode 1) on the interval
// b1..b2. A first dialog asks whether the result is to be applied (its one check-list entry); the tuning
// loop follows; when checked, the interval is replaced by the smoothed curve or the background is
// subtracted from it (the background never exceeds a count, so no channel goes below zero), and
// state.reportLines[0] tells so. The deviations are not changed. Returns false, with the spectrum
// untouched, when the first dialog is cancelled or the interval is unusable (a message says why).
bool SmoothOrBackgroundCommand(int mode, TSpectrum& spectrum, AnalysisState& state, SplineWork& work,
                               UiPort& port, const SplineCurveView& view = {});

}  // namespace orv
