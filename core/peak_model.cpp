#include "core/peak_model.h"

#include <algorithm>
#include <cstddef>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"

namespace orv::embedded {
extern const char peak_table_iaea[];
extern const std::size_t peak_table_iaea_size;
extern const char peak_table_detector4[];
extern const std::size_t peak_table_detector4_size;
extern const char peak_table_popa[];
extern const std::size_t peak_table_popa_size;
}  // namespace orv::embedded

namespace orv {
namespace {

constexpr int kN = kPeakModelSamples;
constexpr double kPi = 3.14159265358979323846;

// Free-format numbers of a stored table into work[1..count]; missing numbers stay 0.
void ReadStoredTable(std::string_view text, int count, std::array<double, kN + 1>& work) {
  std::istringstream in{std::string(text)};
  std::vector<double> numbers(static_cast<std::size_t>(count) + 1, 0.0);
  const int stored = NumberStream(in).Read(numbers, 1, count);
  std::copy_n(numbers.begin() + 1, stored, work.begin() + 1);
}

// Gaussian smearing of a kernel: the Voigt and convolved-exponential kinds.
template <typename Kernel>
void Convolve(double r, double centre, Kernel kernel, std::array<double, kN + 1>& work) {
  const double s = std::max(8.0, 32.0 / (r / 2 + 1));
  const double zScale = std::max(1e-5, r);
  std::array<double, kN + 1> shape{};
  for (int j = 1; j <= kN; ++j) shape[j] = kernel((j - centre) / zScale);
  for (int i = 1; i <= kN; ++i) {
    double sum = 0;
    for (int j = 1; j <= kN; ++j) {
      const double t = (j - i) / s;
      sum += 1000 * std::exp(-std::min(77.0, t * t)) * shape[j];
    }
    work[i] = sum;
  }
  work[1] = 0;
}

// Fills both halves of a symmetric table from its left half f(u), u = (97 − i)/32 > 0.
template <typename Half>
void Mirror(Half f, std::array<double, kN + 1>& work) {
  for (int i = 1; i <= kPeakModelCentre - 1; ++i) {
    const double u = (kPeakModelCentre - i) / 32.0;
    work[i] = work[2 * kPeakModelCentre - i] = f(u);
  }
  work[kPeakModelCentre] = 1;
}

}  // namespace

const char* PeakModelName(int kind) {
  static constexpr const char* kNames[] = {
      "Double-signed", "Real",      "Gauss",        "Lorentz", "IAEA", "Voigt",   "ConvExp",
      "Exponential",   "Detector4", "Pseudo-Voigt", "ExpPeak", "Popa", "Fourier", "Step-Function"};
  return kind >= -1 && kind <= 12 ? kNames[kind + 1] : "";
}

void TPeakModel::Create(UiPort* port) {
  kind = 1;
  BuildModel(port);
  positive = true;
}

bool TPeakModel::BuildModel(UiPort* port) {
  if (kind == -1 || kind == 0) return true;  // measured: the table is built from the spectrum
  work.fill(0);
  int count = kN;
  switch (kind) {
    case 1:
      for (int i = 1; i <= kN; ++i) {
        const double u = (kPeakModelCentre - i) / 32.0;
        work[i] = std::exp(-1.1 * u * u);
      }
      break;
    case 2:
      for (int i = 1; i <= kN; ++i) {
        const double u = (kPeakModelCentre - i) / 8.0;
        work[i] = 1 / (3 * u * u + 1);
      }
      break;
    case 3:
      count = 101;
      ReadStoredTable({embedded::peak_table_iaea, embedded::peak_table_iaea_size}, count, work);
      break;
    case 4:
      Convolve(
          shapeParameter, kPeakModelCentre, [](double z) { return 1 / (z * z + 1); }, work);
      break;
    case 5:
      Convolve(
          shapeParameter, 65, [](double z) { return z >= 0 ? 10 * std::exp(-std::min(77.0, z)) : 0.0; },
          work);
      break;
    case 6:
      for (int i = 1; i <= kN; ++i) work[i] = 1000 * std::exp(-std::fabs((kPeakModelCentre - i) / 9.0));
      break;
    case 7:
      count = 88;
      ReadStoredTable({embedded::peak_table_detector4, embedded::peak_table_detector4_size}, count, work);
      break;
    case 9:
      Mirror([](double u) { return std::exp(-1.1 * u); }, work);
      break;
    case 10:
      ReadStoredTable({embedded::peak_table_popa, embedded::peak_table_popa_size}, count, work);
      break;
    case 11:
      Mirror([](double u) { return std::exp(-1.1 * u * u) * std::cos(2 * kPi * u / 1.5) * std::exp(-u); },
             work);
      break;
    case 12:
      for (int i = 64; i <= 129; ++i) work[i] = 1;
      break;
    default:  // 8 and unknown kinds have no shape; Normalize refuses the empty table
      break;
  }
  halfCount = 96;
  // Keep the old table so that a refused shape does not leave an empty model behind.
  const auto previous = samples;
  CenterSamples(count);
  if (Normalize(port)) return true;
  samples = previous;
  return false;
}

void TPeakModel::CenterSamples(int count) {
  count = std::clamp(count, 0, kN);
  int p = 0;
  double top = 0;
  for (int i = 1; i <= count; ++i) {
    if (work[i] > top) {
      top = work[i];
      p = i;
    }
  }
  samples.fill(0);
  for (int i = 1; i <= kN; ++i) {
    const int target = i - p + kPeakModelCentre;
    if (target >= 1 && target <= kN) samples[target] = work[i];
  }
  samples[1] = samples[kN] = 0;
}

bool TPeakModel::Normalize(UiPort* port) {
  // Samples outside the table count as 0.
  auto magnitude = [this](int i) { return i >= 1 && i <= kN ? std::fabs(samples[i]) : 0.0; };
  double minimum = samples[1], top = 0;
  int peak = 1;
  for (int i = 1; i <= kN; ++i) {
    minimum = std::min(minimum, samples[i]);
    if (std::fabs(samples[i]) >= top) {
      top = std::fabs(samples[i]);
      peak = i;
    }
  }
  const double spread = (top - minimum) / 2;
  double steps = 0, newArea = 0;
  bool ok = spread != 0 && std::isfinite(spread);
  if (ok) {
    const double half = top / 2;
    int i = 1, j = kN;
    while (i < kN && magnitude(i) < half) ++i;
    while (j > 1 && magnitude(j) < half) --j;
    const double da = magnitude(i) - magnitude(i - 1), db = magnitude(j) - magnitude(j + 1);
    const double a = da != 0 ? (magnitude(i) - half) / da : 0.0;
    const double b = db != 0 ? (magnitude(j) - half) / db : 0.0;
    steps = (j - i) + std::fabs(a) + std::fabs(b);
    ok = steps > 0;
    if (ok) {
      double sum = 0;  // Simpson's rule; samples 1 and 193 are 0, so the end weights vanish
      for (int k = 1; k <= halfCount; ++k) sum += magnitude(2 * k - 1) + 2 * magnitude(2 * k);
      newArea = (1 / steps) * (2.0 / 3.0) * sum;
      ok = newArea > 0 && std::isfinite(newArea);
    }
  }
  if (!ok) {
    if (port)
      port->ShowMessage("Illegal model " + FormatNumber(10, 2, spread) + " " + FormatNumber(10, 2, steps));
    return false;
  }
  fwhmSteps = steps;
  range = halfCount / steps;
  area = newArea;
  double moment = 0;
  for (int i = 1; i <= kN; ++i)
    if (samples[i] > top / 10) moment += (peak - i) * samples[i];
  centroidShift = moment / area;
  for (int i = 1; i <= kN; ++i) samples[i] /= area;
  return true;
}

double TPeakModel::EvaluateShape(double u) const {
  if (kind == 2) return 1 / (kPi * (1 + u * u));
  if (kind == 6) return std::exp(-std::min(99.0, 1.3862942 * std::fabs(u)));
  double value, d1, d2;
  Evaluate(u, value, d1, d2);
  return value;
}

bool SpecialModelCommand(TPeakModel& model, UiPort& port) {
  DialogRequest r = PrepareDialog("Select special model type and number", 0, 600, 420);
  // The command is not given the help language, so its text is the English one.
  r.helpLines = HelpText(HelpId::kStandardPeakModels, false);
  const int preset = model.kind == 3 ? 2 : model.kind == 7 ? 3 : 1;
  ShowRadioGroup(r, 1, 1, 20, 120, 200, 100, {"Gauss", "IAEA", "Detector4"}, preset, " Type ");
  if (!port.ShowDialog(r)) return false;
  static constexpr int kKinds[] = {1, 3, 7};
  const int chosen = r.radio1 ? std::clamp(r.radio1->chosen, 1, 3) : preset;
  model.kind = kKinds[chosen - 1];
  return model.BuildModel(&port);
}

}  // namespace orv
