#include "analysis/automatic/edge_test.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace orv {
namespace {

using Vector5 = Eigen::Matrix<double, 5, 1>;
using Matrix5 = Eigen::Matrix<double, 5, 5>;

// Least weighted residual sum of the normal equations m c = v with yy = Σ w y², the parameters whose
// flag in `used` is false left out (their row and column replaced by a unit diagonal); -1 when the
// step's height (parameter 1) comes out negative.
double LeastSum(Matrix5 m, Vector5 v, double yy, const bool (&used)[5]) {
  for (int j = 0; j < 5; ++j) {
    if (used[j]) continue;
    m.row(j).setZero();
    m.col(j).setZero();
    m(j, j) = 1;
    v(j) = 0;
  }
  const Eigen::LDLT<Matrix5> ldlt(m);
  if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return std::numeric_limits<double>::infinity();
  const Vector5 c = ldlt.solve(v);
  if (!c.allFinite()) return std::numeric_limits<double>::infinity();
  return c(1) < 0 ? -1 : std::max(yy - c.dot(v), 0.0);
}

// As LeastSum with the step's height held at 0 or above: the sum is convex in the coefficients, so
// when the free height comes out negative the constrained optimum has none.
double LeastSumFalling(const Matrix5& m, const Vector5& v, double yy, const bool (&used)[5]) {
  const double free = LeastSum(m, v, yy, used);
  if (free >= 0) return free;
  bool without[5];
  std::copy(std::begin(used), std::end(used), std::begin(without));
  without[1] = false;
  return std::max(LeastSum(m, v, yy, without), 0.0);
}

}  // namespace

EdgeComparison CompareWithEdge(const std::vector<EdgePoint>& points, double fwhm, double position,
                               int degree) {
  EdgeComparison out;
  if (points.size() < 8 || !(fwhm > 0)) return out;
  degree = std::clamp(degree, 0, 2);
  const double lo = points.front().channel, hi = points.back().channel;
  const double mid = (lo + hi) / 2, half = std::max((hi - lo) / 2, 1.0);
  const bool stepAlone[5] = {false, true, true, degree >= 1, degree >= 2};
  const bool withPeak[5] = {true, true, true, degree >= 1, degree >= 2};
  const double sigma = fwhm / 2.3548200450309493;
  out.stepChi2 = out.bothChi2 = std::numeric_limits<double>::infinity();
  out.peakChi2 = -1;
  // Basis: the peak's shape, the step, 1, x, x² (x the channel scaled to [-1, 1]).
  for (double smear : {1.0, 1.5, 2.5, 4.0, 6.5}) {
    const double scale = 1 / (smear * sigma * 1.4142135623730951);
    for (int k = -8; k <= 8; ++k) {
      const double x0 = position + k * 0.1875 * fwhm;
      Matrix5 m = Matrix5::Zero();
      Vector5 v = Vector5::Zero();
      double yy = 0;
      for (const EdgePoint& p : points) {
        if (!(p.weight > 0)) continue;
        const double x = (p.channel - mid) / half;
        Vector5 basis;
        basis << p.shape, 0.5 * std::erfc((p.channel - x0) * scale), 1, x, x * x;
        const double y = p.count - p.others;
        m.noalias() += p.weight * basis * basis.transpose();
        v.noalias() += p.weight * y * basis;
        yy += p.weight * y * y;
      }
      const double alone = LeastSumFalling(m, v, yy, stepAlone), both = LeastSumFalling(m, v, yy, withPeak);
      if (out.peakChi2 < 0) {
        const bool peakAlone[5] = {true, false, true, degree >= 1, degree >= 2};
        out.peakChi2 = LeastSum(m, v, yy, peakAlone);
      }
      if (alone < out.stepChi2) out.stepChi2 = alone, out.stepPosition = x0, out.stepSigma = smear * sigma;
      out.bothChi2 = std::min(out.bothChi2, both);
    }
  }
  return out;
}

}  // namespace orv
