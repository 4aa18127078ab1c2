// The composed graphs: the spectrum graph of a window of channels, the interval (cadre) graph that
// keeps its window inside the spectrum, the fit graph of the interval fit with its single peaks, the
// read-out boxes, and the translation of clicks into channels. All in design pixels.
#pragma once

#include <climits>
#include <string>

#include "analysis/workspace.h"
#include "graphics/canvas.h"
#include "graphics/plot.h"
#include "spectrum/smoothing.h"

namespace orv {

// A window of channels: first..last, width = last - first + 1.
struct ChannelWindow {
  int first = 1, last = 1, width = 1;
};

// The window moved into the spectrum's channels a1..a2 (and its arrays): a window that starts before
// the spectrum is moved to start at its first channel, one that ends after it to end at its last
// channel, both keeping their width; a window wider than the spectrum is cut to it.
ChannelWindow FitWindowToSpectrum(int first, int last, int width, const TSpectrum& spectrum);

// The largest of 0 and the counts of first..last that lie in the spectrum arrays (non-numbers skipped).
double LargestCount(const TSpectrum& spectrum, int first, int last);

// The spectrum graph of the window in the state on the full graph surface, with the value axis topped
// by ScaleValue(largestCount). Returns the number of marked-peak ticks drawn.
int DrawSpectrumGraph(const Workspace& ws, Canvas& canvas, double largestCount);

// Fits the state's window into the spectrum (the state keeps the fitted window), then draws it.
int DrawIntervalGraph(Workspace& ws, Canvas& canvas);

// What the graph area shows for the state's graphMode: 1 the spectrum graph of the window, 3 the
// interval graph; other modes draw nothing (false).
bool DrawCurrentGraph(Workspace& ws, Canvas& canvas);

// Read-out boxes: black with a green rounded frame, light-cyan text.
void ShowChannelReadout(Canvas& canvas, const Workspace& ws, int left, int top, int right, int channel,
                        int bottom);
void ShowPeakReadout(Canvas& canvas, const Workspace& ws, int left, int top, int right, double width,
                     double area, double position, int bottom);

// A click that selects no channel.
inline constexpr int kNoChannel = INT_MIN;
// The channel of a click at design pixel (x, y) of the full graph surface: the channel whose point is
// drawn at x. Only clicks with 60 <= x <= 572 and 100 <= y <= 355 count; others give kNoChannel.
int ClickToChannel(const AnalysisState& state, int x, int y);

// The read-out of a click in graph modes 1 to 5: the spectrum around the channel estimated as a peak,
// shown in the box (440, 5)-(590, 85). False (nothing drawn) for a channel outside the spectrum.
bool ShowClickedPeak(const Workspace& ws, Canvas& canvas, int channel);

// The fit graph on the left surface: the interval of `length` channels over 264 pixels from x 48; the
// value labels go left of it.
inline constexpr int kFitLeft = 48;
inline constexpr int kFitPixels = 264;
inline constexpr int kFitSurfaceWidth = 320;
inline constexpr int kFitSurfaceHeight = 264;
int FitChannelToPixelX(int start, int length, double channel);
// The inverse for clicks on the fit graph: a click on the pixel of channel c gives c.
int FitClickToChannel(int start, int length, int x);

// Background and total of the fitted model of ws.fit at a (real) channel, and peak k's contribution.
struct FittedValue {
  double background = 0, total = 0;
};
bool FitAvailable(const Workspace& ws);
FittedValue FittedAt(const Workspace& ws, double channel);
double FittedPeakAt(const Workspace& ws, int k, double channel);

// The value range of the fit graph in the scale's transformed values: everything drawn (the counts,
// the fitted curve, background and single peaks at their sub-channel positions, the error band)
// with a little room, so that a narrow peak keeps its top and a small one on a high background
// fills the graph.
struct FitScale {
  double lo = 0, hi = 1;
};
FitScale FitGraphScale(const Workspace& ws);
// y of a value on the fit graph: lo at its base line, hi at its top.
int FitValueToPixelY(const Workspace& ws, const FitScale& scale, double v);
// "INT.= " start " -" end "  " n " peak(s)  DB=" degree.
std::string FitGraphTitle(const Workspace& ws);

// The interval of ws.fit with its data, and after a fit the fitted curve, the background, the single
// peaks, the reflection indicators and, with graphFittedErrors, the band of one standard deviation of
// the counts around the fitted curve.
void DrawFitGraph(const Workspace& ws, Canvas& canvas);
// Each fitted peak on the background as a red line, at three sub-positions per channel.
void DrawSinglePeaks(const Workspace& ws, Canvas& canvas, const FitScale& top);

// The picture of a tuning loop (smoothing, background, measured peak model) at the place `area` of
// its dialog: the data `original` as points and the `processed` curve as a line, both [1..count] and
// on one vertical scale that holds both, over a dotted grid.
DialogImage TuningPicture(const AnalysisState& st, const double* original, const double* processed, int count,
                          const DialogImage& area);

}  // namespace orv
