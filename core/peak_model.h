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

  // The table with its step and reciprocals worked out, for evaluation in a loop.
  struct Table {
    const double* samples = nullptr;
    int n = 0;  // nodes on each side; 0 when the table cannot be evaluated (every value is then 0)
    double range = 0, step = 0, inverseStep = 0, halfInverseStep = 0, inverseStep2 = 0;
    double limit = -1;  // range, or −1 when n = 0: |u| beyond it gives 0

    // Value and first/second derivative in u by quadratic interpolation at the nearest node.
    void Evaluate(double u, double& value, double& d1, double& d2) const {
      const double au = std::fabs(u);
      // Negated comparison so that NaN lands here too.
      if (!(au <= limit)) {
        value = d1 = d2 = 0;
        return;
      }
      int k = static_cast<int>(au * inverseStep + 0.5);
      if (k > n) k = n;
      // The node mirrored for negative u; u − (−k)·step is u + k·step to the last bit.
      const int signedK = u < 0 ? -k : k;
      const int node = n + 1 + signedK;
      const double c = samples[node];
      if (k >= n - 2) {  // the outermost nodes lack a neighbour pair
        value = c;
        d1 = d2 = 0;
        return;
      }
      const double d = u - signedK * step;
      const double p = samples[node - 1], q = samples[node + 1];
      const double f1 = (q - p) * halfInverseStep;
      const double f2 = (q - 2 * c + p) * inverseStep2;
      value = c + (f1 + f2 * d / 2) * d;
      d1 = f1 + f2 * d;
      d2 = f2;
    }
  };

  // The table of the current samples, range and node count, kept between calls.
  const Table& CurrentTable() const {
    if (cache_.half != halfCount || !(cache_.table.range == range)) {
      cache_.table = EvaluationTable();
      cache_.half = halfCount;
    }
    return cache_.table;
  }

  // Value and first/second derivative in u (see Table::Evaluate).
  void Evaluate(double u, double& value, double& d1, double& d2) const {
    CurrentTable().Evaluate(u, value, d1, d2);
  }

  // The shape value alone: closed forms for Lorentz and Exponential, the table otherwise.
  double EvaluateShape(double u) const;

 private:
  Table EvaluationTable() const {
    Table t;
    t.samples = samples.data();
    t.range = range;
    t.step = halfCount != 0 ? range / halfCount : 0;
    t.inverseStep = t.step != 0 ? 1 / t.step : 0;
    t.halfInverseStep = t.inverseStep / 2;
    t.inverseStep2 = t.inverseStep * t.inverseStep;
    // n outside 3..96 would index off the table.
    t.n = t.step > 0 && halfCount >= 3 && halfCount <= 96 ? halfCount : 0;
    t.limit = t.n > 0 ? range : -1;
    return t;
  }

  // The table of the last evaluation; a copied model gets its own (samples point into it).
  struct TableCache {
    Table table;
    int half = -1;
    TableCache() = default;
    TableCache(const TableCache&) {}
    TableCache& operator=(const TableCache&) {
      half = -1;
      return *this;
    }
  };
  mutable TableCache cache_;
};

// Lets the user pick Gauss, IAEA or Detector4 and builds it; false on Cancel (nothing changes).
bool SpecialModelCommand(TPeakModel& model, UiPort& port);

}  // namespace orv
