#include "core/measured_model.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/numtext.h"

namespace orv {

namespace {

constexpr int kN = kPeakModelSamples;

const std::vector<std::string> kBoundsHelp = {"Select:",
                                              "Number of Peak Model (0,1,2,3,4)",
                                              "then",
                                              "Check the beginning and end",
                                              "channels of the spectrum interval",
                                              "containing the peak for the model;",
                                              "Also the number of background",
                                              "channels at the edges."};

const std::vector<std::string> kSmoothingHelp = {"Click on Less or More, then on OK",
                                                 "If the result is good, click on Quit, then on OK"};

constexpr Rgb kGreen{0, 128, 0};

// The spline routines expect the peak scaled to 1000 at its top, like AutoSpline does.
double PeakScale(const MeasuredModelWork& work) {
  double top = -1e300;
  for (int i = 1; i <= work.count; ++i) top = std::max(top, work.net[i]);
  return top != 0 ? top : 1.0;
}

}  // namespace

int EstimateEdgeChannels(const double* y, const double* e, int left, int right) {
  auto steep = [&](int at, int edge) {
    return std::fabs(y[at] - y[edge]) / (std::fabs(e[at]) + std::fabs(e[edge]) + 1) >= 2;
  };
  int count = 1;
  for (int k = 1; k <= 2; ++k) {
    if (left + k > right) break;  // never look past the other bound
    if (steep(left + k, left) || steep(right - k, right)) break;
    ++count;
  }
  return count;
}

bool PrepareMeasuredModel(const MeasuredModelSettings& settings, bool positive, const ModelSource& source,
                          SplineWork& spline, MeasuredModelWork& work, UiPort& port) {
  const int left = settings.modelLeft, right = settings.modelRight;
  // Typed bounds may be anything an int holds; their difference must not overflow.
  const long long span = static_cast<long long>(right) - left + 1;
  if (span < kModelMinChannels) {
    port.ShowMessage("Error, lack of points (<9) for model");
    return false;
  }
  if (span > kModelMaxChannels) {
    port.ShowMessage("Model interval too long, use compression to make < 1024");
    return false;
  }
  if (left < 1 || right > source.last || !source.y) {
    port.ShowMessage("Error, model bounds outside the spectrum");
    return false;
  }
  int length = static_cast<int>(span);
  const double* y = source.y;
  double top = -1e10;
  for (int ch = left; ch <= right; ++ch) top = std::max(top, y[ch]);
  if (top <= 3 * source.smallStatistics &&
      !port.AskYesNo("Low ststistics for the model " + std::to_string(RoundHalfEven(top)) + "\n" +
                     " Still proceed?"))
    return false;

  // More edge channels than the peak has would read beyond the bounds.
  const int edge = std::clamp(settings.edgeChannels, 0, length);
  EdgeFit line;
  if (edge != 0) line = EdgeLine(y, left, left + edge - 1, right - edge + 1, right);
  for (int j = 1; j <= length; ++j) {
    const int ch = left + j - 1;
    work.background[j] = (ch - line.meanChannel) * line.slope + line.meanValue;
    const double net = y[ch] - work.background[j];
    work.net[j] = positive ? std::max(0.0, net) : net;
  }

  // A short peak is resampled finer so that the smoothing and the table see enough points.
  const int q = kModelRefinedPoints / length;
  work.refinement = std::max(q, 1);
  if (q > 1) {
    double* table = spline.a.data();  // values, then abscissas 1..length
    for (int j = 1; j <= length; ++j) {
      table[j] = work.net[j];
      table[length + j] = j;
    }
    for (int k = 1; k <= length * q; ++k) {
      const double v = Interpolate(table, 2 * kSplineCapacity, length, static_cast<double>(k) / q);
      work.net[k] = positive ? std::max(0.0, v) : v;
    }
    length *= q;
  }
  work.count = length;

  std::copy(work.net.begin() + 1, work.net.begin() + length + 1, spline.input.begin() + 1);
  bool badData = false;
  AutoSpline(spline, length, badData, settings.modelSmoothing, 2.0);
  work.lambda = spline.lambda;
  std::copy(work.net.begin() + 1, work.net.begin() + length + 1, spline.input.begin() + 1);
  if (badData) {
    if (!port.AskYesNo("Bad data for peak model.\nStill proceed?")) {
      port.ShowMessage("Wrong data for real model");
      return false;
    }
    spline.output[1] = spline.output[length] = 0;
  }
  return true;
}

void ResmoothMeasuredPeak(SplineWork& spline, MeasuredModelWork& work, double lambda, double smoothing) {
  const int n = work.count;
  const double scale = PeakScale(work);
  for (int i = 1; i <= n; ++i) spline.input[i] = work.net[i] * 1000 / scale;
  double fit = 0, rough = 0;
  SplineSmooth(spline, n, 0, fit, rough, lambda);
  const double t = std::min(smoothing, 1.0);
  for (int i = 1; i <= n; ++i) {
    spline.output[i] = ((1 - t) * spline.input[i] + t * spline.output[i]) * scale / 1000;
    spline.input[i] = work.net[i];
  }
  work.lambda = lambda;
}

bool BuildMeasuredModel(TPeakModel& model, SplineWork& spline, const MeasuredModelWork& work, UiPort& port) {
  const int n = work.count;
  if (n < 3 || n > kModelMaxChannels) {
    port.ShowMessage("Error, zero-valued peak model");
    return false;
  }
  // v[1..n] in the middle of a buffer that leaves room for a zero on each side.
  std::array<double, kModelMaxChannels + 3> buffer{};
  double* v = buffer.data() + 1;
  for (int i = 1; i <= n; ++i) v[i] = spline.output[i];
  v[1] = v[n] = 0;
  v[2] = (v[1] + v[3]) / 2;
  v[n - 1] = (v[n] + v[n - 2]) / 2;

  double vmax = v[1], vmin = v[1];
  for (int i = 2; i <= n; ++i) {
    vmax = std::max(vmax, v[i]);
    vmin = std::min(vmin, v[i]);
  }
  const double r = std::max(1.0, std::fabs(vmax - vmin));
  const double threshold = std::min(0.01, std::sqrt(r) / (2 * r));
  for (int i = 1; i <= n; ++i)
    if (std::fabs(v[i]) < threshold) v[i] = 0;

  int first = 1, last = n;
  while (first <= n && v[first] == 0) ++first;
  while (last >= first && v[last] == 0) --last;
  if (last - first + 1 <= 1) {
    port.ShowMessage("Error, zero-valued peak model");
    return false;
  }

  // The kept values with one zero on each side, abscissas 1..lt.
  const int lt = last - first + 3;
  std::array<double, 2 * (kModelMaxChannels + 2) + 1> table{};
  int p = 0;
  double top = 0;
  for (int i = 1; i <= lt; ++i) {
    const double value = i == 1 || i == lt ? 0.0 : v[first + i - 2];
    table[i] = value;
    table[lt + i] = i;
    if (value > top) {
      top = value;
      p = i;
    }
  }
  // The longer side of the peak fills 96 samples and the maximum falls on the centre.
  const int h = std::max(lt - p, p - 1);
  model.work.fill(0);
  for (int k = 1; k <= kN; ++k) {
    const double t = static_cast<double>(k - 1) * h / 96 + (p - h);
    if (t < 1 || t > lt) continue;
    const double value = Interpolate(table.data(), static_cast<int>(table.size()), lt, t);
    model.work[k] = model.positive ? std::max(0.0, value) : value;
  }
  model.work[1] = model.work[kN] = 0;
  model.CenterSamples(kN);
  model.halfCount = 96;
  model.kind = model.positive ? 0 : -1;
  return model.Normalize(&port);
}

bool FormRealPeakModelCommand(TPeakModel& model, MeasuredModelSettings& settings, const ModelSource& source,
                              int clickedLeft, int clickedRight, SplineWork& spline, MeasuredModelWork& work,
                              UiPort& port, LineSink* sink, const MeasuredPeakView& view) {
  const int lo = std::min(clickedLeft, clickedRight), hi = std::max(clickedLeft, clickedRight);
  // The proposal reads two channels inside each bound; outside the spectrum there is nothing to read.
  const int proposed = lo >= 1 && hi <= source.last && source.y && source.e
                           ? EstimateEdgeChannels(source.y, source.e, lo, hi)
                           : 1;

  DialogRequest r = PrepareDialog("Form the real peak model", 0, 600, 420);
  r.helpLines = kBoundsHelp;
  ShowLabel(r, 1, 10, 10, " Confirm the bounds ");
  ShowParameterGrid(r, 10, 40, 3, 10, 1,
                    {"  Left bound(chan) =", "  Right bound(chan) =", "  Backgr.edge(chan)= "},
                    {{static_cast<double>(clickedLeft)},
                     {static_cast<double>(clickedRight)},
                     {static_cast<double>(proposed)}},
                    {150, 90});
  if (!port.ShowDialog(r)) return false;
  std::array<double, 3> entries{};
  for (int row = 0; row < 3; ++row) {
    int accepted = 1;
    entries[row] = ReadGridValue(r, row, 0, accepted);
    if (accepted == 0) {
      port.ShowMessage("Error, not a number");
      return false;
    }
  }
  model.positive = true;
  settings.modelLeft = RoundHalfEven(std::min(entries[0], entries[1]));
  settings.modelRight = RoundHalfEven(std::max(entries[0], entries[1]));
  settings.edgeChannels = RoundHalfEven(entries[2]);
  settings.modelSmoothing = 1.0;

  if (!PrepareMeasuredModel(settings, model.positive, source, spline, work, port)) return false;

  double lambda = work.lambda;
  int choice = 3;
  for (;;) {
    DialogRequest s = PrepareDialog("Real peak model smoothing", 90, 530, 450);
    s.helpLines = kSmoothingHelp;
    // The prompts run below the choices, so that neither hides the other.
    ShowLabel(s, 1, 5, 80, kSmoothingHelp[0], kWhite, kGreen);
    ShowLabel(s, 2, 5, 100, kSmoothingHelp[1], kWhite, kGreen);
    ShowRadioGroup(s, 1, 1, 300, 70, 220, 5, {" Less smoothing", " More smoothing", " Quit"}, choice);
    if (view) view(work.net.data(), spline.output.data(), work.count, s);
    if (!port.ShowDialog(s)) break;
    choice = s.radio1 ? std::clamp(s.radio1->chosen, 1, 3) : 3;
    if (choice == 3) break;
    lambda = choice == 1 ? lambda * 1.5 : lambda / 1.5;
    ResmoothMeasuredPeak(spline, work, lambda, settings.modelSmoothing);
  }

  if (!BuildMeasuredModel(model, spline, work, port)) return false;
  if (sink)
    sink->WriteLine("Real peak model is formed" + FormatNumber(7, 0, settings.modelLeft) +
                    FormatNumber(7, 0, settings.modelRight) +
                    " bkg=" + FormatNumber(3, 0, settings.edgeChannels));
  return true;
}

}  // namespace orv
