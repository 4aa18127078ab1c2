// The interval fit in dialog mode: the marked intervals fitted one at a time in front of the user,
// walked with Next and Previous and corrected through the Change menu. A toolkit-free state machine
// over the UI port; the windows and scripts feed it button presses and clicks on the fit graph.
#pragma once

#include <string>
#include <vector>

#include "analysis/workspace.h"
#include "core/port.h"
#include "graphics/canvas.h"

namespace orv {

// What a click on the fit graph means while a correction waits for it.
enum class FitClickMode {
  kNone,
  kBlunder,     // "Correct the blunders": the clicked value becomes the mean of its neighbours
  kNewPeak,     // "Click on new peak": the clicked channel becomes a marked peak
  kDeletePeak,  // "Delete peak": the marked peak nearest to the click goes
};

// The rows of the "Change" menu, in their order (1-based as in the radio list).
enum class FitCorrection {
  kBlunders = 1,
  kBackground = 2,
  kEmpty = 3,  // the empty row acts as "Correct the blunders"
  kParameters = 4,
  kBounds = 5,
  kNewPeak = 6,
  kDeletePeak = 7,
};

// The result grid of the fit display: a heading row, then per peak a " Peak" row and an " Errors" row.
inline constexpr int kFitGridColumns = 8;
using FitGridRow = std::vector<std::string>;

class IntervalFitSession {
 public:
  IntervalFitSession(Workspace& ws, UiPort& port) : ws_(ws), port_(port) {}

  // Surfaces the fit is drawn on; either may be null (scripts). `fitCanvas` gets the fit graph of
  // the interval (the left surface, kFitSurfaceWidth x kFitSurfaceHeight).
  Canvas* fitCanvas = nullptr;

  // "Interval  Fit": the question about unsaved results, the fitting-data dialog, then Start. False
  // when cancelled or nothing could be started.
  bool Command();
  // After the fitting-data dialog: from the first interval.
  bool Start();
  // "Continue Fit": from the current interval. "No marking data" without a marking. Writes
  // "New Fitting" to the output file and fits the interval.
  bool Continue();

  // The buttons "Next " and "Previous ": false (nothing done) when disabled.
  bool Next();
  bool Previous();
  bool NextEnabled() const;
  bool PreviousEnabled() const;
  // The fit display is up (after Start, until the marking is gone).
  bool Active() const { return active_; }
  // Ends the dialog mode (a batch fit took over): the display and its buttons go.
  void End() {
    active_ = false;
    clickMode_ = FitClickMode::kNone;
  }
  // Esc while a correction waits for its click: the correction is abandoned.
  void CancelClick();
  // The current interval is the last one: the walk is at its end.
  bool AtLastInterval() const;

  // "Change": the menu dialog, then the chosen correction. False when cancelled.
  bool Change();
  // One correction as if chosen in the menu; the click-driven ones set the click mode and prompt.
  bool Correct(FitCorrection correction);
  // The click mode a correction waits for; the caller routes clicks on the fit graph to Click.
  FitClickMode WaitingFor() const { return clickMode_; }
  // A click on the fit graph at `channel` (FitClickToChannel). False when no correction waits for
  // one or the click was refused (the mode then stays).
  bool Click(int channel);

  // "Fit -> BMP": the fit picture on `canvas` to a bitmap file with its graph data file.
  bool FitToBitmap(ImageCanvas& canvas);
  // "Graph Single Peaks": each fitted peak on the background over the fit graph on `canvas`.
  bool GraphSinglePeaks(Canvas& canvas);

  // What the last step showed: the result grid, the quality and warnings of the status lines.
  const std::vector<FitGridRow>& Grid() const { return grid_; }
  const std::string& Quality() const { return quality_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  // Fits the current interval, draws it, reports it and stores its rows; mode 1: cubic background.
  void ShowIntervalFit(int mode);
  void Report();
  void StoreRows();
  bool BlunderClick(int channel);
  bool NewPeakClick(int channel);
  bool DeletePeakClick(int channel);
  bool NewBounds();
  void ShowParameters();
  // After the peaks changed: intervals formed again, the one around `channel` becomes current.
  void Reform(int channel);
  void Fail();

  Workspace& ws_;
  UiPort& port_;
  bool active_ = false;
  FitClickMode clickMode_ = FitClickMode::kNone;
  std::vector<FitGridRow> grid_;
  std::string quality_;
  std::vector<std::string> warnings_;
  // Blunder clicks with what they replaced, undone when the interval gets new bounds.
  struct CorrectedPoint {
    int channel;
    double count, error;
  };
  std::vector<CorrectedPoint> corrected_;
};

}  // namespace orv
