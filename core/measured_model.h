// The measured ("real") peak model: the shape of a large clean peak of the spectrum itself, taken
// between two bounds, freed of a straight edge background, refined, smoothed and resampled into the
// 193-sample table of a TPeakModel with unit width and unit area.
#pragma once

#include <array>
#include <functional>

#include "core/numeric.h"
#include "core/peak_model.h"
#include "core/port.h"

namespace orv {

inline constexpr int kModelMinChannels = 9;
inline constexpr int kModelMaxChannels = 1024;
inline constexpr int kModelRefinedPoints = 180;  // a short peak is refined to about this many points

// One set for the run.
struct MeasuredModelSettings {
  int modelLeft = 0, modelRight = 0;  // bounds (channels)
  int edgeChannels = 1;               // background channels at each edge; 0: no background subtracted
  double modelSmoothing = 1.0;        // weight of the smoothed curve in the automatic spline smoothing
};

// The spectrum the model is taken from: values y[1..last] and their errors e[1..last].
struct ModelSource {
  const double* y = nullptr;
  const double* e = nullptr;
  int last = 0;
  double smallStatistics = 7.0;
};

// State between preparing and building. The smoothed net peak sits in the spline output, [1..count].
struct MeasuredModelWork {
  int count = 0;                                    // points of the (refined) net peak
  int refinement = 1;                               // points per channel after refinement
  double lambda = 0;                                // smoothing parameter of the curve in the spline output
  std::array<double, kModelMaxChannels + 1> net{};  // the net peak, [1..count]
  std::array<double, kModelMaxChannels + 1> background{};  // edge background per channel of the peak
};

// Receives the net peak and its smoothed form (both [1..count]) with the request of the dialog that
// asks about them, to show them in its picture; called once per showing of that dialog.
using MeasuredPeakView =
    std::function<void(const double* net, const double* smoothed, int count, DialogRequest& dialog)>;

// Edge channels to propose (1..3): grows while the first channels next to either bound stay within two
// combined errors of the bound's value.
int EstimateEdgeChannels(const double* y, const double* e, int left, int right);

// Net peak between the bounds (edge background subtracted, negative values dropped when `positive`),
// refined and smoothed into the spline work. False, with the reason shown, when the interval is too
// short or too long or lies outside the spectrum, or when the user declines to go on with low
// statistics or bad data.
bool PrepareMeasuredModel(const MeasuredModelSettings& settings, bool positive, const ModelSource& source,
                          SplineWork& spline, MeasuredModelWork& work, UiPort& port);

// Smooths the net peak again into the spline output with the spline parameter `lambda` (larger: closer
// to the data); `smoothing` is the weight of the spline in the result, as in AutoSpline.
void ResmoothMeasuredPeak(SplineWork& spline, MeasuredModelWork& work, double lambda, double smoothing);

// Resamples the smoothed peak into the model table with its maximum at the centre and normalises it.
// A peak that vanishes below the noise threshold is refused and leaves the model as it was; a refused
// normalisation ("Illegal model") leaves the new samples.
bool BuildMeasuredModel(TPeakModel& model, SplineWork& spline, const MeasuredModelWork& work, UiPort& port);

// The command "Form the real peak model": confirms the bounds clicked on the graph and the edge
// channels, prepares the net peak, lets the user tune its smoothing, builds the model and reports it to
// `sink`. Returns the success flag.
bool FormRealPeakModelCommand(TPeakModel& model, MeasuredModelSettings& settings, const ModelSource& source,
                              int clickedLeft, int clickedRight, SplineWork& spline, MeasuredModelWork& work,
                              UiPort& port, LineSink* sink, const MeasuredPeakView& view = {});

}  // namespace orv
