// Small numerical routines shared by the engine, the peak models, the peak search, the calibrations,
// the preprocessing and the output. Arrays are 1-based: a pointer `a` with values a[1..n] (a[0] is
// never touched). Nothing here allocates; the spline routines work in a caller-owned SplineWork.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "core/port.h"

namespace orv {

// Combined multiplicative congruential generator (L'Ecuyer 1988). The seeds are the whole state.
struct RandomGenerator {
  std::int32_t s1 = 12345, s2 = 67890;
  void Seed(std::int32_t a, std::int32_t b);
};

// Uniform deviate strictly inside (0, 1).
double RandomUniform(RandomGenerator& g);
// Two independent standard normal deviates (polar Box–Muller).
std::pair<double, double> RandomNormalPair(RandomGenerator& g);

// Packs the entries with value >= 0 (mode −1), != 0 (mode 0) or <= 0 (mode 1) at the front of
// a[1..n], in order, and sets n to their number. Other modes keep everything.
void FilterBySign(double* a, int& n, int mode);

// Mode −1: descending, mode 1: ascending (stable). Mode 0 drops every entry equal to its successor
// and sets n to the remaining count. Nothing happens for n <= 1.
void SortArray(double* a, int& n, int mode);

// Median of a[1..n]; `work` is scratch with room for work[1..n] (may be `a` itself only when the
// caller does not mind its array being sorted). 0 for n <= 0.
double Median(const double* a, int n, double* work);

struct MinMax {
  int minPosition = 0;
  double minValue = 0;
  int maxPosition = 0;
  double maxValue = 0;
};
// Minimum and maximum over a[from..limit], the first position winning on ties. `to` does not bound the
// scan; it is kept so that calls read like the callers' descriptions. from < 1 gives a[1] at position 1
// for both; an empty range (from > limit) gives positions 0 and values 0.
MinMax MinMaxInRange(const double* a, int from, int to, int limit);

struct SmoothedPoint {
  double value = 0, first = 0, second = 0;  // smoothed value and its two derivatives
};
// Five-point smoothing and differentiation at point i of a[1..n] (three-point next to the ends, the
// raw value at the ends and for n <= 4).
SmoothedPoint SmoothPoint(const double* a, int n, int i);

// Table interpolation: table[1..n] are the node values y_1..y_n, table[n+1..2n] the ascending
// abscissas x_1..x_n. Linear beyond the end nodes, piecewise linear where the four surrounding values
// are monotonic, a local cubic elsewhere. `capacity` (the caller's array size) takes no part.
// n = 1 gives y_1, n <= 0 gives 0.
double Interpolate(const double* table, int capacity, int n, double x);

using Matrix3 = std::array<std::array<double, 3>, 3>;
struct Inversion {
  bool ok = false;
  double determinant = 0;
};
// Inverts m in place by cofactors. A zero determinant fails and leaves m unchanged. Mode 1 (symmetric
// input) copies the third column of the inverse into its third row.
Inversion Invert3(Matrix3& m, int mode);

struct LinePoint {
  double y = 0, x = 0, error = 0, fit = 0;  // fit: the fitted value, written by FitLine
};
struct LineFit {
  bool ok = false;
  double chi = 0;                 // chi-square per degree of freedom
  double chiPlus = 0;             // share of the chi-square from points on or above the line
  double p0 = 0, p1 = 0, x0 = 0;  // y = p0·(x − x0) + p1
  double error0 = 0, error1 = 0;
  double determinant = 0;
};
// Weighted straight line through points[1..k] (weights 1/error², 0 for error 0). Mode 1 or 2 reports
// chi and chi+ to `sink`, mode 1 also the parameters and one line per point. A singular system writes
// "not ok  det= " with the determinant and returns ok = false.
LineFit FitLine(LinePoint* points, int k, int mode, LineSink* sink);

struct EdgeFit {
  double meanChannel = 0, meanValue = 0, slope = 0;
};
// Unweighted straight line through the channels c1..c2 and c3..c4 of a.
EdgeFit EdgeLine(const double* a, int c1, int c2, int c3, int c4);

struct SmoothnessMeasure {
  double fitMeasure = 0, roughness = 0;
};
// How far smooth[1..n] lies from data[1..n] (relative squared deviations per point) and how rough it is
// (scaled second differences over the inner points).
SmoothnessMeasure Smoothness(const double* data, const double* smooth, int n);

// Full width at half maximum of the peak at c in a[1..last], from the half-maximum crossings on both
// sides; −1 when either crossing is missing or too flat.
double WidthEstimate(const double* a, int c, int last);

inline constexpr int kHistogramLimit = 8192;
struct HistogramResult {
  bool ok = false;
  int bins = 0;         // bins used, counts[1..bins]
  double low = 0;       // lower edge of bin 1
  double binWidth = 0;  // 0 when all values are equal (everything in bin 1)
};
// Counts of values[1..n] in equal bins between the smallest and the largest value. The number of bins is
// about sqrt(n) (at least 1, at most `capacity`), so a long array is reduced to a readable profile;
// the largest value falls into the last bin. n > 8192 is refused with "Too long array".
HistogramResult Histogram(const double* values, int n, int* counts, int capacity, UiPort& port);

// Work space of the spline routines: the input array y and the output array z (16,384 values each)
// with the recursion arrays of 2n values. Owned by the caller and reused; the routines never allocate.
inline constexpr int kSplineCapacity = 16384;
struct SplineWork {
  std::array<double, kSplineCapacity + 1> input{};   // y[1..n]
  std::array<double, kSplineCapacity + 1> output{};  // z[1..n]
  std::array<double, 2 * kSplineCapacity + 1> a{}, b{}, c{};
  std::array<double, kSplineCapacity + 2> weights{};
  std::array<double, kSplineCapacity + 1> errors{};  // written by BackgroundThroughMinima
  double fitMeasure = 0, roughness = 0;
  double lambda = 0;  // the smoothing parameter chosen by AutoSpline
};

// Background under the data in input[1..n]: the data are raised to >= 0 and smoothed `passes` times
// in place; with withErrors, errors[i] = sqrt(|y_i| + 1). The background goes to output[1..n]: through
// the minima of `segments` equal segments (the first starting after 10 points), or the straight line
// through the first and last value when segments is 0; limited to 0..data. False (nothing done) when
// n is outside 1..capacity.
bool BackgroundThroughMinima(SplineWork& w, int n, int passes, bool withErrors, int segments);

// Weighted smoothing filter of input[1..n] into output[1..n]. c >= 0: background mode (the result never
// exceeds the data), c < 0: smoothing mode; |c| is the coupling, b the slope and a the curvature weight
// of the first pass. Stores fitMeasure and roughness. False (nothing done) when n exceeds the capacity.
bool SplineFilter(SplineWork& w, int n, int passes, double c, double b, double a);

// Smoothing spline of input[1..n] into output[1..n]; the end values are kept. lambda weights the data:
// a large one follows them, lambda → 0 leaves the straight line between the ends.
// Mode 0 derives the weights from the data, any other mode takes them from output[1..n]. Sets
// fitMeasure and roughness (also stored in w). False (nothing done) when n exceeds the capacity.
bool SplineSmooth(SplineWork& w, int n, int mode, double& fitMeasure, double& roughness, double lambda);

// Smoothing spline of input[1..n] into output[1..n] with lambda chosen so that the fit measure lies
// near `a` while the roughness is least; the result is (1 − t)·data + t·spline with t = min(s, 1).
// badData: the maximum sits at an end or the data are flat. The input is restored; the chosen lambda
// is stored in w.lambda. False (nothing done) when n exceeds the capacity.
bool AutoSpline(SplineWork& w, int n, bool& badData, double s, double a);

}  // namespace orv
