#include "spectrum/smoothing.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/help_texts.h"

namespace orv {

namespace {

const std::vector<std::string> kTuningPrompts = {"Click on Less or More, then on OK",
                                                 "If the result is good, click on Quit, then on OK"};
const std::vector<std::string> kTuningChoices = {" Less smoothing", " More smoothing", " Quit"};
constexpr int kLess = 1, kMore = 2, kQuit = 3;

constexpr Rgb kGreen{0, 128, 0};
constexpr int kBackgroundPasses = 10;
constexpr double kBackgroundSlopeWeight = 0.5, kBackgroundCurvatureWeight = 0.5;

std::vector<std::string> HelpFor(int mode, bool russian) {
  std::vector<std::string> lines = HelpText(HelpId::kSmoothing, russian);
  if (mode == kSplineBackground) {
    const std::vector<std::string> more = HelpText(HelpId::kBackground, russian);
    lines.insert(lines.end(), more.begin(), more.end());
  }
  return lines;
}

const char* CaptionFor(int mode) {
  return mode == kSplineBackground ? "Background" : "Smoothing";
}

}  // namespace

int SplineCurvePixel(int k, int n) {
  return static_cast<int>(std::nearbyint(static_cast<double>(k) * kSplinePictureWidth / std::max(1, n)));
}

bool ProcessSplineCurve(SplineWork& work, int n, int mode, double lambda) {
  if (n < kSplineMinPoints || n > kSplineCapacity) return false;
  if (mode == kSplineSmoothing) {
    double fit = 0, rough = 0;
    return SplineSmooth(work, n, 0, fit, rough, lambda);
  }
  if (mode == kSplineBackground)
    return SplineFilter(work, n, kBackgroundPasses, lambda, kBackgroundSlopeWeight,
                        kBackgroundCurvatureWeight);
  return false;
}

SplineTuning SplineTuningLoop(SplineWork& work, int n, int mode, UiPort& port, bool russianHelp,
                              const SplineCurveView& view, int firstChannel) {
  SplineTuning t;
  if (n < kSplineMinPoints || n > kSplineCapacity) return t;
  SplineCurves curves;
  curves.original = work.input.data();
  curves.processed = work.output.data();
  curves.count = n;
  curves.firstChannel = firstChannel;
  curves.mode = mode;
  curves.smallest = curves.largest = work.input[1];
  for (int k = 2; k <= n; ++k) {
    curves.smallest = std::min(curves.smallest, work.input[k]);
    curves.largest = std::max(curves.largest, work.input[k]);
  }

  const std::vector<std::string> help = HelpFor(mode, russianHelp);
  int choice = kQuit;
  for (;;) {
    ProcessSplineCurve(work, n, mode, t.lambda);
    DialogRequest r = PrepareDialog(std::string(CaptionFor(mode)) + ": less or more", 90, 530, 450);
    r.helpLines = help;
    ShowRadioGroup(r, 1, 1, 300, 70, 220, 5, kTuningChoices, choice);
    // The prompts run below the choices, so that neither hides the other.
    ShowLabel(r, 1, 5, 80, kTuningPrompts[0], kWhite, kGreen);
    ShowLabel(r, 2, 5, 100, kTuningPrompts[1], kWhite, kGreen);
    if (view) {
      curves.lambda = t.lambda;
      view(curves, r);
    }
    if (!port.ShowDialog(r)) {
      t.cancelled = true;
      break;
    }
    // A back-end that lost the group, or an entry out of range, counts as " Quit".
    choice = r.radio1 ? r.radio1->chosen : kQuit;
    if (choice != kLess && choice != kMore) break;
    const double next = choice == kLess ? t.lambda * kSplineLambdaStep : t.lambda / kSplineLambdaStep;
    t.lambda = std::clamp(next, kSplineLambdaMin, kSplineLambdaMax);
    ++t.steps;
  }
  return t;
}

bool SmoothOrBackgroundCommand(int mode, TSpectrum& spectrum, AnalysisState& state, SplineWork& work,
                               UiPort& port, const SplineCurveView& view) {
  if (mode != kSplineSmoothing && mode != kSplineBackground) return false;
  const int first = spectrum.b1, last = spectrum.b2;
  const auto channels = static_cast<int>(spectrum.sp.size()) - 1;
  if (first < 1 || last > std::min(channels, kSpectrumCapacity) || first > last) {
    port.ShowMessage("Error, no valid interval: make the interval first");
    return false;
  }
  const int n = last - first + 1;
  if (n < kSplineMinPoints) {
    port.ShowMessage("Error, the interval is too short for the spline: at least " +
                     std::to_string(kSplineMinPoints) + " channels are needed");
    return false;
  }
  if (n > kSplineCapacity) {
    port.ShowMessage("Error, the interval is too long for the spline: at most " +
                     std::to_string(kSplineCapacity) + " channels");
    return false;
  }

  DialogRequest r = PrepareDialog(CaptionFor(mode), 0, 600, 420);
  r.helpLines = HelpFor(mode, state.russianHelp);
  ShowCheckList(r, 10, 10, 350, 20,
                {mode == kSplineSmoothing ? "Replace the spectrum by the smoothed one"
                                          : "Subtract the background from the spectrum"});
  if (!port.ShowDialog(r)) return false;
  const bool apply = r.checkList && !r.checkList->checked.empty() && r.checkList->checked[0];

  // A count that is not a number would spread through the whole recursion; it enters as 0.
  for (int k = 1; k <= n; ++k) work.input[k] = spectrum.CountAt(first + k - 1);
  SplineTuningLoop(work, n, mode, port, state.russianHelp, view, first);
  if (!apply) return true;

  for (int k = 1; k <= n; ++k) {
    const int ch = first + k - 1;
    const double value = work.input[k], curve = work.output[k];
    if (mode == kSplineSmoothing) {
      spectrum.sp[ch] = curve;
    } else {
      // The filter keeps the background at or below the data; the bound makes it a guarantee.
      spectrum.sp[ch] = value - std::min(curve, value);
    }
  }
  spectrum.processed = true;
  state.reportLines[0] = mode == kSplineSmoothing ? "Spectrum smoothed" : "Background subtracted";
  return true;
}

}  // namespace orv
