#include "core/engine.h"

#include <algorithm>
#include <cmath>

#include "core/numtext.h"

namespace orv {

namespace {

constexpr double kHuge = 1e16;
constexpr double kPivotLimit = 1e-16;
constexpr double kFinalDamping = 1e-5;

bool IsFixed(const ParamRec& p) {
  return p.lower == p.upper;
}

}  // namespace

void TParameter::Create(int nParamsIn, int nPointsIn, int matrixDim) {
  paramCapacity_ = std::max(0, nParamsIn);
  matrixCapacity_ = std::max(0, matrixDim);
  const std::size_t perParam = static_cast<std::size_t>(paramCapacity_) + 1;
  const std::size_t rows = static_cast<std::size_t>(matrixCapacity_);
  params.assign(perParam, ParamRec{});
  stepOf_.assign(perParam, 0);
  invDiagOf_.assign(perParam, 0);
  oldValue_.assign(perParam, 0);
  rowOf_.assign(perParam, 0);
  row_.assign(rows, 0);
  summed_.assign(rows, 1);
  nonzero_.assign(rows, 0);
  usedPivot_.assign(rows, 0);
  for (Eigen::VectorXd* v : {&g_, &rhs_, &diag_, &undamped_, &damped_, &d_}) v->setZero(matrixCapacity_);
  m_.a.setZero(matrixCapacity_, matrixCapacity_);
  summedRow_.assign(rows, 0);
  block_.setZero(matrixCapacity_, matrixCapacity_);
  chunk_.setZero(kChunk, kChunkRows);
  weightedChunk_.setZero(kChunk, kChunkRows);
  sums_.setZero(kChunkRows, kChunkRows);
  for (Eigen::VectorXd* v : {&chunkWeight_, &chunkResidual_}) v->setZero(kChunk);
  rhsSums_.setZero(kChunkRows);
  m_.holdsInverse = false;
  // Message texts and trace lines then fit without reallocation.
  for (auto* s : {&compressionMsg, &warningMsg, &errorMsg, &arrayMsg}) s->reserve(64);
  line_.reserve(256);
  nParams = paramCapacity_;
  nPoints = nPointsIn;
  InitParams();
}

void TParameter::InitParams() {
  for (std::size_t k = 0; k < params.size(); ++k) {
    params[k] = ParamRec{};
    params[k].master = static_cast<int>(k);
  }
}

void TParameter::ApplyStartupSettings() {
  nPoints = 0;
  SetDefaults();
  eps = 0.1;
  step = 0.99;
  damper = 0.01;
  maxIter = 10;
  robustLimit = 4.0;
  robustSoftness = 0.25;
  InitParams();
  nParams = 0;
}

void TParameter::Diagnose() {
  notDefinite = definite != 1;
  notInverted = inverted != 1;
  poorQuality = chi2 > 3.0;
  accuracyNotReached = accuracy > eps;
  signImbalance = (chiPlus < 0.25 || chiPlus > 0.75) && chi2 > 0.1;
}

void TParameter::Relax() {
  damper = std::min(10 * damper, 0.1);
  step = 0.5 * step;
  pointStep = 1;
  if (maxIter != 0) {
    ++maxIter;
    if (maxIter >= 2 && maxIter <= 4) maxIter = 5;
  }
}

bool TParameter::IsFree(int k) const {
  return params[k].master == k && !IsFixed(params[k]);
}

// ---------------------------------------------------------------------------------------------
// The fit: iterations, then a final pass for the errors.

void TParameter::FitWith(ModelRef model, AfterPassRef afterPass) {
  const FitSettings saved = *this;
  pointStep = std::max(pointStep, 1);
  if (robustLimit == 0) robustLimit = 1.0;
  inverted = 1;
  definite = 1;
  atBoundary = 0;
  iter = 0;
  sumSigma_ = 0;
  accuracy = kHuge;
  conditioning = kHuge;
  status = 1;
  prevCriterion = kHuge;
  compressionMsg.clear();
  warningMsg.clear();
  errorMsg.clear();
  arrayMsg.clear();
  abandoned = false;
  stepApplied_ = false;
  m_.holdsInverse = false;
  compact_ = compactMode != 0;

  bool ok = CheckCounts();
  if (ok) {
    PrepareParameters();
    ok = CheckArrays();
  }
  if (ok) {
    currentStep_ = step;
    dampingFloor_ = damper;
    rejected_ = false;
    start_ = 1;
    phase = 1;
    bool alive = true;
    if (maxIter != 0) {
      do {
        definite = 1;
        alive = RunPass(model, afterPass);
        if (!alive) break;
        if (showProgress && port) {
          port->ShowMessage(std::to_string(iter) + " " + FormatNumber(12, 4, criterion) + "-" +
                            std::to_string(dof));
        }
        ++iter;
      } while (status == 1 && inverted == 1 && iter < maxIter && (accuracy > eps || criterion > chiTarget));
    }
    if (alive && finalPass) {
      phase = 3;
      if (tracePeriod != 0) WriteIterationTrace();
      // The final pass covers every point, whatever offset the subsample rotation had reached.
      pointStep = 1;
      start_ = 1;
      for (int k = 1; k <= nParams; ++k) params[k].error = 0;
      if (inverted == 1 && RunPass(model, afterPass)) {
        m_.holdsInverse = inverted == 1;
        covarianceParams_ = nParams;
      }
    }
  }
  static_cast<FitSettings&>(*this) = saved;
}

bool TParameter::CheckCounts() {
  if (nPoints >= 1 && nParams >= 1 && nParams <= paramCapacity_) return true;
  status = 0;
  if (port) {
    port->ShowMessage("N points= " + std::to_string(nPoints) + "  N pars= " + std::to_string(nParams));
  }
  return false;
}

void TParameter::PrepareParameters() {
  hasDependents_ = false;
  for (int i = 1; i <= nParams; ++i) {
    ParamRec& p = params[i];
    if (p.master == i) continue;
    hasDependents_ = true;
    if (p.master >= 1 && p.master < i) {
      const ParamRec& m = params[p.master];
      p.lower = p.coef * m.lower + p.offset;
      p.value = p.coef * m.value + p.offset;
      p.upper = p.coef * m.upper + p.offset;
    }
  }
  for (int i = 1; i <= nParams; ++i) {
    ParamRec& p = params[i];
    if (p.lower > p.upper) std::swap(p.lower, p.upper);
    // A dependent on a fixed master is fixed itself; it cannot take part in the dependence. A record
    // with an invalid master keeps it so that the array check still reports it.
    if (p.master != i && p.master >= 1 && p.master < i && p.lower == p.upper) {
      p.master = i;
      warningMsg = "Warning! Fixing and dependence contradiction removed";
    }
  }
  // Full mode: a row per parameter; compact mode: a row per free independent parameter.
  nFree = 0;
  for (int k = 1; k <= nParams; ++k) {
    rowOf_[k] = 0;
    if (compact_ && !IsFree(k)) continue;
    if (nFree < matrixCapacity_) {
      row_[nFree] = k;
      rowOf_[k] = nFree + 1;
    }
    ++nFree;
  }
  if (compact_) {
    compressionMsg = ".... Compression: from ";
    compressionMsg += FormatNumber(4, 0, nParams);
    compressionMsg += "  to ";
    compressionMsg += FormatNumber(4, 0, nFree);
  }
  // In full mode the row and column of a fixed parameter become identity rows when the equations
  // are finished, so their products need not be summed; dependents fold their rows into their
  // masters and keep them.
  nSummed_ = 0;
  for (int r = 0; r < std::min(nFree, matrixCapacity_); ++r) {
    summed_[r] = compact_ || fixedMode != 0 || hasDependents_ || !IsFixed(params[row_[r]]);
    if (summed_[r]) summedRow_[nSummed_++] = r;
  }
  // The per-point traces need the sums as they grow.
  chunked_ = nSummed_ <= kChunkRows && !traceAccuracy && !traceDerivatives;
}

bool TParameter::CheckArrays() {
  bool bad = false;
  for (int i = 1; i <= nParams; ++i) {
    const ParamRec& p = params[i];
    // A master outside 1..i would index outside the array when derivatives are folded.
    if (p.master > i || p.master < 1 || p.coef == 0) {
      bad = true;
      arrayMsg = "Wrong parameter array";
      status = 0;
      if (port) port->ShowMessage(arrayMsg);
    }
  }
  if (bad) return false;
  if (nFree == 0) {
    errorMsg = "Error, no free parameters";
    status = 0;
    return false;
  }
  if (nFree > matrixCapacity_) {  // only when Create was given a matrix smaller than the records
    status = 0;
    if (port) {
      port->ShowMessage("N points= " + std::to_string(nPoints) + "  N pars= " + std::to_string(nParams));
    }
    return false;
  }
  return true;
}

// One pass over the points: robust weights, normal equations, inversion, errors and (phase 1) the
// step. False when the fit must be abandoned.
bool TParameter::RunPass(ModelRef model, AfterPassRef afterPass) {
  const int n = nFree;
  rhs_.head(n).setZero();
  diag_.head(n).setZero();
  if (chunked_) {
    sums_.topLeftCorner(nSummed_, nSummed_).setZero();
    rhsSums_.head(nSummed_).setZero();
    chunkCount_ = 0;
  } else {
    m_.a.topLeftCorner(n, n).setZero();
  }
  for (int k = 1; k <= nParams; ++k) params[k].deriv = 0;

  // Rule 2 weighs a point by its variance until its normalised residual t reaches c0, then by
  // (1 + a)/((t/c0)² + a) times less; rules 0 and 1 weigh by a power of the residual itself.
  const bool equalize = equalWeights && iter > 0 && phase != 3 && sumSigma_ > 0;
  const double common = equalize ? (dof / sumSigma_) * (dof / sumSigma_) : 0;
  const double c0 = robustLimit, a = robustSoftness;
  const double goodLimit = 1 + std::sqrt(18.0 / nPoints);
  const bool rule2 = weightKind != 0 && weightKind != 1;  // any other number weighs as rule 2
  const bool residuals = phase == 3 && traceResiduals;
  double sum = 0, sumPlus = 0;
  int good = 0, last = start_ - 1;
  nZeroWeight = 0;
  for (int i = start_; i <= nPoints; i += pointStep) {
    last = i;
    double y = 0, w = 0, f = 0;
    model(y, w, f, phase, i);
    // A value the model cannot give (a NaN count, say) is left out like a point of weight 0, so
    // that one bad number cannot poison the whole normal matrix.
    if (w == 0 || !std::isfinite(w) || !std::isfinite(y) || !std::isfinite(f)) {
      ++nZeroWeight;
      continue;
    }
    if (iter == 0) sumSigma_ += 1 / std::sqrt(std::fabs(w));
    if (equalize) w = common;
    const double r = y - f;
    double wPrime, c;
    if (rule2) {
      wPrime = w;
      c = r * r * w;  // t², t = |r|·√w the normalised residual
      if (c >= c0 * c0) {
        const double q = (1 + a) / (c / (c0 * c0) + a);
        wPrime *= q;
        c *= q;
      }
    } else {
      const double s = std::sqrt(w);
      const double t = std::fabs(r) * s;
      wPrime = weightKind == 0 ? std::sqrt(s) / std::max(1e-6, t * std::sqrt(t))
                               : s / std::max(1e-6, std::fabs(r));
      c = r * r * wPrime;
    }
    sum += c;
    if (c < goodLimit) ++good;
    if (r > 0) sumPlus += c;
    Accumulate(wPrime, r * wPrime);
    if (residuals) WriteResidual(i, y, f, c, wPrime);
  }
  if (chunked_) FlushChunk();

  if (nZeroWeight == nPoints) {
    if (port) port->ShowMessage("All errors=0.Fit stopped");
    abandoned = true;
    status = 0;
    return false;
  }

  FinishNormalEquations();
  chi2 = sum / dof;
  chiPlus = sumPlus / std::max(sum, 1e-6);
  goodFraction = static_cast<double>(good) / std::max(1, nPoints);
  afterPass(last + 1);

  Damp();
  if (!Invert()) {
    if (phase == 1) definite = 0;
    inverted = 0;
    return true;
  }
  if (traceInverse) WriteInverseTrace();
  if (phase == 3 && !compact_) definite = CheckDefinite();
  if (phase == 1) {
    ComputeStep();
    if (tracePeriod != 0 && iter % tracePeriod == 0) WriteIterationTrace();
    if (traceFofCorr) Write("FofCorr= " + FormatNumber(10, 2, fofCorr));
  }
  const auto& inv = m_.a;
  conditioning = undamped_.head(n).maxCoeff() * inv.diagonal().head(n).maxCoeff();

  // Back to parameter indices: rows that are not free give 0.
  for (int k = 1; k <= nParams; ++k) stepOf_[k] = invDiagOf_[k] = 0;
  for (int r = 0; r < n; ++r) {
    stepOf_[row_[r]] = phase == 1 ? d_[r] : 0;
    invDiagOf_[row_[r]] = inv(r, r);
  }
  for (int k = 1; k <= nParams; ++k) {
    ParamRec& p = params[k];
    if (IsFixed(p)) {
      p.error = 0;
    } else if (p.master != k) {
      p.error = std::fabs(p.coef) * params[p.master].error;
    } else {
      p.error = std::sqrt(std::fabs(invDiagOf_[k]));
    }
  }
  if (phase != 1) return true;

  criterion = chi2;
  if (increasePolicy == 1 && criterion > prevCriterion) {
    status = 0;
    return true;
  }
  const bool adaptive = increasePolicy == 3;
  // Right after a rejected step the parameters are back where the last accepted criterion was found;
  // a weight that depends on them may give it anew, so it is the criterion to beat from now on.
  const bool returned = rejected_;
  rejected_ = false;
  if ((increasePolicy == 2 || adaptive) && !returned && criterion > prevCriterion) {
    rejected_ = true;
    if (adaptive) {
      damper = std::min(10 * std::max(damper, 1e-3), 1e4);
    } else {
      step = 0.5 * step;
      currentStep_ = step;
      damper = std::min(2 * damper, 100.0);
    }
    pointStep = 1;
    start_ = 1;
    // Rejecting means going back to the point before the step that raised the criterion; staying
    // put would meet the same criterion again in every later pass.
    if (stepApplied_) {
      for (int k = 1; k <= nParams; ++k) params[k].value = oldValue_[k];
      UpdateBoundaryFlag();
    }
    return true;
  }
  // Adaptive damping (Levenberg–Marquardt): every accepted step lets the damping fall back towards
  // the fit's own, so that the fit goes on at full speed once near the minimum.
  // The pass that only re-measured the point a rejected step came from keeps the raised damping: it
  // must not lead straight back to the step just rejected.
  if (adaptive && !returned) damper = std::max(damper / 10, dampingFloor_);
  prevCriterion = criterion;
  ApplyStep();
  // The subsample rotates through every offset of the stride.
  if (start_ == pointStep) start_ = 0;
  ++start_;
  return true;
}

// Adds one point to the normal equations. Derivatives that are exactly zero add nothing, so a point
// touching few parameters visits only the rows of those (large intervals hold peaks far apart).
void TParameter::Accumulate(double wPrime, double rw) {
  const int n = nFree;
  if (compact_ && hasDependents_) {
    // Chain rule for value = coef·value[master] + offset; descending order carries the derivative of
    // a dependent of a dependent all the way to the root.
    for (int k = nParams; k >= 1; --k) {
      const ParamRec& p = params[k];
      if (p.master != k) params[p.master].deriv += p.deriv * p.coef;
    }
  }
  if (chunked_) {
    for (int a = 0; a < nSummed_; ++a) chunk_(chunkCount_, a) = params[row_[summedRow_[a]]].deriv;
    chunkWeight_[chunkCount_] = wPrime;
    chunkResidual_[chunkCount_] = rw;
    if (++chunkCount_ == kChunk) FlushChunk();
    return;
  }
  int nz = 0;
  for (int r = 0; r < n; ++r) {
    const double v = params[row_[r]].deriv;
    g_[r] = v;
    rhs_[r] += rw * v;  // every row enters the gradient
    if (v != 0 && summed_[r]) nonzero_[nz++] = r;
  }
  if (traceDerivatives) WriteNumbers(g_.data(), n, 13, 4, 5, "  deriv");
  for (int p = 0; p < nz; ++p) {
    const int i = nonzero_[p];
    const double dw = g_[i] * wPrime;
    diag_[i] += dw * g_[i];
    for (int q = p + 1; q < nz; ++q) m_.a(i, nonzero_[q]) += dw * g_[nonzero_[q]];
  }
  if (traceAccuracy) WriteNumbers(diag_.data(), n, 14, 4, 5, "");
}

// The chunk's products: sums += Gᵀ·W·G and the right-hand sides += Gᵀ·(W·r).
void TParameter::FlushChunk() {
  const int count = chunkCount_, na = nSummed_;
  if (count == 0) return;
  const auto g = chunk_.topLeftCorner(count, na);
  auto weighted = weightedChunk_.topLeftCorner(count, na);
  weighted = g.array().colwise() * chunkWeight_.head(count).array();
  sums_.topLeftCorner(na, na).noalias() += weighted.transpose() * g;
  rhsSums_.head(na).noalias() += g.transpose() * chunkResidual_.head(count);
  chunkCount_ = 0;
}

void TParameter::FinishNormalEquations() {
  const int n = nFree;
  auto& m = m_.a;
  if (chunked_) {
    // Rows left out of the sums are fixed parameters, made identity rows below.
    m.topLeftCorner(n, n).setZero();
    for (int a = 0; a < nSummed_; ++a) {
      const int i = summedRow_[a];
      rhs_[i] = rhsSums_[a];
      diag_[i] = sums_(a, a);
      for (int c = a + 1; c < nSummed_; ++c) m(i, summedRow_[c]) = sums_(a, c);
    }
  }
  for (int i = 0; i < n; ++i) {
    m(i, i) = diag_[i];
    for (int j = i + 1; j < n; ++j) m(j, i) = m(i, j);
  }
  removed_ = 0;
  if (!compact_) {
    // Descending order so that a dependent of a dependent reaches the root through its master.
    for (int k = nParams; k >= 1; --k) {
      const ParamRec& p = params[k];
      const bool dependent = p.master != k;
      if (!dependent && !IsFixed(p)) continue;
      ++removed_;
      const int rk = k - 1;
      if (dependent) {
        const int rm = p.master - 1;
        const double c = p.coef;
        rhs_[rm] += c * rhs_[rk];
        if (fixedMode == 0) {
          // The normal matrix of the substituted parameter: Tᵀ·M·T with column k added c-fold to m.
          const double mkk = m(rk, rk), mmk = m(rm, rk);
          for (int j = 0; j < n; ++j) {
            if (j == rk || j == rm) continue;
            m(rm, j) += c * m(rk, j);
            m(j, rm) += c * m(j, rk);
          }
          m(rm, rm) += 2 * c * mmk + c * c * mkk;
        }
      }
      rhs_[rk] = 0;
      if (fixedMode == 0) {
        m.row(rk).head(n).setZero();
        m.col(rk).head(n).setZero();
        m(rk, rk) = 1;
      }
    }
  }
  // The gradient of the fitted parameters only: along a fixed parameter it never vanishes.
  gradient_ = std::sqrt(rhs_.head(n).squaredNorm() / n);
  dof = std::max(1, (nPoints - nZeroWeight) / pointStep - n + removed_);
  chiSigma = std::sqrt(2.0 / dof);
  if (chiTarget < 0) chiTarget = 1 + chiSigma;
  undamped_.head(n) = m.diagonal().head(n);
}

void TParameter::Damp() {
  const int n = nFree;
  auto& m = m_.a;
  if (damper != 0) {
    const double lambda = phase == 1 ? damper : kFinalDamping;
    for (int r = 0; r < n; ++r) {
      if (!compact_ && IsFixed(params[row_[r]])) continue;
      double& mii = m(r, r);
      mii = std::fabs(mii) * (1 + lambda);
      // Only a parameter without any influence gets the bare damper as its diagonal. A fixed floor
      // (say 1e-7) would depend on the units of the data: with large counts and generous errors an
      // amplitude's diagonal is that small, and replacing it by the damper froze the amplitude.
      if (mii == 0 || !std::isfinite(mii)) mii = lambda;
    }
  }
  damped_.head(n) = m.diagonal().head(n);
  if (phase == 3 && !compact_) definite = CheckDefinite();
}

// In-place Gauss–Jordan inversion with the pivot on the diagonal: the largest unused diagonal
// element (the first one on ties). A pivot below 1e-16 in magnitude (or NaN) means singular.
namespace {

// In-place Gauss–Jordan inversion of the n × n matrix at `a` (rows `stride` apart) with the pivot on
// the diagonal: the largest unused diagonal element (the first one on ties). A pivot below 1e-16 in
// magnitude (or NaN) means singular.
bool GaussJordan(double* a, int n, std::ptrdiff_t stride, char* used) {
  std::fill(used, used + n, 0);
  for (int stepNo = 0; stepNo < n; ++stepNo) {
    int p = -1;
    double best = -1;
    for (int i = 0; i < n; ++i) {
      const double v = std::fabs(a[i * stride + i]);
      if (!used[i] && v > best) best = v, p = i;
    }
    if (p < 0 || !(best >= kPivotLimit)) return false;
    used[p] = 1;
    double* pivotRow = a + p * stride;
    const double inv = 1 / pivotRow[p];
    pivotRow[p] = 1;
    for (int j = 0; j < n; ++j) pivotRow[j] *= inv;
    for (int i = 0; i < n; ++i) {
      double* row = a + i * stride;
      const double factor = row[p];
      if (i == p || factor == 0) continue;  // a zero factor changes nothing
      for (int j = 0; j < n; ++j) row[j] -= factor * pivotRow[j];
      row[p] = 0.0 - factor * pivotRow[p];  // as if the pivot column had been cleared first
    }
  }
  return true;
}

}  // namespace

bool TParameter::Invert() {
  const int n = nFree, na = nSummed_;
  auto& m = m_.a;
  if (na == n) return GaussJordan(m.data(), n, m.cols(), usedPivot_.data());
  // The rows left out of the sums are identity rows of fixed parameters: no pivot step touches them
  // and theirs touch nothing else, so the summed rows are inverted alone, as a block.
  auto block = block_.topLeftCorner(na, na);
  for (int a = 0; a < na; ++a)
    for (int c = 0; c < na; ++c) block(a, c) = m(summedRow_[a], summedRow_[c]);
  if (!GaussJordan(block.data(), na, block_.cols(), usedPivot_.data())) return false;
  for (int a = 0; a < na; ++a)
    for (int c = 0; c < na; ++c) m(summedRow_[a], summedRow_[c]) = block(a, c);
  return true;
}

int TParameter::CheckDefinite() const {
  const int n = nFree;
  const auto& m = m_.a;
  for (int i = 0; i < n; ++i) {
    if (m(i, i) < 0) return 0;
  }
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      const double mii = m(i, i), mjj = m(j, j), mij = m(i, j);
      const double top = std::max({mjj, mii, std::fabs(mij)});
      if (top == 0 || (mii / top) * mjj - (mij / top) * mij <= 0) return 0;
    }
  }
  return 1;
}

// The Gauss–Newton step d = M⁻¹·b and the correlation figure.
void TParameter::ComputeStep() {
  const int n = nFree;
  const auto& inv = m_.a;
  double corr = 0;
  for (int i = 0; i < n; ++i) {
    double di = 0;
    for (int j = 0; j < n; ++j) di += inv(i, j) * rhs_[j];
    d_[i] = di;
    corr += inv(i, i) * damped_[i];
  }
  fofCorr = corr / std::max(1, n);
}

void TParameter::ApplyStep() {
  double sum = 0;
  for (int k = 1; k <= nParams; ++k) {
    ParamRec& p = params[k];
    oldValue_[k] = p.value;
    if (p.master != k) continue;  // recomputed from its master below
    const double v = std::clamp(p.value + currentStep_ * stepOf_[k], p.lower, p.upper);
    p.value = v;
    // The step in units of the parameter's own error: the same at any count scale.
    if (invDiagOf_[k] > 0) {
      const double change = v - oldValue_[k];
      sum += change * change / invDiagOf_[k];
    }
  }
  for (int k = 1; k <= nParams; ++k) {
    ParamRec& p = params[k];
    if (p.master != k) p.value = p.coef * params[p.master].value + p.offset;
  }
  stepApplied_ = true;
  UpdateBoundaryFlag();
  const double spread = std::sqrt(std::fabs(sum) / nFree);
  accuracy = spread;
  if (traceAccuracy) {
    Write("Diag= " + FormatNumber(15, 4, gradient_) + FormatNumber(10, 4, spread) +
          FormatNumber(15, 4, accuracy) + FormatNumber(10, 3, chi2));
  }
}

void TParameter::UpdateBoundaryFlag() {
  atBoundary = 0;
  for (int k = 1; k <= nParams; ++k) {
    const ParamRec& p = params[k];
    if (IsFree(k) && (p.value == p.lower || p.value == p.upper)) atBoundary = 1;
  }
}

// ---------------------------------------------------------------------------------------------
// Covariance

int TParameter::Root(int k, double& factor) const {
  while (params[k].master != k) {
    const int m = params[k].master;
    if (m < 1 || m >= k) return 0;
    factor *= params[k].coef;
    k = m;
  }
  return IsFixed(params[k]) ? 0 : k;
}

double TParameter::Covariance(int i, int j) const {
  if (!m_.holdsInverse || nParams != covarianceParams_) return 0;
  if (i < 1 || j < 1 || i > nParams || j > nParams) return 0;
  double fi = 1, fj = 1;
  i = Root(i, fi);
  j = Root(j, fj);
  if (i == 0 || j == 0 || rowOf_[i] == 0 || rowOf_[j] == 0) return 0;
  return fi * fj * m_.a(rowOf_[i] - 1, rowOf_[j] - 1);
}

// ---------------------------------------------------------------------------------------------
// Traces

void TParameter::Write(const std::string& line) {
  if (sink) sink->WriteLine(line);
}

void TParameter::WriteNumbers(const double* values, int count, int width, int decimals, int perLine,
                              const char* suffix) {
  if (!sink) return;
  line_.clear();
  int inLine = 0;
  for (int k = 0; k < count; ++k) {
    line_ += FormatNumber(width, decimals, values[k]);
    if (++inLine == perLine || k == count - 1) {
      line_ += suffix;
      Write(line_);
      line_.clear();
      inLine = 0;
    }
  }
}

void TParameter::WriteResidual(int i, double y, double f, double c, double wPrime) {
  line_ = FormatNumber(5, 0, static_cast<double>(i));
  for (double v : {y, f, c, 1 / std::sqrt(wPrime)}) line_ += FormatNumber(10, 2, v);
  Write(line_);
}

void TParameter::WriteIterationTrace() {
  if (!sink) return;
  line_ = "Iter.= " + FormatNumber(4, 0, iter + 1) + "  chi2= " + FormatNumber(8, 2, chi2) +
          "   Eps= " + FormatNumber(5, 1, accuracy) + " Step= " + FormatNumber(6, 3, currentStep_) +
          " Damp= " + FormatNumber(9, 6, damper);
  Write(line_);
  std::vector<double> values(nParams);
  for (int k = 0; k < nParams; ++k) values[k] = params[k + 1].value;
  WriteNumbers(values.data(), nParams, 12, 4, 5, "");
}

void TParameter::WriteInverseTrace() {
  if (!sink) return;
  const int n = nFree;
  const auto& inv = m_.a;
  const double m = std::max(1.0, inv.topLeftCorner(n, n).cwiseAbs().maxCoeff());
  Write(".... Inverse LS matrix + vector  norm.c.= " + FormatNumber(15, 7, m));
  Eigen::VectorXd row(n);
  for (int i = 0; i < n; ++i) {
    row = inv.row(i).head(n).transpose() / m;
    WriteNumbers(row.data(), n, 7, 4, 10, "");
  }
  row = rhs_.head(n) / m;
  WriteNumbers(row.data(), n, 7, 4, 10, "");
}

}  // namespace orv
