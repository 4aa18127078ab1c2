#include "core/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/numtext.h"

namespace orv {

namespace {

constexpr double kHuge = 1e16;
constexpr double kPivotLimit = 1e-16;
constexpr double kFinalDamping = 1e-5;

}  // namespace

#if ORV_WIDE_VECTORS
bool WideVectors() {
  static const bool wide = __builtin_cpu_supports("avx2");
  return wide;
}
#endif

namespace {

bool IsFixed(const ParamRec& p) {
  return p.lower == p.upper;
}

}  // namespace

void TParameter::Create(int nParamsIn, int nPointsIn, int matrixDim) {
  paramCapacity_ = std::max(0, nParamsIn);
  matrixCapacity_ = std::max(0, matrixDim);
  const std::size_t perParam = static_cast<std::size_t>(paramCapacity_) + 1;
  const std::size_t perRow = static_cast<std::size_t>(matrixCapacity_) + 1;
  params.assign(perParam, ParamRec{});
  stepOf_.assign(perParam, 0);
  invDiagOf_.assign(perParam, 0);
  oldValue_.assign(perParam, 0);
  rowOf_.assign(perParam, 0);
  for (auto* v : {&rhs_, &diag_, &undamped_, &damped_, &d_, &dv_}) v->assign(perRow, 0);
  freeIdx_.assign(perRow, 0);
  matrixRow_.assign(perRow, 1);
  activeRows_.assign(perRow, 0);
  columnParams_.assign(perRow, 0);
  sums_.assign((kDenseRows + 1) * kDenseRows, 0);
  block_.assign(kDenseRows * kDenseRows, 0);
  chunkDerivs_.assign(kChunk * (kDenseRows + 4), 0);
  for (auto* v : {&runY_, &runW_, &runF_}) v->assign(kChunk, 0);
  runKept_.assign(kChunk, 0);
  runColumn_.assign(perParam, 0);
  chunkWeights_.assign(kChunk, 0);
  chunkResiduals_.assign(kChunk, 0);
  nzIdx_.assign(perRow + 1, 0);  // the branch-free gather writes one past the last nonzero
  nzVal_.assign(perRow + 1, 0);
  used_.assign(perRow, 0);
  mat_.values.assign(perRow * perRow, 0);
  // Message texts and trace lines then fit without reallocation.
  for (auto* s : {&compressionMsg, &warningMsg, &errorMsg, &arrayMsg}) s->reserve(64);
  line_.reserve(256);
  nParams = paramCapacity_;
  nPoints = nPointsIn;
  mat_.holdsInverse = false;
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
// Fit

void TParameter::FitWith(PointsRef points, AfterPassRef afterPass) {
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
  mat_.holdsInverse = false;
  compact_ = compactMode != 0;

  bool ok = CheckCounts();
  if (ok) {
    PrepareParameters();
    ok = CheckArrays();
  }
  if (ok) {
    currentStep_ = step;
    start_ = 1;
    phase = 1;
    bool alive = true;
    if (maxIter != 0) {
      do {
        definite = 1;
        alive = RunPass(points, afterPass);
        if (!alive) break;
        if (showProgress && port) {
          port->ShowMessage(std::to_string(iter) + " " + FormatNumber(12, 4, criterion) + "-" +
                            std::to_string(dof));
        }
        ++iter;
      } while (status == 1 && inverted == 1 && iter < maxIter && (accuracy > eps || criterion > chiTarget));
    }
    if (alive) {
      phase = 3;
      if (tracePeriod != 0) WriteIterationTrace();
      // The final pass covers every point, whatever offset the subsample rotation had reached.
      pointStep = 1;
      start_ = 1;
      for (int k = 1; k <= nParams; ++k) params[k].error = 0;
      if (inverted == 1 && RunPass(points, afterPass)) {
        mat_.holdsInverse = inverted == 1;
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
  nFree = 0;
  for (int k = 1; k <= nParams; ++k) rowOf_[k] = 0;
  if (compact_) {
    for (int k = 1; k <= nParams; ++k) {
      if (!IsFree(k)) continue;
      ++nFree;
      if (nFree <= matrixCapacity_) {
        freeIdx_[nFree] = k;
        rowOf_[k] = nFree;
      }
    }
    compressionMsg = ".... Compression: from ";
    compressionMsg += FormatNumber(4, 0, nParams);
    compressionMsg += "  to ";
    compressionMsg += FormatNumber(4, 0, nFree);
  } else {
    nFree = nParams;
    for (int k = 1; k <= std::min(nParams, matrixCapacity_); ++k) {
      freeIdx_[k] = k;
      rowOf_[k] = k;
    }
  }
  // In full mode the row and column of a fixed parameter are replaced by the identity when the
  // equations are finished, so their products need not be summed at all; dependents fold their
  // rows into their masters and keep them.
  const int rows = std::min(nFree, matrixCapacity_);
  nActive_ = 0;
  for (int k = 1; k <= rows; ++k) {
    matrixRow_[k] = compact_ || fixedMode != 0 || hasDependents_ || !IsFixed(params[k]);
    if (!matrixRow_[k]) continue;
    activeRows_[nActive_] = k;
    columnParams_[nActive_++] = freeIdx_[k];
  }
  // The per-point diagonal trace needs the diagonal as it grows, which only the other path keeps.
  dense_ = nActive_ <= kDenseRows && !traceAccuracy;
#if ORV_WIDE_VECTORS
  lanes_ = allowWideVectors && WideVectors() ? 4 : 2;
#endif
  productStride_ = (nActive_ + lanes_ - 1) / lanes_ * lanes_;
  derivStride_ = productStride_ + lanes_;
  if (dense_) {  // the padding columns stay 0
    for (int p = 0; p < kChunk; ++p)
      for (int c = nActive_; c < productStride_; ++c) chunkDerivs_[p * derivStride_ + c] = 0;
    for (int k = 1; k <= nParams; ++k) runColumn_[k] = productStride_;
    for (int a = 0; a < nActive_; ++a) runColumn_[columnParams_[a]] = a;
  }
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
  stride_ = nFree + 1;
  return true;
}

// One pass over the points: normal equations, inversion, errors and (phase 1) the step. Returns
// false when the fit must be abandoned.
bool TParameter::RunPass(PointsRef points, AfterPassRef afterPass) {
  const int n = nFree;
  std::fill(rhs_.begin(), rhs_.begin() + n + 1, 0.0);
  std::fill(diag_.begin(), diag_.begin() + n + 1, 0.0);
  // Small fits write every element of the matrix when the equations are finished.
  if (dense_) {
    std::fill(sums_.begin(), sums_.begin() + (nActive_ + 1) * productStride_, 0.0);
  } else {
    std::fill(mat_.values.begin(), mat_.values.begin() + static_cast<std::ptrdiff_t>(stride_) * stride_, 0.0);
  }
  chunkCount_ = 0;
  leanPass_ = phase == 1 && InvertsBlock() && !traceInverse;
  for (int k = 1; k <= nParams; ++k) params[k].deriv = 0;
  PassTotals totals;
  points(totals);
  if (dense_) {
    if (chunkCount_ > 0) FlushProducts();
    for (int a = 0; a < nActive_; ++a) rhs_[activeRows_[a]] = sums_[a];
  }
  const double sum = totals.sum, sumPlus = totals.sumPlus;
  const int good = totals.good;
  const std::int64_t last = totals.last;

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
  afterPass(static_cast<int>(last + 1));

  Damp();
  if (!Invert()) {
    if (phase == 1) definite = 0;
    inverted = 0;
    return true;
  }
  if (traceInverse) WriteInverseTrace();
  if (phase == 3 && !compact_) definite = CheckDefinite();
  if (phase == 1) {
    double corr = 0;
    if (leanPass_) {
      // The inverse is in the block; the rows and columns of fixed parameters are the identity, with
      // right-hand side 0, so they add nothing to the others' steps and get none themselves.
      const int na = nActive_;
      const int* rows = activeRows_.data();
      double* b = dv_.data();  // the right-hand sides of the block, side by side
      for (int c = 0; c < na; ++c) b[c] = rhs_[rows[c]];
      for (int i = 1; i <= n; ++i) d_[i] = 0;
      const double* inverse = block_.data();
      int a = 0;
      for (; a + 4 <= na; a += 4) {  // four rows at a time, each summed in column order
        const double* r = inverse + static_cast<std::ptrdiff_t>(a) * na;
        double d0 = 0, d1 = 0, d2 = 0, d3 = 0;
        for (int c = 0; c < na; ++c) {
          const double bc = b[c];
          d0 += r[c] * bc;
          d1 += r[na + c] * bc;
          d2 += r[2 * na + c] * bc;
          d3 += r[3 * na + c] * bc;
        }
        d_[rows[a]] = d0, d_[rows[a + 1]] = d1, d_[rows[a + 2]] = d2, d_[rows[a + 3]] = d3;
      }
      for (; a < na; ++a) {
        const double* row = inverse + static_cast<std::ptrdiff_t>(a) * na;
        double di = 0;
        for (int c = 0; c < na; ++c) di += row[c] * b[c];
        d_[rows[a]] = di;
      }
      for (int i = 1; i <= n; ++i) corr += M(i, i) * damped_[i];
    } else {
      for (int i = 1; i <= n; ++i) {
        const double* row = &mat_.values[static_cast<std::size_t>(i) * stride_];
        double di = 0;
        for (int j = 1; j <= n; ++j) di += row[j] * rhs_[j];
        d_[i] = di;
        corr += row[i] * damped_[i];
      }
    }
    fofCorr = corr / std::max(1, n);
    if (tracePeriod != 0 && iter % tracePeriod == 0) WriteIterationTrace();
    if (traceFofCorr) Write("FofCorr= " + FormatNumber(10, 2, fofCorr));
  }

  double maxDiag = undamped_[1], maxInverse = M(1, 1);
  for (int i = 2; i <= n; ++i) {
    maxDiag = std::max(maxDiag, undamped_[i]);
    maxInverse = std::max(maxInverse, M(i, i));
  }
  conditioning = maxDiag * maxInverse;

  // Back to parameter indices; rows that are not free give 0.
  for (int k = 1; k <= nParams; ++k) stepOf_[k] = invDiagOf_[k] = 0;
  for (int i = 1; i <= n; ++i) {
    const int k = freeIdx_[i];
    stepOf_[k] = phase == 1 ? d_[i] : 0;
    invDiagOf_[k] = M(i, i);
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
  if (increasePolicy == 2 && criterion > prevCriterion) {
    step = 0.5 * step;
    currentStep_ = step;
    damper = std::min(2 * damper, 100.0);
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
  prevCriterion = criterion;
  ApplyStep();
  if (start_ == pointStep) start_ = 0;
  ++start_;
  return true;
}

namespace {

using Pair = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));

// A vector with every lane x.
template <class V>
[[gnu::always_inline]] inline void Splat(V& v, double x) {
  const double lanes[4] = {x, x, x, x};
  std::memcpy(&v, lanes, sizeof v);
}

// rowI[j .. j+lanes) −= f·pivotRow[j ..]. No vector passes a function boundary: four-double vectors
// exist only inside functions compiled for them.
template <class V>
[[gnu::always_inline]] inline void SubtractScaled(double* rowI, const double* pivotRow, double factor) {
  V r, q, f;
  std::memcpy(&r, rowI, sizeof r);
  std::memcpy(&q, pivotRow, sizeof q);
  Splat(f, factor);
  r -= f * q;
  std::memcpy(rowI, &r, sizeof r);
}

// Rows r < R of `sums` (row length pw; the chunk rows g are gw long), columns c .. c+P·lanes: += Σp scale(p,
// r)·g[p][c ..], added point by point in order, so every sum is rounded exactly as if the points had been
// added one at a time. With kRhs the first row takes the weighted residuals instead of weighted derivatives.
// All R × P vectors of sums stay in registers while the chunk is passed once.
template <class V, int R, int P, bool kRhs>
[[gnu::always_inline]] inline void AddBlock(double* sums, int pw, const double* g, int gw, const double* w,
                                            const double* rw, int m, int a, int c) {
  constexpr int kLanes = sizeof(V) / sizeof(double);
  V s[R][P];
#pragma GCC unroll 4
  for (int r = 0; r < R; ++r) {
#pragma GCC unroll 4
    for (int k = 0; k < P; ++k) std::memcpy(&s[r][k], sums + r * pw + c + kLanes * k, sizeof(V));
  }
  for (int p = 0; p < m; ++p) {
    const double* gp = g + static_cast<std::ptrdiff_t>(p) * gw;
    V d[R];
#pragma GCC unroll 4
    for (int r = 0; r < R; ++r) Splat(d[r], kRhs && r == 0 ? rw[p] : gp[a + r - (kRhs ? 1 : 0)] * w[p]);
#pragma GCC unroll 4
    for (int k = 0; k < P; ++k) {
      V v;
      std::memcpy(&v, gp + c + kLanes * k, sizeof v);
#pragma GCC unroll 4
      for (int r = 0; r < R; ++r) s[r][k] += d[r] * v;
    }
  }
#pragma GCC unroll 4
  for (int r = 0; r < R; ++r) {
#pragma GCC unroll 4
    for (int k = 0; k < P; ++k) std::memcpy(sums + r * pw + c + kLanes * k, &s[r][k], sizeof(V));
  }
}

// Columns c .. pw in blocks of at most kWidest vectors.
template <class V, int R, bool kRhs, int kWidest>
[[gnu::always_inline]] inline void AddRows(double* sums, int pw, const double* g, int gw, const double* w,
                                           const double* rw, int m, int a, int c) {
  constexpr int kLanes = sizeof(V) / sizeof(double);
  for (; c < pw; c += kWidest * kLanes) {
    const int vectors = (pw - c) / kLanes;
    if (vectors >= kWidest) {
      AddBlock<V, R, kWidest, kRhs>(sums, pw, g, gw, w, rw, m, a, c);
    } else if (kWidest > 3 && vectors == 3) {
      AddBlock<V, R, 3, kRhs>(sums, pw, g, gw, w, rw, m, a, c);
    } else if (kWidest > 2 && vectors == 2) {
      AddBlock<V, R, 2, kRhs>(sums, pw, g, gw, w, rw, m, a, c);
    } else {
      AddBlock<V, R, 1, kRhs>(sums, pw, g, gw, w, rw, m, a, c);
    }
  }
}

// The right-hand sides alone, then as many rows at a time as a vector has lanes, from the diagonal
// of the first (the elements left of the diagonal of the others are summed along and never read).
template <class V>
[[gnu::always_inline]] inline void FlushRows(double* sums, int na, int pw, const double* g, int gw,
                                             const double* w, const double* rw, int m) {
  constexpr int kLanes = sizeof(V) / sizeof(double);
  AddRows<V, 1, true, 4>(sums, pw, g, gw, w, rw, m, 0, 0);
  for (int a = 0; a < na; a += kLanes) {
    double* rows = sums + (a + 1) * pw;
    const int count = std::min(kLanes, na - a);
    if constexpr (kLanes == 4) {
      if (count == 4) {
        AddRows<V, 4, false, 2>(rows, pw, g, gw, w, rw, m, a, a);
        continue;
      }
      if (count == 3) {
        AddRows<V, 3, false, 3>(rows, pw, g, gw, w, rw, m, a, a);
        continue;
      }
    }
    if (count == 2) {
      AddRows<V, 2, false, 4>(rows, pw, g, gw, w, rw, m, a, a);
    } else {
      AddRows<V, 1, false, 4>(rows, pw, g, gw, w, rw, m, a, a);
    }
  }
}

void FlushPairs(double* sums, int na, int pw, const double* g, int gw, const double* w, const double* rw,
                int m) {
  FlushRows<Pair>(sums, na, pw, g, gw, w, rw, m);
}

#if ORV_WIDE_VECTORS
ORV_WIDE void FlushQuads(double* sums, int na, int pw, const double* g, int gw, const double* w,
                         const double* rw, int m) {
  FlushRows<Quad>(sums, na, pw, g, gw, w, rw, m);
}
#endif

}  // namespace

void TParameter::FlushProducts() {
  auto* flush = FlushPairs;
#if ORV_WIDE_VECTORS
  if (lanes_ == 4) flush = FlushQuads;
#endif
  flush(sums_.data(), nActive_, productStride_, chunkDerivs_.data(), derivStride_, chunkWeights_.data(),
        chunkResiduals_.data(), chunkCount_);
  chunkCount_ = 0;
}

void TParameter::WriteResidual(std::int64_t i, double y, double f, double c, double wPrime) {
  line_ = FormatNumber(5, 0, static_cast<double>(i));
  for (double v : {y, f, c, 1 / std::sqrt(wPrime)}) line_ += FormatNumber(10, 2, v);
  Write(line_);
}

// Adds one point to the normal equations. Derivatives that are exactly zero add nothing, so a point
// touching few parameters may visit only the rows of those.
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
  // Gather the row derivatives and, without branches (the zero pattern changes from point to point),
  // the list of the nonzero ones.
  double* dv = dv_.data();
  int* idx = nzIdx_.data();
  double* val = nzVal_.data();
  const ParamRec* rec = params.data();
  const int* freeIdx = freeIdx_.data();
  if (dense_) {
    AccumulateDense(wPrime, rw);
    if (traceDerivatives) {
      for (int i = 1; i <= n; ++i) dv[i] = rec[freeIdx[i]].deriv;
      WriteNumbers(dv, 1, n, 13, 4, 5, "  deriv");
    }
    return;
  }
  const char* needed = matrixRow_.data();
  int nz = 0;
  for (int i = 1; i <= n; ++i) {
    const double v = rec[compact_ ? freeIdx[i] : i].deriv;
    dv[i] = v;
    idx[nz + 1] = i;
    val[nz + 1] = v;
    nz += (v != 0) & (needed[i] != 0);
  }
  if (traceDerivatives) WriteNumbers(dv, 1, n, 13, 4, 5, "  deriv");

  double* b = rhs_.data();
  double* diag = diag_.data();
  double* mat = mat_.values.data();
  const std::ptrdiff_t stride = stride_;
  // Every row enters the gradient; only the rows that stay in the equations get their products.
  for (int i = 1; i <= n; ++i) b[i] += rw * dv[i];
  for (int p = 1; p <= nz; ++p) {
    const int i = idx[p];
    const double di = val[p];
    const double dw = di * wPrime;
    diag[i] += dw * di;
    double* row = mat + i * stride;
    for (int q = p + 1; q <= nz; ++q) row[idx[q]] += dw * val[q];
  }
  if (traceAccuracy) WriteNumbers(diag, 1, n, 14, 4, 5, "");
}

void TParameter::FinishNormalEquations() {
  const int n = nFree;
  if (dense_) {
    // Both triangles at once. Rows left out of the sums are fixed parameters: cleared below.
    const int na = nActive_, pw = productStride_;
    const int* rows = activeRows_.data();
    double* mat = mat_.values.data();
    const std::ptrdiff_t stride = stride_;
    // The inversion may take the summed rows as a block of their own (see Invert): written here too.
    double* block = InvertsBlock() ? block_.data() : nullptr;
    for (int a = 0; a < na; ++a) {
      const int i = rows[a];
      const double* row = &sums_[(a + 1) * pw];
      diag_[i] = row[a];
      mat[i * stride + i] = row[a];
      if (!leanPass_) {
        for (int c = a + 1; c < na; ++c) mat[i * stride + rows[c]] = mat[rows[c] * stride + i] = row[c];
      }
      if (block) {
        for (int c = a + 1; c < na; ++c) block[a * na + c] = block[c * na + a] = row[c];
      }
    }
  } else {
    for (int i = 1; i <= n; ++i) {
      M(i, i) = diag_[i];
      for (int j = i + 1; j <= n; ++j) M(j, i) = M(i, j);
    }
  }
  removed_ = 0;
  if (!compact_) {
    // Descending order so that a dependent of a dependent reaches the root through its master.
    for (int k = nParams; k >= 1; --k) {
      const ParamRec& p = params[k];
      const bool dependent = p.master != k;
      if (!dependent && !IsFixed(p)) continue;
      ++removed_;
      if (dependent) {
        const int m = p.master;
        const double c = p.coef;
        rhs_[m] += c * rhs_[k];
        if (fixedMode == 0) {
          // The normal matrix of the substituted parameter: Tᵀ·M·T with column k added c-fold to m.
          const double mkk = M(k, k), mmk = M(m, k);
          for (int j = 1; j <= n; ++j) {
            if (j == k || j == m) continue;
            M(m, j) += c * M(k, j);
            M(j, m) += c * M(j, k);
          }
          M(m, m) += 2 * c * mmk + c * c * mkk;
        }
      }
      rhs_[k] = 0;
      if (fixedMode == 0) {
        // A lean pass reads only the diagonal outside the block.
        if (!leanPass_) {
          for (int j = 1; j <= n; ++j) M(k, j) = M(j, k) = 0;
        }
        M(k, k) = 1;
      }
    }
  }
  // The gradient of the fitted parameters only: along a fixed parameter it never vanishes, and counting
  // it would call converged fits unconverged (and retry them) in full mode but not in compact mode.
  double g2 = 0;
  for (int i = 1; i <= n; ++i) g2 += rhs_[i] * rhs_[i];
  gradient_ = std::sqrt(g2 / n);
  dof = std::max(1, (nPoints - nZeroWeight) / pointStep - n + removed_);
  chiSigma = std::sqrt(2.0 / dof);
  if (chiTarget < 0) chiTarget = 1 + chiSigma;
  for (int i = 1; i <= n; ++i) undamped_[i] = M(i, i);
}

void TParameter::Damp() {
  const int n = nFree;
  if (damper != 0) {
    const double lambda = phase == 1 ? damper : kFinalDamping;
    for (int i = 1; i <= n; ++i) {
      if (!compact_ && IsFixed(params[i])) continue;
      double& mii = M(i, i);
      mii = std::fabs(mii) * (1 + lambda);
      // Only a parameter without any influence gets the bare damper as its diagonal. A fixed floor
      // (say 1e-7) would depend on the units of the data: with large counts and generous errors an
      // amplitude's diagonal is that small, and replacing it by the damper froze the amplitude.
      if (mii == 0 || !std::isfinite(mii)) mii = lambda;
    }
  }
  for (int i = 1; i <= n; ++i) damped_[i] = M(i, i);
  if (phase == 3 && !compact_) definite = CheckDefinite();
}

namespace {

// In-place Gauss–Jordan inversion of the n × n matrix a (row length `stride`) with the pivot on the
// diagonal: the largest unused diagonal element, the first one on ties. A pivot below 1e-16 in
// magnitude (or NaN) means singular. N > 0 fixes n at compile time, so the rows are unrolled into
// vectors V (every lane computes exactly what the scalar code would).
template <int N, class V>
[[gnu::always_inline]] inline bool InvertInPlace(double* a, int n, std::ptrdiff_t stride, char* used) {
  constexpr int kLanes = sizeof(V) / sizeof(double);
  if constexpr (N > 0) n = N;
  std::fill(used, used + n, 0);
  for (int stepNo = 0; stepNo < n; ++stepNo) {
    int p = -1;
    double best = -1;
#pragma GCC unroll 12
    for (int i = 0; i < n; ++i) {
      const double v = std::fabs(a[i * stride + i]);
      const bool take = !used[i] && v > best;  // selects, not branches: the winner is unpredictable
      best = take ? v : best;
      p = take ? i : p;
    }
    if (p < 0 || !(best >= kPivotLimit)) return false;
    used[p] = 1;
    double* rowP = a + p * stride;
    const double inv = 1 / rowP[p];
    rowP[p] = 1;
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) rowP[j] *= inv;
    const double* __restrict pivotRow = rowP;  // other rows never overlap it: the update vectorises
#pragma GCC unroll 12
    for (int i = 0; i < n; ++i) {
      if (i == p) continue;
      double* __restrict rowI = a + i * stride;
      const double factor = rowI[p];
      // Large matrices are sparse (peaks far apart do not overlap): skipping their zeros pays. In a
      // small one the test costs more than the update it saves; a zero factor changes nothing.
      if (N == 0 && factor == 0) continue;
      if constexpr (N > 0) {
        constexpr int kVectors = N / kLanes;
#pragma GCC unroll 8
        for (int j = 0; j < kVectors * kLanes; j += kLanes) SubtractScaled<V>(rowI + j, pivotRow + j, factor);
#pragma GCC unroll 4
        for (int j = kVectors * kLanes; j < N; ++j) rowI[j] -= factor * pivotRow[j];
      } else {
        for (int j = 0; j < n; ++j) rowI[j] -= factor * pivotRow[j];
      }
      rowI[p] = 0.0 - factor * pivotRow[p];  // as if the pivot column had been cleared first
    }
  }
  return true;
}

template <class V>
[[gnu::always_inline]] inline bool InvertMatrix(double* a, int n, std::ptrdiff_t stride, char* used) {
  switch (n) {
    case 1:
      return InvertInPlace<1, V>(a, n, stride, used);
    case 2:
      return InvertInPlace<2, V>(a, n, stride, used);
    case 3:
      return InvertInPlace<3, V>(a, n, stride, used);
    case 4:
      return InvertInPlace<4, V>(a, n, stride, used);
    case 5:
      return InvertInPlace<5, V>(a, n, stride, used);
    case 6:
      return InvertInPlace<6, V>(a, n, stride, used);
    case 7:
      return InvertInPlace<7, V>(a, n, stride, used);
    case 8:
      return InvertInPlace<8, V>(a, n, stride, used);
    case 9:
      return InvertInPlace<9, V>(a, n, stride, used);
    case 10:
      return InvertInPlace<10, V>(a, n, stride, used);
    case 11:
      return InvertInPlace<11, V>(a, n, stride, used);
    case 12:
      return InvertInPlace<12, V>(a, n, stride, used);
    default:
      return InvertInPlace<0, V>(a, n, stride, used);
  }
}

#if ORV_WIDE_VECTORS
// The same code with four doubles per vector, on processors that have them.
ORV_WIDE bool InvertQuads(double* a, int n, std::ptrdiff_t stride, char* used) {
  return InvertMatrix<Quad>(a, n, stride, used);
}
#endif

bool InvertFast(double* a, int n, std::ptrdiff_t stride, char* used, bool wide) {
#if ORV_WIDE_VECTORS
  if (wide) return InvertQuads(a, n, stride, used);
#else
  (void)wide;
#endif
  return InvertMatrix<Pair>(a, n, stride, used);
}

}  // namespace

bool TParameter::Invert() {
  const int n = nFree, na = nActive_;
  const bool wide = lanes_ == 4;
  if (!InvertsBlock()) return InvertFast(&M(1, 1), n, stride_, used_.data(), wide);
  // The block got its off-diagonal elements with the equations; the diagonal has since been damped.
  double* block = block_.data();
  double* mat = mat_.values.data();
  const int* rows = activeRows_.data();
  for (int a = 0; a < na; ++a) block[a * na + a] = mat[static_cast<std::ptrdiff_t>(rows[a]) * (stride_ + 1)];
  if (!InvertFast(block, na, na, used_.data(), wide)) return false;
  if (leanPass_) {  // only the diagonal is read from the matrix
    for (int a = 0; a < na; ++a)
      mat[static_cast<std::ptrdiff_t>(rows[a]) * (stride_ + 1)] = block[a * na + a];
    return true;
  }
  for (int a = 0; a < na; ++a) {
    double* to = mat + static_cast<std::ptrdiff_t>(rows[a]) * stride_;
    for (int c = 0; c < na; ++c) to[rows[c]] = block[a * na + c];
  }
  return true;
}

int TParameter::CheckDefinite() const {
  const int n = nFree;
  for (int i = 1; i <= n; ++i) {
    if (M(i, i) < 0) return 0;
  }
  for (int i = 1; i <= n; ++i) {
    for (int j = i + 1; j <= n; ++j) {
      const double mii = M(i, i), mjj = M(j, j), mij = M(i, j);
      const double m = std::max({mjj, mii, std::fabs(mij)});
      if (m == 0 || (mii / m) * mjj - (mij / m) * mij <= 0) return 0;
    }
  }
  return 1;
}

void TParameter::ApplyStep() {
  double sum = 0;
  for (int k = 1; k <= nParams; ++k) {
    ParamRec& p = params[k];
    oldValue_[k] = p.value;
    if (p.master != k) continue;  // recomputed from its master below
    double v = p.value + currentStep_ * stepOf_[k];
    if (v < p.lower) v = p.lower;
    if (v > p.upper) v = p.upper;
    p.value = v;
    if (invDiagOf_[k] != 0) {
      const double change = v - oldValue_[k];
      sum += change * change * invDiagOf_[k];
    }
  }
  for (int k = 1; k <= nParams; ++k) {
    ParamRec& p = params[k];
    if (p.master != k) p.value = p.coef * params[p.master].value + p.offset;
  }
  stepApplied_ = true;
  UpdateBoundaryFlag();
  const double spread = std::sqrt(std::fabs(sum) / nFree);
  accuracy = std::sqrt(spread) * std::sqrt(gradient_);
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
  if (!mat_.holdsInverse || nParams != covarianceParams_) return 0;
  if (i < 1 || j < 1 || i > nParams || j > nParams) return 0;
  double fi = 1, fj = 1;
  i = Root(i, fi);
  j = Root(j, fj);
  if (i == 0 || j == 0 || rowOf_[i] == 0 || rowOf_[j] == 0) return 0;
  return fi * fj * M(rowOf_[i], rowOf_[j]);
}

// ---------------------------------------------------------------------------------------------
// Traces

void TParameter::Write(const std::string& line) {
  if (sink) sink->WriteLine(line);
}

void TParameter::WriteNumbers(const double* values, int first, int last, int width, int decimals, int perLine,
                              const char* suffix) {
  if (!sink) return;
  line_.clear();
  int inLine = 0;
  for (int k = first; k <= last; ++k) {
    line_ += FormatNumber(width, decimals, values[k]);
    if (++inLine == perLine || k == last) {
      line_ += suffix;
      Write(line_);
      line_.clear();
      inLine = 0;
    }
  }
}

void TParameter::WriteIterationTrace() {
  if (!sink) return;
  line_ = "Iter.= ";
  line_ += FormatNumber(4, 0, iter + 1);
  line_ += "  chi2= ";
  line_ += FormatNumber(8, 2, chi2);
  line_ += "   Eps= ";
  line_ += FormatNumber(5, 1, accuracy);
  line_ += " Step= ";
  line_ += FormatNumber(6, 3, currentStep_);
  line_ += " Damp= ";
  line_ += FormatNumber(9, 6, damper);
  Write(line_);
  line_.clear();
  int inLine = 0;
  for (int k = 1; k <= nParams; ++k) {
    line_ += FormatNumber(12, 4, params[k].value);
    if (++inLine == 5 || k == nParams) {
      Write(line_);
      line_.clear();
      inLine = 0;
    }
  }
}

void TParameter::WriteInverseTrace() {
  if (!sink) return;
  const int n = nFree;
  double m = 1;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) m = std::max(m, std::fabs(M(i, j)));
  }
  Write(".... Inverse LS matrix + vector  norm.c.= " + FormatNumber(15, 7, m));
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) d_[j] = M(i, j) / m;  // d_ is free until the step is computed
    WriteNumbers(d_.data(), 1, n, 7, 4, 10, "");
  }
  for (int j = 1; j <= n; ++j) d_[j] = rhs_[j] / m;
  WriteNumbers(d_.data(), 1, n, 7, 4, 10, "");
}

}  // namespace orv
