// The nonlinear least-squares engine: a damped Gauss–Newton iteration on the normal equations with
// bounds, fixed parameters, linear dependence of one parameter on another and robust weights,
// followed by a final pass that yields errors and fit-quality figures. The model is handed in as a
// callable; the engine knows nothing about spectra.
#pragma once

#include <Eigen/Core>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/port.h"

namespace orv {

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
// fitting (a retry's softer weights, say) do not outlive the fit.
struct FitSettings {
  int pointStep = 1;    // stride through the points in iterations; the final pass uses 1
  int maxIter = 5;      // 0 = only the final pass
  int tracePeriod = 0;  // n > 0: iteration trace every n-th iteration and once after the last
  int fixedMode = 0;    // 0: identity rows for fixed/dependent parameters; other: clear b only
  int weightKind = 2;   // robust weighting rule 0, 1 or 2
  int compactMode = 0;  // 0: one row per parameter; other: one row per free independent one
  // Criterion grows: 0 accept, 1 stop, 2 reject the step and shrink it; 3 reject it and damp ten
  // times more, each accepted step damping ten times less again, down to `damper`.
  int increasePolicy = 0;
  bool equalWeights = false;
  bool showProgress = false;
  bool traceInverse = false;
  bool traceDerivatives = false;
  bool checkDerivatives = false;  // kept for the settings layout; no check is implemented
  bool traceResiduals = false;
  bool traceAccuracy = false;
  bool traceFofCorr = false;
  bool finalPass = true;        // false: stop after the iterations (a first stage nobody reads errors of)
  double eps = 0.5;             // required accuracy
  double chiTarget = 1.0;       // required criterion; negative: 1 + sqrt(2/ν)
  double step = 0.999;          // fraction of the Gauss–Newton step applied
  double damper = 1e-5;         // Marquardt factor λ
  double robustLimit = 1e6;     // c0 of rule 2
  double robustSoftness = 1e6;  // a of rule 2
};

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
  // accuracy: the last step's root mean square in units of each parameter's error.
  double accuracy = 1e16, conditioning = 1e16, fofCorr = 1;
  double criterion = 0, prevCriterion = 1e16;
  int phase = 1;  // 1 during iterations, 3 in the final pass
  bool notDefinite = false, notInverted = false, poorQuality = false, accuracyNotReached = false,
       signImbalance = false;
  // Every point had weight 0: the caller must abandon its command without a further message.
  bool abandoned = false;

  // 1-based; element 0 unused.
  std::vector<ParamRec> params;

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
  template <class Model, class AfterPass>
  void Fit(Model&& model, AfterPass&& afterPass) {
    FitWith(ModelRef(model), AfterPassRef(afterPass));
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
  bool HoldsCovariances() const { return m_.holdsInverse && nParams == covarianceParams_; }

  int ParamCapacity() const { return paramCapacity_; }

 private:
  using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

  void FitWith(ModelRef model, AfterPassRef afterPass);
  bool CheckCounts();
  void PrepareParameters();
  bool CheckArrays();
  bool RunPass(ModelRef model, AfterPassRef afterPass);
  void Accumulate(double wPrime, double rw);
  void FlushChunk();
  void FinishNormalEquations();
  void Damp();
  bool Invert();
  int CheckDefinite() const;
  void ComputeStep();
  void ApplyStep();
  void UpdateBoundaryFlag();
  bool IsFree(int k) const;
  int Root(int k, double& factor) const;

  void Write(const std::string& line);
  void WriteNumbers(const double* values, int count, int width, int decimals, int perLine,
                    const char* suffix);
  void WriteResidual(int i, double y, double f, double c, double wPrime);
  void WriteIterationTrace();
  void WriteInverseTrace();

  int paramCapacity_ = 0, matrixCapacity_ = 0;
  bool compact_ = false;
  bool hasDependents_ = false;
  bool stepApplied_ = false;
  int covarianceParams_ = 0;
  int start_ = 1;
  double currentStep_ = 1;
  double dampingFloor_ = 0;  // the fit's own damper, for adaptive damping
  bool rejected_ = false;    // the last pass took its step back
  double sumSigma_ = 0;      // Σ 1/sqrt(w) of the first iteration, for equal weights
  double gradient_ = 0;
  int removed_ = 0;

  // Rows of the normal equations, 0-based: row r is parameter row_[r] (r + 1 in full mode).
  std::vector<int> row_;
  std::vector<int> rowOf_;    // per parameter: its row + 1, 0 when it has none
  std::vector<char> summed_;  // per row: its products are summed (fixed rows of full mode are not)
  std::vector<int> nonzero_;  // per point: the summed rows with a nonzero derivative
  std::vector<char> usedPivot_;
  Eigen::VectorXd g_;  // per point: the derivative of every row
  // Small problems (all but the widest intervals) collect the summed rows' derivatives of a chunk of
  // points and add the chunk's products to the sums as one matrix product; wide ones touch only the
  // rows of each point's nonzero derivatives.
  static constexpr int kChunkRows = 24;
  static constexpr int kChunk = 64;
  bool chunked_ = false;
  int nSummed_ = 0, chunkCount_ = 0;
  std::vector<int> summedRow_;  // the row of each summed row
  Matrix chunk_, weightedChunk_, sums_;
  Matrix block_;  // the summed rows of the normal matrix, inverted apart from the identity rows
  Eigen::VectorXd chunkWeight_, chunkResidual_, rhsSums_;
  Eigen::VectorXd rhs_, diag_, undamped_, damped_, d_;
  // The normal matrix, after inversion its inverse (the final pass's gives the covariances); the
  // products are summed into the upper triangle and mirrored when the pass is finished. A copy of
  // the engine gets room of the same size but not the contents: fit workers start from copies, and
  // the covariances of the copied fit belong to it alone.
  struct NormalMatrix {
    Matrix a;
    bool holdsInverse = false;
    NormalMatrix() = default;
    NormalMatrix(const NormalMatrix& other) : a(Matrix::Zero(other.a.rows(), other.a.cols())) {}
    NormalMatrix& operator=(const NormalMatrix& other) {
      if (a.rows() != other.a.rows() || a.cols() != other.a.cols()) a.setZero(other.a.rows(), other.a.cols());
      holdsInverse = false;
      return *this;
    }
    NormalMatrix(NormalMatrix&&) = default;
    NormalMatrix& operator=(NormalMatrix&&) = default;
  };
  NormalMatrix m_;
  // Per parameter (1..nParams).
  std::vector<double> stepOf_, invDiagOf_, oldValue_;
  std::string line_;
};

}  // namespace orv
