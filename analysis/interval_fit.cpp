#include "analysis/interval_fit.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "analysis/workspace.h"
#include "core/numtext.h"

namespace orv {
namespace {

// Chebyshev polynomials T2 and T3 at x (T0 = 1, T1 = x).
void Chebyshev(double x, double& t2, double& t3) {
  t2 = 2 * x * x - 1;
  t3 = 2 * x * t2 - x;
}

// The engine's records as the model reads and writes them point by point.
struct RecordValue {
  const ParamRec* p;
  double operator()(int k) const { return p[k].value; }
};
struct RecordDeriv {
  ParamRec* p;
  void operator()(int k, double v) const { p[k].deriv = v; }
};

// The background at x, given T2 and T3 there; value(k) is the value of record k.
template <class Value>
double Background(const Value& value, double x, double t2, double t3) {
  return value(1) + value(2) * x + value(3) * t2 + value(4) * t3;
}

void SetRecord(ParamRec& r, double lower, double value, double upper) {
  r.lower = lower;
  r.value = value;
  r.upper = upper;
  r.coef = 1;
  r.offset = 0;
  r.error = 0;
  r.deriv = 0;
}

// The lowest expected count a weight is taken from: a model that dips to 0 or below somewhere
// (a negative amplitude, a background going negative) must not give a point unbounded weight.
constexpr double kLowestExpectation = 0.1;

// The measured value, weight and coordinate of the point at `ch`: fixed while the parameters move,
// so a fit works them out once (see FitInterval). The weight is the measured one: spectra that are
// not raw counts keep it, raw counts use it only until the model can give the variance.
IntervalPoint MeasureChannel(const Workspace& ws, int ch) {
  const IntervalFitState& fs = ws.fit;
  const TSpectrum& s = ws.spectrum;
  IntervalPoint d;
  const int last = static_cast<int>(s.sp.size()) - 1;
  if (ch < 1 || ch > last) return d;
  d.inside = true;
  d.channel = ch;
  d.at = ch;
  d.y = s.sp[ch];
  double sigma = s.err[ch];  // it holds the spread set up with the spectrum, covar included
  if (s.CountsAreRaw()) {
    const double covar = ws.state.covar;
    d.covar = covar;
    sigma = std::sqrt(std::max(d.y, 1.0) + covar * covar * d.y * d.y);
  } else if (fs.lowStatistics) {
    // Too few counts per channel for a Gaussian likelihood: each point is the mean of a channel and
    // the next one, fitted at their midpoint. Every channel then enters two points, so each point
    // carries half the weight of the pair's mean: the information stays that of the channels.
    const int next = std::min(ch + 1, last);
    d.y = (s.sp[ch] + s.sp[next]) / 2;
    d.at = ch + 0.5;
    sigma = std::sqrt(2 * (s.err[ch] * s.err[ch] + s.err[next] * s.err[next])) / 2;
  }
  d.w = sigma != 0 ? 1 / (sigma * sigma) : 0;
  d.x = fs.Coordinate(d.at);
  Chebyshev(d.x, d.t2, d.t3);
  return d;
}

IntervalPoint MeasurePoint(const Workspace& ws, int i) {
  return MeasureChannel(ws, ws.fit.startChannel + i - 1);
}

// The model at one point: parameter k's value from value(k), its derivative handed to put(k, ∂f/∂k).
// With kComponents every component's value goes to the graphs too. kPeaks > 0 fixes n at compile time.
template <int kPeaks, bool kComponents, class Value, class Put>
[[gnu::always_inline]] inline void PointModel(int n, const Value& value, Put&& put,
                                              const TPeakModel::Table& shape, const IntervalPoint& d,
                                              double& y, double& w, double& f, double* components) {
  if constexpr (kPeaks > 0) n = kPeaks;
  if (!d.inside) {
    for (int k = 1; k <= 2 * n + 6; ++k) put(k, 0.0);
    y = f = w = 0;
    return;
  }
  y = d.y;
  w = d.w;
  // Every derivative is written below, so none needs clearing first.
  const double x = d.x;
  const double background = Background(value, x, d.t2, d.t3);
  put(1, 1.0);
  put(2, x);
  put(3, d.t2);
  put(4, d.t3);
  if constexpr (kComponents) components[0] = background;
  double sum = background;

  const double wx = value(WidthIndex(n)) + value(WidthVariableIndex(n)) * x;
  const double inverseWidth = wx != 0 ? 1 / wx : 0;
  double g = 0;
#pragma GCC unroll 4
  for (int k = 1; k <= n; ++k) {
    const double amplitude = value(AmplitudeIndex(k));
    const double u = (d.at - value(PositionIndex(n, k))) * inverseWidth;
    double m, m1, m2;
    shape.Evaluate(u, m, m1, m2);
    const double contribution = amplitude * m;
    if constexpr (kComponents) components[1 + k] = contribution;
    sum += contribution;
    put(AmplitudeIndex(k), m);
    const double slope = -amplitude * inverseWidth * m1;
    put(PositionIndex(n, k), slope);
    g += slope * u;
  }
  put(WidthIndex(n), g);
  put(WidthVariableIndex(n), g * x);
  if constexpr (kComponents) components[1] = sum;
  f = sum;
}

// The variance of a raw count is its expectation (Poisson) plus the relative spread `covar`. Weighing
// by the model's expectation, renewed every pass, makes the fit the Poisson maximum-likelihood fit:
// no bias at low counts, where the measured count is a poor guess of the variance.
double ModelWeight(const IntervalPoint& d, double f) {
  const double mu = std::max(f, kLowestExpectation);
  return 1 / (mu + d.covar * d.covar * mu * mu);
}

// The model procedure the engine calls, over the points worked out before the fit. Raw counts are
// weighed by the model once `modelWeights` is on: from start values that may be a width off, the
// model's variance would be wrong just where the peak is, so a fit first converges on the measured
// weights.
class IntervalFitModel {
 public:
  IntervalFitModel(Workspace& ws, const TPeakModel::Table& shape, const IntervalPoint* points)
      : ws_(ws), shape_(shape), points_(points) {}

  bool modelWeights = false;
  const double* discount = nullptr;  // per point: the factor of an isolated outlier's weight

  void operator()(double& y, double& w, double& f, int /*phase*/, int i) const { Point<0>(y, w, f, i); }

  // Runs the engine on this model, with the number of peaks fixed at compile time for the small
  // multiplets that make up most intervals.
  void FitWith(TParameter& e) const {
    switch (ws_.fit.n) {
      case 1:
        return FitOf<1>(e);
      case 2:
        return FitOf<2>(e);
      case 3:
        return FitOf<3>(e);
      default:
        return FitOf<0>(e);
    }
  }

 private:
  template <int kPeaks>
  void Point(double& y, double& w, double& f, int i) const {
    ParamRec* p = ws_.engine.params.data();
    const IntervalPoint& d = points_[i];
    PointModel<kPeaks, false>(ws_.fit.n, RecordValue{p}, RecordDeriv{p}, shape_, d, y, w, f, nullptr);
    if (modelWeights && d.covar >= 0 && w != 0) w = ModelWeight(d, f);
    if (discount) w *= discount[i];
  }
  template <int kPeaks>
  void FitOf(TParameter& e) const {
    auto point = [this](double& y, double& w, double& f, int, int i) { Point<kPeaks>(y, w, f, i); };
    e.Fit(point);
  }

  Workspace& ws_;
  const TPeakModel::Table& shape_;
  const IntervalPoint* points_;
};

// What one more background term must lower the residual sum by, in units of the residual variance:
// the F-test of that term at a false-alarm rate of 5 %. A term left out biases every area of the
// interval by up to about the square root of this in units of its error, while one too many only
// widens the errors honestly; a stricter test would leave curved backgrounds biased, a looser one
// lets the background take the wings of lines the peak shape does not follow exactly (tails).
constexpr double kDegreeTest = 3.84;

}  // namespace

void IntervalModel(Workspace& ws, double& y, double& w, double& f, int /*phase*/, int i) {
  ParamRec* p = ws.engine.params.data();
  PointModel<0, true>(ws.fit.n, RecordValue{p}, RecordDeriv{p}, ws.model().CurrentTable(),
                      MeasurePoint(ws, i), y, w, f, ws.fit.componentValues.data());
}

double IntervalBackground(const Workspace& ws, double channel) {
  const double x = ws.fit.Coordinate(channel);
  double t2, t3;
  Chebyshev(x, t2, t3);
  return Background(RecordValue{ws.engine.params.data()}, x, t2, t3);
}

void LoadInterval(Workspace& ws, int index) {
  const MarkInterval& m = ws.marking.intervalTable[std::clamp(index, 1, kMaxMarkedIntervals)];
  IntervalFitState& fs = ws.fit;
  fs.startChannel = m.startChannel;
  fs.endChannel = m.endChannel;
  fs.firstPeak = m.firstPeak;
  fs.lastPeak = m.lastPeak;
  fs.n = std::clamp(m.lastPeak - m.firstPeak + 1, 0, kMaxPeaks);
}

namespace {

void FixBackgroundAbove(TParameter& e, int degree) {
  for (int j = 4; j >= degree + 2; --j) e.params[j].lower = e.params[j].upper = e.params[j].value = 0;
}

// How much background term `term` (record 2..4) would lower the weighted residual sum of the
// converged fit: one Gauss–Newton step with the term added, worked out from the fit's own inverse
// normal matrix (the score test). The term is linear, so the step is all but exact, and a term the
// data do not ask for costs one pass instead of a fit with it and one without.
double BackgroundTermGain(Workspace& ws, const IntervalFitModel& model, int term) {
  TParameter& e = ws.engine;
  if (!e.HoldsCovariances()) return 0;
  const int m = e.nParams;
  std::array<double, 2 * kMaxPeaks + 7> gradient{}, cross{};  // Σ w·r·g_k and Σ w·c·g_k
  double termGradient = 0, termSquare = 0;
  const IntervalPoint* points = ws.fit.points.data();
  for (int i = 1; i <= e.nPoints; ++i) {
    double y, w, f;
    model(y, w, f, 3, i);
    if (w == 0 || !std::isfinite(w) || !std::isfinite(y) || !std::isfinite(f)) continue;
    const IntervalPoint& d = points[i];
    const double c = term == 2 ? d.x : term == 3 ? d.t2 : d.t3;
    const double r = y - f;
    termGradient += w * r * c;
    termSquare += w * c * c;
    for (int k = 1; k <= m; ++k) {
      const double g = e.params[k].deriv;
      gradient[k] += w * r * g;
      cross[k] += w * c * g;
    }
  }
  // Projecting the fitted parameters out: what the term explains that they cannot.
  double numerator = termGradient, denominator = termSquare;
  for (int i = 1; i <= m; ++i) {
    if (cross[i] == 0 && gradient[i] == 0) continue;
    for (int j = 1; j <= m; ++j) {
      const double c = e.Covariance(i, j);
      numerator -= cross[i] * c * gradient[j];
      denominator -= cross[i] * c * cross[j];
    }
  }
  return denominator > 0 ? numerator * numerator / denominator : 0;
}

// Where a peak's fit starts: its mark, kept inside the interval (the position may not leave it), or
// the interval's middle for a mark that is not a number at all.
double StartPosition(const IntervalFitState& fs, double mark) {
  const double first = fs.startChannel, last = fs.endChannel;
  if (!std::isfinite(mark)) return (first + last) / 2;
  return std::clamp(mark, std::min(first, last), std::max(first, last));
}

// Whether at least half of the interval lies farther than 1.5 FWHM from every fitted peak. Only
// there does the background show itself: in an interval that is mostly peak, the curvature the data
// ask for is the misfit of the peaks' own shape (a tail the shape does not follow), and a background
// term fitted to it takes counts from the peaks.
bool MostlyBackground(const IntervalFitState& fs, const std::vector<ParamRec>& rec, int points) {
  const int n = fs.n;
  const double reach = 1.5 * rec[WidthIndex(n)].value;
  int outside = 0;
  for (int i = 1; i <= points; ++i) {
    bool near = false;
    for (int k = 1; k <= n && !near; ++k)
      near = std::fabs(fs.points[i].at - rec[PositionIndex(n, k)].value) < reach;
    outside += !near;
  }
  return 2 * outside >= points;
}

bool Doubtful(const TParameter& e) {
  return e.notDefinite || e.notInverted || e.poorQuality || e.accuracyNotReached || e.signImbalance;
}

}  // namespace

bool FitInterval(Workspace& ws, const double* positions, int mode) {
  IntervalFitState& fs = ws.fit;
  TParameter& e = ws.engine;
  const TSpectrum& s = ws.spectrum;
  const AnalysisState& st = ws.state;
  const int n = std::clamp(fs.n, 0, kMaxPeaks);
  fs.n = n;
  fs.retried = false;
  fs.fitDone = false;
  // Every fit starts from the program's own engine settings, whatever an earlier fit or its retry did:
  // the same interval gives the same numbers whatever was fitted before.
  const FitSettings settings = e;

  e.nPoints = std::abs(fs.endChannel) - std::abs(fs.startChannel) + 1;
  e.nParams = 2 * n + 6;
  for (int k = 1; k <= e.nParams; ++k) {  // every record independent, no dependence
    e.params[k] = ParamRec{};
    e.params[k].master = k;
  }
  const int span = fs.endChannel - fs.startChannel;
  fs.xScale = span != 0 ? 2.0 / span : 0.0;
  fs.xOffset = span != 0 ? -static_cast<double>(fs.startChannel + fs.endChannel) / span : 0.0;

  double lo = s.CountAt(fs.startChannel), hi = 0;
  for (int ch = fs.startChannel; ch <= fs.endChannel; ++ch) {
    const double v = s.CountAt(ch);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  fs.intervalMin = lo;
  fs.intervalMax = hi;
  fs.lowStatistics = hi < st.smallStatistics;

  // The background may take any value: a lower bound above 0 pushes a weak peak's background, and
  // with it the peak, away from the truth.
  for (int j = 1; j <= 4; ++j) SetRecord(e.params[j], -1e11, 0, 1e11);
  e.params[1].value = lo;

  // Background degree: a given `dback` ≥ 0 is the degree; a negative one lets the data choose
  // between 0 and |dback| (below). A cubic when the user asks for it.
  const int maxDegree = std::min(std::abs(s.dback), 3);
  const bool automatic = s.dback < 0 && mode != 1;
  int degree = mode == 1 ? 3 : automatic ? std::min(1, maxDegree) : maxDegree;
  fs.backgroundDegree = degree;
  FixBackgroundAbove(e, degree);

  const int w0 = WidthIndex(n), w1 = WidthVariableIndex(n);
  SetRecord(e.params[w0], std::max(0.5, fs.wInt - s.deltaWidth), fs.wInt, fs.wInt + s.deltaWidth);
  SetRecord(e.params[w1], -s.deltaWidthVariable, s.widthVariable, s.deltaWidthVariable);
  const double centre = 1e-10 + std::fabs(ws.model().samples[kPeakModelCentre]);
  // Amplitudes may go below 0, so that a peak that is not there scatters around 0 instead of being
  // held up by a bound; the bound only keeps a multiplet from trading huge opposite amplitudes.
  const double depth = 10 * std::sqrt(std::max(hi, 1.0)) / centre;
  for (int k = 1; k <= n; ++k) {
    const double p = StartPosition(fs, positions[k]);
    const double amplitude = std::max(std::fabs(s.CountAt(RoundHalfEven(p)) - lo), 10.0) / centre;
    SetRecord(e.params[AmplitudeIndex(k)], -(amplitude + depth) * st.amplitudeBoundFactor, amplitude, 1e12);
    SetRecord(e.params[PositionIndex(n, k)], fs.startChannel, p, fs.endChannel);
  }

  e.maxIter = st.iterationLimit;
  e.step = st.fitStep;
  e.damper = st.fitDamper;
  if (n != 1) {
    // Multiplets are ill-conditioned: damp more, step shorter, iterate longer.
    e.damper = std::min(st.fitDamper, 0.1);
    e.step = std::min(st.fitStep, 1 - e.damper);
    e.maxIter = std::min(3, n) + RoundHalfEven(8 * (1 - e.step)) + st.iterationLimit;
  }
  e.equalWeights = false;
  e.tracePeriod = 0;
  // A step that raises the criterion is taken back and retried more damped: from marks a width off
  // the truth the full Gauss–Newton step overshoots and the fit runs away.
  e.increasePolicy = 3;
  // Iterate until the steps are small against the errors; a chi-square above 1 is the noise of an
  // honest fit, not a reason to go on (only a poor one is).
  e.chiTarget = std::max(e.chiTarget, 3.0);
  // The robust weighting rule would discount the points of a strong peak while its start values are
  // off, so the fit settles on a wrong area. Outliers are judged against the converged fit instead.
  const double robustLimit = settings.robustLimit > 0 ? settings.robustLimit : 1.0;
  const double robustSoftness = settings.robustSoftness;
  e.robustLimit = 1e300;

  // The engine said why (message box or its message fields); there is nothing to retry.
  std::vector<ParamRec>& rec = e.params;
  auto refused = [&e] { return e.abandoned || !e.arrayMsg.empty() || !e.errorMsg.empty() || e.nPoints < 1; };
  // Room for the points is kept from fit to fit; only a longer interval than before allocates.
  const std::size_t room = static_cast<std::size_t>(std::max(e.nPoints, 0)) + 1;
  if (fs.points.size() < room) fs.points.resize(room);
  if (fs.discount.size() < room) fs.discount.resize(room);
  for (int i = 1; i <= e.nPoints; ++i) fs.points[i] = MeasurePoint(ws, i);
  IntervalFitModel model(ws, ws.model().CurrentTable(), fs.points.data());
  const FitSettings iterationSettings = e;
  // A fit from the start values converges on the measured weights first; raw counts are then fitted
  // again with the model's. A warm fit starts from a converged one and takes the model's at once.
  // The cold start holds the width at the law's: from marks a width off the truth a free width
  // smears the peak over both places and the fit stalls there.
  auto run = [&](bool warm) {
    const FitSettings before = e;
    model.modelWeights = warm && s.CountsAreRaw();
    ParamRec& width = rec[w0];
    const ParamRec freeWidth = width;
    if (!warm) {
      width.lower = width.upper = width.value;
      e.finalPass = false;
      e.eps = std::max(e.eps, 1.0);
    }
    model.FitWith(e);
    width.lower = freeWidth.lower;
    width.upper = freeWidth.upper;
    if (refused()) return false;
    if (!warm) {
      static_cast<FitSettings&>(e) = before;
      model.modelWeights = s.CountsAreRaw();
      model.FitWith(e);
      if (refused()) return false;
    }
    e.Diagnose();
    return true;
  };
  auto finish = [&](bool ok) {
    static_cast<FitSettings&>(e) = settings;
    fs.fitDone = ok;
    return ok;
  };

  std::vector<ParamRec>& start = fs.startParams;
  start.assign(rec.begin(), rec.begin() + e.nParams + 1);

  // The fit from the start values, then one more background term while the F-test of the data says
  // it lowers the residuals by more than noise would (a curved background left out biases the
  // areas); each richer fit starts from the converged one.
  auto attempt = [&] {
    const FitSettings iterations = e;
    if (!run(false)) return false;
    while (automatic && degree < maxDegree && MostlyBackground(fs, rec, e.nPoints)) {
      const double variance = std::max(e.chi2, 1.0);
      if (!(BackgroundTermGain(ws, model, degree + 2) / variance > kDegreeTest)) break;
      fs.backgroundDegree = ++degree;
      SetRecord(rec[degree + 1], -1e11, 0, 1e11);
      static_cast<FitSettings&>(e) = iterations;
      if (!run(true)) return false;
    }
    return true;
  };
  if (!attempt()) return finish(false);
  if (Doubtful(e)) {
    // One more attempt from the start values, more damped and with a shorter step: a fit that ran
    // away from a poor start is not a good place to go on from.
    fs.retried = true;
    std::copy(start.begin(), start.end(), rec.begin());
    degree = fs.backgroundDegree = automatic ? std::min(1, maxDegree) : degree;
    FixBackgroundAbove(e, degree);
    static_cast<FitSettings&>(e) = iterationSettings;
    e.Relax();
    if (!attempt()) return finish(false);
  }
  const FitSettings refitSettings = e;

  // Isolated outliers of the converged fit (a single channel far off while its neighbours agree,
  // not at a peak) get the robust rule's reduced weight, and the interval is fitted again.
  {
    double* discount = fs.discount.data();
    std::fill(discount, discount + e.nPoints + 1, 1.0);
    std::vector<double>& t = fs.normalised;
    t.assign(static_cast<std::size_t>(e.nPoints) + 2, 0.0);
    for (int i = 1; i <= e.nPoints; ++i) {
      double y, w, f;
      model(y, w, f, 3, i);
      t[i] = w > 0 && std::isfinite(f) ? std::fabs(y - f) * std::sqrt(w) : 0;
    }
    const double width = rec[w0].value;
    bool any = false;
    for (int i = 1; i <= e.nPoints; ++i) {
      if (t[i] < robustLimit || t[i - 1] >= robustLimit / 2 || t[i + 1] >= robustLimit / 2) continue;
      const double at = fs.points[i].at;
      bool atPeak = false;
      for (int k = 1; k <= n; ++k) atPeak |= std::fabs(at - rec[PositionIndex(n, k)].value) < width;
      if (atPeak) continue;
      const double ratio = t[i] / robustLimit;
      discount[i] = (1 + robustSoftness) / (ratio * ratio + robustSoftness);
      any = true;
    }
    if (any) {
      model.discount = discount;
      static_cast<FitSettings&>(e) = refitSettings;
      if (!run(true)) return finish(false);
    }
  }

  // A peak whose area stays within twice its error is refitted with its position held at its mark:
  // a free position climbs the nearest upward fluctuation and makes an absent peak look present.
  bool held = false;
  for (int k = 1; k <= n; ++k) {
    const PeakFigures r = PeakResult(ws, k);
    if (std::fabs(r.area) >= 2 * r.areaError) continue;
    ParamRec& position = rec[PositionIndex(n, k)];
    position.value = position.lower = position.upper = StartPosition(fs, positions[k]);
    held = true;
  }
  if (held) {
    static_cast<FitSettings&>(e) = refitSettings;
    if (!run(true)) return finish(false);
  }
  return finish(true);
}

PeakFigures PeakResult(const Workspace& ws, int k) {
  const IntervalFitState& fs = ws.fit;
  const TParameter& e = ws.engine;
  const TSpectrum& s = ws.spectrum;
  const int n = fs.n;
  PeakFigures r;
  const int ia = AmplitudeIndex(k), ip = PositionIndex(n, k), i0 = WidthIndex(n), i1 = WidthVariableIndex(n);
  r.position = e.params[ip].value;
  r.positionError = e.params[ip].error;

  const double x = fs.Coordinate(r.position);
  const double a = e.params[ia].value;
  r.width = e.params[i0].value + e.params[i1].value * x;
  const double varW = e.Covariance(i0, i0) + 2 * x * e.Covariance(i0, i1) + x * x * e.Covariance(i1, i1);
  const double covAW = e.Covariance(ia, i0) + x * e.Covariance(ia, i1);
  // With w1 fixed (the usual case) this is the error of w0.
  r.widthError = varW > 0 ? std::sqrt(varW) : e.params[i0].error;
  // Signed: a peak that is not there must be free to come out below 0, or its mean is biased up.
  r.area = a * r.width;
  const double sa = e.params[ia].error;
  double varArea = sa * sa * r.width * r.width + a * a * varW + 2 * a * r.width * covAW;
  if (!(varArea >= 0)) varArea = sa * sa * r.width * r.width + a * a * varW;
  r.areaError = std::sqrt(std::max(varArea, 0.0));

  // Counts within 1.5 widths of the peak (inside the interval) against everything else the fit puts
  // there: the background and the other peaks. So a side peak is not credited with its neighbour's
  // counts.
  const int first = std::max({fs.startChannel, s.a1, RoundHalfEven(r.position - 1.5 * r.width)});
  const int last = std::min({fs.endChannel, s.a2, RoundHalfEven(r.position + 1.5 * r.width)});
  const ParamRec* p = e.params.data();
  std::array<double, kMaxPeaks + 2> components;
  double total = 0, under = 0;
  for (int ch = first; ch <= last; ++ch) {
    total += s.CountAt(ch);
    IntervalPoint d;
    d.inside = true;
    d.channel = ch;
    d.at = ch;
    d.x = fs.Coordinate(ch);
    Chebyshev(d.x, d.t2, d.t3);
    double y, w, f;
    PointModel<0, true>(
        n, RecordValue{p}, [](int, double) {}, ws.model().CurrentTable(), d, y, w, f, components.data());
    under += f - components[1 + k];
  }
  r.criterion = (total - under) / std::sqrt(std::fabs(total) + std::fabs(under) + 1);
  r.background = std::fabs(under);
  return r;
}

}  // namespace orv
