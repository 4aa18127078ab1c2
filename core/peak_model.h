// Peak shape models: the standard profile m(u) from which every fitted peak is made. A peak with
// amplitude A, centre C and width W contributes A·m((x − C)/W) at channel x. Each model is a table
// of 193 samples centred on its maximum, scaled so that its FWHM is 1 in u and its area is 1; W is
// then the FWHM in channels and A·W the peak area.
#pragma once

#include <array>
#include <cmath>

#include "core/port.h"

namespace orv {

inline constexpr int kPeakModelSamples = 193;
inline constexpr int kPeakModelCentre = 97;

// Name of a model kind (−1..12); "" for anything else.
const char* PeakModelName(int kind);

class TPeakModel {
 public:
  // Index 0 unused; sample 97 is the centre, samples 1 and 193 are always 0.
  std::array<double, kPeakModelSamples + 1> samples{};
  int halfCount = 96;         // n: nodes on each side of the centre; fixed at 96
  double range = 0;           // half-width of the table in u
  double area = 0;            // area of the raw table in u, the divisor of the normalisation
  double fwhmSteps = 0;       // FWHM of the raw table in sample steps
  double centroidShift = 0;   // first moment of the top of the raw peak about its maximum
  bool positive = true;       // a measured model keeps kind 0 (true) or −1 (false)
  int kind = 1;               // −1 "Double-signed" .. 12 "Step-Function"
  double shapeParameter = 0;  // r of the convolved kinds 4 and 5
  // Raw samples before centring; also the input of the measured-model builder.
  std::array<double, kPeakModelSamples + 1> work{};

  // Creates the Gaussian model.
  TPeakModel() { Create(); }
  void Create(UiPort* port = nullptr);

  // Builds the table of the current kind. Measured kinds (−1, 0) keep their table. On failure
  // (message through `port`) the previous table and its figures stay as they were.
  bool BuildModel(UiPort* port = nullptr);
  // Moves the first maximum of work[1..count] to sample 97.
  void CenterSamples(int count);
  // Measures FWHM and area of the table and scales it to unit area and unit FWHM in u.
  bool Normalize(UiPort* port = nullptr);

  // Value and first/second derivative in u by quadratic interpolation at the nearest node. Called for
  // every point and peak of every fit pass, so the step and its reciprocals are cached.
  void Evaluate(double u, double& value, double& d1, double& d2) const {
    if (range != cachedRange_ || halfCount != cachedHalf_) CacheSteps();
    const int n = halfCount;
    const double au = std::fabs(u);
    // Negated comparisons so that NaN lands here too; n outside 3..96 would index off the table.
    if (!(au <= range) || !(step_ > 0) || static_cast<unsigned>(n - 3) > 93u) {
      value = d1 = d2 = 0;
      return;
    }
    int k = static_cast<int>(au * inverseStep_ + 0.5);
    if (k > n) k = n;
    const int node = u < 0 ? n + 1 - k : n + 1 + k;
    const double c = samples[node];
    if (k >= n - 2) {  // the outermost nodes lack a neighbour pair
      value = c;
      d1 = d2 = 0;
      return;
    }
    const double d = u < 0 ? u + k * step_ : u - k * step_;
    const double p = samples[node - 1], q = samples[node + 1];
    const double f1 = (q - p) * halfInverseStep_;
    const double f2 = (q - 2 * c + p) * inverseStep2_;
    value = c + (f1 + f2 * d / 2) * d;
    d1 = f1 + f2 * d;
    d2 = f2;
  }

  // The shape value alone: closed forms for Lorentz and Exponential, the table otherwise.
  double EvaluateShape(double u) const;

 private:
  void CacheSteps() const {
    cachedRange_ = range;
    cachedHalf_ = halfCount;
    step_ = halfCount != 0 ? range / halfCount : 0;
    inverseStep_ = step_ != 0 ? 1 / step_ : 0;
    halfInverseStep_ = inverseStep_ / 2;
    inverseStep2_ = inverseStep_ * inverseStep_;
  }
  mutable double cachedRange_ = -1, step_ = 0, inverseStep_ = 0, halfInverseStep_ = 0, inverseStep2_ = 0;
  mutable int cachedHalf_ = -1;
};

// Lets the user pick Gauss, IAEA or Detector4 and builds it; false on Cancel (nothing changes).
bool SpecialModelCommand(TPeakModel& model, UiPort& port);

}  // namespace orv
