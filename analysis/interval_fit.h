// The model of one fitting interval: a Chebyshev background of degree at most 3 and n peaks of the
// current peak shape, all sharing one width that may vary linearly across the interval. This is the
// model procedure handed to the least-squares engine, the preparation of its start values and bounds
// with one automatic retry, and the per-peak figures read back after the fit.
#pragma once

#include <array>
#include <vector>

#include "core/engine.h"
#include "core/state.h"

namespace orv {

struct Workspace;

// What the model needs of one point that does not change while the parameters move.
struct IntervalPoint {
  bool inside = false;  // the channel lies within the spectrum
  int channel = 0;
  double at = 0;                 // where the model is evaluated: the channel, or a pair's midpoint
  double y = 0, w = 0;           // measured value and its measured weight
  double covar = -1;             // raw counts: weigh by the model, σ² = μ + (covar·μ)²; else -1
  double x = 0, t2 = 0, t3 = 0;  // normalised coordinate and the Chebyshev polynomials T2, T3 at it
};

// Working state of the interval being fitted, reloaded for every interval.
struct IntervalFitState {
  int startChannel = 0, endChannel = 0;
  int firstPeak = 1, lastPeak = 0;
  int n = 0;                 // peaks fitted (at most kMaxPeaks)
  double wInt = 0;           // working width the fit starts from
  int backgroundDegree = 0;  // degree of the Chebyshev background used (0..3)
  double intervalMin = 0, intervalMax = 0;
  bool lowStatistics = false;  // neighbouring channels are paired: too few counts per channel
  bool retried = false;
  // Normalised coordinate of a channel over the interval: -1 at its start, +1 at its end. The fit and
  // the results use this one coordinate, so the width and background at a peak agree for any w1.
  double xScale = 0, xOffset = 0;
  double Coordinate(double channel) const { return xScale * channel + xOffset; }
  bool fitDone = false;
  // Refreshed at every model evaluation for the graphs: [0] background, [1] total, [1 + k] peak k.
  std::array<double, kMaxPeaks + 2> componentValues{};
  // The points of the interval being fitted (1-based), with the weight factor of each (isolated
  // outliers are discounted) and work room for their normalised residuals.
  std::vector<IntervalPoint> points;
  std::vector<double> discount, normalised;
  std::vector<ParamRec> startParams;  // the start values, for a retry
};

// Parameter layout of an interval with n peaks (engine records are 1-based).
inline int AmplitudeIndex(int k) {
  return 4 + k;
}
inline int PositionIndex(int n, int k) {
  return 4 + n + k;
}
inline int WidthIndex(int n) {
  return 2 * n + 5;
}
inline int WidthVariableIndex(int n) {
  return 2 * n + 6;
}

// Measured value, weight and model value of point i (channel start + i - 1); writes the engine's
// derivatives. Used directly by the graphs to evaluate the fitted curve.
void IntervalModel(Workspace& ws, double& y, double& w, double& f, int phase, int i);

// Value of the background polynomial at a channel with the engine's current parameters.
double IntervalBackground(const Workspace& ws, double channel);

// Loads interval `index` of the marking into ws.fit (peak count limited to kMaxPeaks).
void LoadInterval(Workspace& ws, int index);

// Prepares and runs the fit of ws.fit's interval with the peak positions `positions[1..n]` and the
// working width ws.fit.wInt; mode 1 forces a cubic background. A doubtful fit is retried once with
// a softer robust weighting and a relaxed engine. False when the engine refused the problem or every
// point had weight 0 (the engine has said so; the caller ends its command).
bool FitInterval(Workspace& ws, const double* positions, int mode);

struct PeakFigures {
  double position = 0, positionError = 0;
  double area = 0, areaError = 0;
  double width = 0, widthError = 0;
  double criterion = 0, background = 0;
};

// Figures of peak k (1..n) after FitInterval. The area error includes the covariance of amplitude
// and width: they are strongly anticorrelated, and ignoring it overstates the error.
PeakFigures PeakResult(const Workspace& ws, int k);

}  // namespace orv
