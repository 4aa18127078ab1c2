// The nonlinear least-squares engine: a damped Gauss–Newton iteration on the normal equations with
// bounds, fixed parameters, linear dependence of one parameter on another and robust weights,
// followed by a final pass that yields errors and fit-quality figures. The model is handed in as a
// callable; the engine knows nothing about spectra.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/port.h"

// Code compiled for four-double vectors (AVX2, without fused multiply-add, so every result is the
// same as the plain code's) runs where the processor has them.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORV_WIDE_VECTORS 1
#define ORV_WIDE [[gnu::target("avx2")]]
#else
#define ORV_WIDE_VECTORS 0
#define ORV_WIDE
#endif

namespace orv {

#if ORV_WIDE_VECTORS
// Whether the processor has four-double vectors (checked once).
bool WideVectors();
#endif

// A non-owning reference to a callable (lambda or functor) that lives at least as long as the
// call it is passed to. Calling it costs one indirect call and never allocates.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  // Implicit on purpose: a lambda passed where a FunctionRef is expected is referred to, not copied.
  template <class F, class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
                                              std::is_invocable_r_v<R, F&, Args...>>>
  FunctionRef(F& f)
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        }) {}
  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_;
  R (*call_)(void*, Args...);
};

// One fitted parameter. lower = upper fixes it; master ≠ own index makes it depend linearly on an
// earlier parameter: value = coef·value[master] + offset.
struct ParamRec {
  int master = 0;
  double lower = -1e15, value = 0, upper = 1e15;
  double coef = 1, offset = 0;
  double error = 0;  // standard error after the fit; 0 for fixed parameters
  double deriv = 0;  // written by the model: ∂f/∂value at the current point
};

// The settings block: saved when a fit starts and restored when it ends, so that changes made while
// fitting do not outlive the fit.
struct FitSettings {
  int pointStep = 1;       // stride through the points in iterations; the final pass uses 1
  int maxIter = 5;         // 0 = only the final pass
  int tracePeriod = 0;     // n > 0: iteration trace every n-th iteration and once after the last
  int fixedMode = 0;       // 0: identity rows for fixed/dependent parameters; other: clear b only
  int weightKind = 2;      // robust weighting rule 0, 1 or 2
  int compactMode = 0;     // 0: one row per parameter; other: one row per free independent one
  int increasePolicy = 0;  // criterion grows: 0 accept, 1 stop, 2 reject the step and shrink it
  bool equalWeights = false;
  bool showProgress = false;
  bool traceInverse = false;
  bool traceDerivatives = false;
  bool checkDerivatives = false;  // kept for the settings layout; no check is implemented
  bool traceResiduals = false;
  bool traceAccuracy = false;
  bool traceFofCorr = false;
  double eps = 0.5;             // required accuracy
  double chiTarget = 1.0;       // required criterion; negative: 1 + sqrt(2/ν)
  double step = 0.999;          // fraction of the Gauss–Newton step applied
  double damper = 1e-5;         // Marquardt factor λ
  double robustLimit = 1e6;     // c0 of rule 2
  double robustSoftness = 1e6;  // a of rule 2
};

// A run of points first, first + stride, … valued at once by a model that can (see TParameter::Fit):
// measured value, weight and model value of the j-th in y[j], w[j], f[j], and its derivative by
// parameter k at derivs[j·rowStride + column[k]]. Parameters whose products are not summed share one
// spare column; the model writes every parameter's derivative, as on the per-point path.
struct PointRun {
  int first = 1, stride = 1, count = 0;
  double* y = nullptr;
  double* w = nullptr;
  double* f = nullptr;
  double* derivs = nullptr;
  int rowStride = 0;
  const int* column = nullptr;  // 1-based by parameter
  bool wide = false;            // the model may run code compiled with ORV_WIDE
};

// A model that also values runs of points: model.Run(run) writes what `run` asks for. It must give
// the same numbers as calling the model point by point.
template <class Model, class = void>
inline constexpr bool kRunModel = false;
template <class Model>
inline constexpr bool
    kRunModel<Model, std::void_t<decltype(std::declval<Model&>().Run(std::declval<const PointRun&>()))>> =
        true;

class TParameter : public FitSettings {
 public:
  using ModelRef = FunctionRef<void(double& y, double& w, double& f, int phase, int i)>;
  using AfterPassRef = FunctionRef<void(int next)>;

  // Messages of the last fit (empty when nothing happened).
  std::string compressionMsg, warningMsg, errorMsg, arrayMsg;

  // State and results.
  int nParams = 0, nFree = 0, nPoints = 0;
  int status = 0;      // 1 while the iteration may go on; 0 after a stop or a refused fit
  int definite = 1;    // the last matrix tested was positive definite
  int inverted = 1;    // the normal matrix could be inverted
  int atBoundary = 0;  // after the last step a free independent parameter sits on a bound
  int iter = 0;
  int dof = 1;  // ν, at least 1
  int nZeroWeight = 0;
  double chi2 = 0, chiPlus = 0, goodFraction = 0, chiSigma = 0;
  double accuracy = 1e16, conditioning = 1e16, fofCorr = 1;
  double criterion = 0, prevCriterion = 1e16;
  int phase = 1;  // 1 during iterations, 3 in the final pass
  bool notDefinite = false, notInverted = false, poorQuality = false, accuracyNotReached = false,
       signImbalance = false;
  // Every point had weight 0: the caller must abandon its command without a further message.
  bool abandoned = false;

  // 1-based; element 0 unused.
  std::vector<ParamRec> params;

  // Four-double vectors where the processor has them; off, the two-double code runs (same results).
  bool allowWideVectors = true;

  // Set by the owner; either may be null. The port shows message boxes, the sink takes the traces.
  UiPort* port = nullptr;
  LineSink* sink = nullptr;

  // Allocates every array once: nParams records, a matrixDim × matrixDim normal matrix.
  void Create(int nParams, int nPoints, int matrixDim);
  void SetDefaults() { static_cast<FitSettings&>(*this) = FitSettings{}; }
  void InitParams();
  // The settings the program starts with; leaves no parameter in use.
  void ApplyStartupSettings();

  // Runs the whole fit. model(y, w, f, phase, i) returns the measured value, its weight (0 skips
  // the point) and the model value of point i and writes params[k].deriv for every k; afterPass(i)
  // follows every pass with the index one past the last point visited.
  // The point loop is instantiated for the model's own type so that the model inlines into it: a
  // fit spends nearly all its time there. A model with Run is asked for runs of points where the sums are
  // formed in chunks, saving the round trip of every derivative through the parameter records.
  template <class Model, class AfterPass>
  void Fit(Model&& model, AfterPass&& afterPass) {
    auto points = [this, &model](PassTotals& totals) { VisitPoints(model, totals); };
    FitWith(PointsRef(points), AfterPassRef(afterPass));
  }
  template <class Model>
  void Fit(Model&& model) {
    auto none = [](int) {};
    Fit(model, none);
  }

  void Diagnose();
  // Prepares a second attempt after a doubtful fit: more damping, a shorter step, more iterations.
  void Relax();

  // Covariance of parameters i and j from the final pass (dependents through their coefficients);
  // 0 for fixed parameters and when no final pass inverted the matrix.
  double Covariance(int i, int j) const;

  int ParamCapacity() const { return paramCapacity_; }

 private:
  bool CheckCounts();
  void PrepareParameters();
  bool CheckArrays();
  // What one pass over the points sums up besides the normal equations.
  struct PassTotals {
    double sum = 0, sumPlus = 0;
    int good = 0;
    std::int64_t last = 0;  // the last point visited
  };
  using PointsRef = FunctionRef<void(PassTotals&)>;
  void FitWith(PointsRef points, AfterPassRef afterPass);
  template <class Model>
  void VisitPoints(Model& model, PassTotals& totals);
  struct PointWeigher;
  template <class Model>
  void VisitRuns(Model& model, PointWeigher& weigher);
  // kPlain: rule 2, weights not equalized, no residual trace.
  template <bool kPlain>
  [[gnu::always_inline]] int WeighRun(PointWeigher& weigher, int base, int m, std::int64_t first);
  // Out of line: inlined into the model's run it would compete with it for registers.
  template <bool kPlain>
  [[gnu::noinline]] int WeighRunPlain(PointWeigher& weigher, int base, int m, std::int64_t first) {
    return WeighRun<kPlain>(weigher, base, m, first);
  }
  template <bool kPlain>
  [[gnu::noinline]] ORV_WIDE int WeighRunWide(PointWeigher& weigher, int base, int m, std::int64_t first) {
    return WeighRun<kPlain>(weigher, base, m, first);
  }
  bool RunPass(PointsRef points, AfterPassRef afterPass);
  void Accumulate(double wPrime, double rw);
  void AccumulateDense(double wPrime, double rw);
  void FlushProducts();
  void WriteResidual(std::int64_t i, double y, double f, double c, double wPrime);
  void FinishNormalEquations();
  void Damp();
  bool Invert();
  int CheckDefinite() const;
  void ApplyStep();
  void UpdateBoundaryFlag();
  bool IsFree(int k) const;
  int Root(int k, double& factor) const;

  double& M(int i, int j) { return mat_.values[i * stride_ + j]; }
  double M(int i, int j) const { return mat_.values[i * stride_ + j]; }

  void Write(const std::string& line);
  void WriteNumbers(const double* values, int first, int last, int width, int decimals, int perLine,
                    const char* suffix);
  void WriteIterationTrace();
  void WriteInverseTrace();

  int paramCapacity_ = 0, matrixCapacity_ = 0;
  int stride_ = 1;
  bool compact_ = false;
  bool hasDependents_ = false;
  bool stepApplied_ = false;
  int covarianceParams_ = 0;
  int start_ = 1;
  double currentStep_ = 1;
  double sumSigma_ = 0;
  double gradient_ = 0;
  int removed_ = 0;

  // Rows of the normal equations (1..nFree).
  std::vector<double> rhs_, diag_, undamped_, damped_, d_, dv_, nzVal_;
  std::vector<int> freeIdx_, nzIdx_;
  std::vector<char> used_;
  std::vector<char> matrixRow_;  // 1: the row's products are summed (see PrepareParameters)
  // Small fits collect the derivatives of the rows that stay in the equations for a chunk of points
  // and form the sums of the chunk with each sum kept in a register across the chunk, still point by
  // point in the order of the points. The other rows (fixed parameters) are cleared anyway.
  static constexpr int kDenseRows = 24;
  static constexpr int kChunk = 64;
  std::vector<int> activeRows_;    // row index of each summed row
  std::vector<int> columnParams_;  // its parameter index
  // Row 0: right-hand sides; row a + 1: the products of summed row a from its diagonal on.
  std::vector<double> sums_;
  std::vector<double> chunkDerivs_, chunkWeights_, chunkResiduals_;
  // Measured and model values of a run of points, and the column of each parameter's derivative in
  // a chunk row (see PointRun): the summed rows, else the spare column past them.
  std::vector<double> runY_, runW_, runF_;
  std::vector<char> runKept_;
  std::vector<int> runColumn_;
  // The rows left out of the sums are identity rows of fixed parameters, untouched by the elimination
  // of the others and never limiting a pivot: inverting the rest alone as a block gives the same
  // numbers. With a single identity row its pivot step costs less than copying the rest back.
  std::vector<double> block_;
  bool InvertsBlock() const { return dense_ && nFree - nActive_ >= 2; }
  // An iteration that inverts the block needs of the matrix only its diagonal: the rest is neither
  // written nor read (the final pass, whose inverse gives the covariances, writes all of it).
  bool leanPass_ = false;
  int chunkCount_ = 0;
  int lanes_ = 2;          // doubles per vector of the sums: 4 where the processor has them
  int productStride_ = 0;  // nActive_ rounded up to whole vectors
  int derivStride_ = 0;    // a chunk row: productStride_ and a vector holding the spare column
  int nActive_ = 0;
  bool dense_ = false;
  // Per parameter (1..nParams).
  std::vector<double> stepOf_, invDiagOf_, oldValue_;
  std::vector<int> rowOf_;
  // The normal matrix and, after the final pass, its inverse: (matrixDim+1)² doubles, used as
  // (nFree+1) × (nFree+1), 1-based. A copy of the engine gets storage of the same size but not the
  // contents (nearly a megabyte, rebuilt by every pass): fit workers start from copies, and the
  // covariances of the copied fit are not carried over.
  struct NormalMatrix {
    std::vector<double> values;
    bool holdsInverse = false;  // the final pass left the inverse for Covariance
    NormalMatrix() = default;
    NormalMatrix(const NormalMatrix& other) : values(other.values.size()) {}
    NormalMatrix& operator=(const NormalMatrix& other) {
      if (values.size() != other.values.size()) values.assign(other.values.size(), 0.0);
      holdsInverse = false;
      return *this;
    }
    NormalMatrix(NormalMatrix&&) = default;
    NormalMatrix& operator=(NormalMatrix&&) = default;
  };
  NormalMatrix mat_;
  std::string line_;
};

namespace engine_detail {

template <int N>
inline void Gather(double* g, const ParamRec* rec, const int* col) {
#pragma GCC unroll 16
  for (int j = 0; j < N; ++j) g[j] = rec[col[j]].deriv;
}

// g[j] = rec[col[j]].deriv for j < n, unrolled for the sizes of interval fits.
[[gnu::always_inline]] inline void Gather(double* g, const ParamRec* rec, const int* col, int n) {
  switch (n) {
    case 1:
      return Gather<1>(g, rec, col);
    case 2:
      return Gather<2>(g, rec, col);
    case 3:
      return Gather<3>(g, rec, col);
    case 4:
      return Gather<4>(g, rec, col);
    case 5:
      return Gather<5>(g, rec, col);
    case 6:
      return Gather<6>(g, rec, col);
    case 7:
      return Gather<7>(g, rec, col);
    case 8:
      return Gather<8>(g, rec, col);
    case 9:
      return Gather<9>(g, rec, col);
    case 10:
      return Gather<10>(g, rec, col);
    case 11:
      return Gather<11>(g, rec, col);
    case 12:
      return Gather<12>(g, rec, col);
    case 14:
      return Gather<14>(g, rec, col);
    case 16:
      return Gather<16>(g, rec, col);
    default:
      for (int j = 0; j < n; ++j) g[j] = rec[col[j]].deriv;
  }
}

}  // namespace engine_detail

// Small fits: one point's derivatives into the chunk; the sums are formed when it is full.
[[gnu::always_inline]] inline void TParameter::AccumulateDense(double wPrime, double rw) {
  const int na = nActive_;
  double* g = chunkDerivs_.data() + static_cast<std::ptrdiff_t>(chunkCount_) * derivStride_;
  engine_detail::Gather(g, params.data(), columnParams_.data(), na);  // a padding column stays 0
  chunkWeights_[chunkCount_] = wPrime;
  chunkResiduals_[chunkCount_] = rw;
  if (++chunkCount_ == kChunk) FlushProducts();
}

// The robust weight and the criterion's sums of one point after another.
struct TParameter::PointWeigher {
  double goodLimit, c0, a, nearLimit, common;
  bool equalize, firstIteration;
  int kind;
  // Locals of the pass, not members: the model writes through pointers the compiler cannot tell
  // apart from members. No two sums side by side: stored together, the compiler packs them into one
  // vector and unpacks it at every point.
  double sum = 0;
  int good = 0;
  double sumPlus = 0;
  int zero = 0;
  double sumSigma = 0;

  bool Rule2() const { return kind != 0 && kind != 1; }  // any other number weighs as rule 2

  // False for a point left out: weight 0, or a value the model cannot give (a NaN count, say), so
  // that one bad number cannot poison the whole normal matrix. Else the weight w′, the residual r and
  // the point's term c of the criterion.
  // kRule2: the caller knows that the rule is 2 and the weights are not equalized.
  template <bool kRule2 = false>
  [[gnu::always_inline]] bool Weigh(double y, double w, double f, double& wPrime, double& r, double& c) {
    if (w == 0 || !std::isfinite(w) || !std::isfinite(y) || !std::isfinite(f)) {
      ++zero;
      return false;
    }
    if (firstIteration) sumSigma += 1 / std::sqrt(std::fabs(w));
    if (!kRule2 && equalize) w = common;
    r = y - f;
    if (kRule2 || Rule2()) {  // rule 2, the default
      wPrime = w;
      c = r * r * w;  // t², without the rounding of sqrt(w)²
      // t ≥ c0 tested first on t² = r²w with a margin for rounding, saving a square root per point.
      if (c >= nearLimit) {
        const double t = std::fabs(r) * std::sqrt(w);
        if (t >= c0) {
          const double ratio = t / c0;
          const double q = (1 + a) / (ratio * ratio + a);
          wPrime *= q;
          c *= q;
        }
      }
    } else {
      const double s = std::sqrt(w);
      const double t = std::fabs(r) * s;
      if (kind == 0) {
        wPrime = std::sqrt(s) / std::max(1e-6, t * std::sqrt(t));
      } else {
        wPrime = s / std::max(1e-6, std::fabs(r));
      }
      c = r * r * wPrime;
    }
    sum += c;
    if (c < goodLimit) ++good;
    sumPlus += r > 0 ? c : 0.0;  // a select: the sign of a residual is a coin toss for the branch predictor
    return true;
  }
};

// One pass over the points: robust weights, the criterion's sums and the normal equations.
template <class Model>
void TParameter::VisitPoints(Model& model, PassTotals& totals) {
  const double c0 = robustLimit;
  const bool equalize = equalWeights && iter > 0 && phase != 3 && sumSigma_ > 0;
  PointWeigher weigher{.goodLimit = 1 + std::sqrt(18.0 / nPoints),
                       .c0 = c0,
                       .a = robustSoftness,
                       .nearLimit = c0 > 0 ? c0 * c0 * (1 - 1e-9) : -1,
                       .common = equalize ? (dof / sumSigma_) * (dof / sumSigma_) : 0,
                       .equalize = equalize,
                       .firstIteration = iter == 0,
                       .kind = weightKind,
                       .sumSigma = sumSigma_};
  const bool inlineSums = dense_ && !traceDerivatives && !(compact_ && hasDependents_);
  std::int64_t last = start_ - 1;
  if constexpr (kRunModel<Model>) {
    if (inlineSums) {
      VisitRuns(model, weigher);
      const std::int64_t count = nPoints, stride = pointStep;
      if (count >= start_) last = start_ + (count - start_) / stride * stride;
    }
  }
  if (!kRunModel<Model> || !inlineSums) {
    const bool residuals = phase == 3 && traceResiduals;
    const int thePhase = phase;
    const std::int64_t stride = pointStep;
    const std::int64_t count = nPoints;
    for (std::int64_t i = start_; i <= count; i += stride) {
      last = i;
      double y = 0, w = 0, f = 0;
      model(y, w, f, thePhase, static_cast<int>(i));
      double wPrime, r, c;
      if (!weigher.Weigh(y, w, f, wPrime, r, c)) continue;
      if (inlineSums) {
        AccumulateDense(wPrime, r * wPrime);
      } else {
        Accumulate(wPrime, r * wPrime);
      }
      if (residuals) WriteResidual(i, y, f, c, wPrime);
    }
  }
  sumSigma_ = weigher.sumSigma;
  nZeroWeight = weigher.zero;
  totals.sum = weigher.sum;
  totals.sumPlus = weigher.sumPlus;
  totals.good = weigher.good;
  totals.last = last;
}

// The points in runs that fill the chunk: the model writes the derivatives straight into the chunk
// rows; a point left out gives its row to the next one.
template <class Model>
void TParameter::VisitRuns(Model& model, PointWeigher& weigher) {
  const std::int64_t stride = pointStep;
  const std::int64_t count = nPoints;
  // The usual case without a test per point for the rule, equal weights or traces.
  const bool plain = weigher.Rule2() && !weigher.equalize && !(phase == 3 && traceResiduals);
  for (std::int64_t i = start_; i <= count;) {
    const int base = chunkCount_;
    const int m = static_cast<int>(std::min<std::int64_t>(kChunk - base, (count - i) / stride + 1));
    model.Run(PointRun{.first = static_cast<int>(i),
                       .stride = static_cast<int>(stride),
                       .count = m,
                       .y = runY_.data(),
                       .w = runW_.data(),
                       .f = runF_.data(),
                       .derivs = chunkDerivs_.data() + static_cast<std::ptrdiff_t>(base) * derivStride_,
                       .rowStride = derivStride_,
                       .column = runColumn_.data(),
                       .wide = lanes_ == 4});
#if ORV_WIDE_VECTORS
    if (lanes_ == 4) {
      chunkCount_ =
          plain ? WeighRunWide<true>(weigher, base, m, i) : WeighRunWide<false>(weigher, base, m, i);
    } else
#endif
    {
      chunkCount_ =
          plain ? WeighRunPlain<true>(weigher, base, m, i) : WeighRunPlain<false>(weigher, base, m, i);
    }
    if (chunkCount_ == kChunk) FlushProducts();
    i += m * stride;
  }
}

// Weights and residuals of the run just valued; returns the new chunk count.
template <bool kPlain>
[[gnu::always_inline]] inline int TParameter::WeighRun(PointWeigher& totals, int base, int m,
                                                       std::int64_t first) {
  PointWeigher weigher = totals;  // a local, so that its sums stay in registers
  const bool residuals = !kPlain && phase == 3 && traceResiduals;
  const double* y = runY_.data();
  const double* w = runW_.data();
  const double* f = runF_.data();
  char* kept = runKept_.data();
  double* weights = chunkWeights_.data() + base;
  double* weighted = chunkResiduals_.data() + base;
  const int zeroBefore = weigher.zero;
  for (int j = 0; j < m; ++j) {
    double wPrime, r, c;
    kept[j] = weigher.template Weigh<kPlain>(y[j], w[j], f[j], wPrime, r, c);
    if (!kept[j]) continue;
    weights[j] = wPrime;
    weighted[j] = r * wPrime;
    if (residuals) WriteResidual(first + j * pointStep, y[j], f[j], c, wPrime);
  }
  totals = weigher;
  if (weigher.zero == zeroBefore) return base + m;
  // Points left out give their rows to the next ones (rare: no copying in the loop above, where a
  // call would make every sum live in memory).
  const std::ptrdiff_t rowStride = derivStride_;
  double* rows = chunkDerivs_.data() + base * rowStride;
  int to = 0;
  for (int j = 0; j < m; ++j) {
    if (!kept[j]) continue;
    if (to != j) {
      std::copy_n(rows + j * rowStride, productStride_, rows + to * rowStride);
      weights[to] = weights[j];
      weighted[to] = weighted[j];
    }
    ++to;
  }
  return base + to;
}

}  // namespace orv
