// The running program, toolkit-free: the start-up sequence, the window state of the main window that
// is not analysis state (the click modes), and the orderly end. Both back-ends drive one Program.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "analysis/automatic/automatic_analysis.h"
#include "analysis/workspace.h"
#include "core/measured_model.h"
#include "core/port.h"
#include "graphics/canvas.h"
#include "graphics/plot.h"
#include "ui/interval_fit_mode.h"

namespace orv {

// The caption of the main window and of the title dialog.
inline constexpr const char* kBanner = "ORVANT 2026 - gamma and X-ray spectrum analysis - the ORVANT team";

// What a click on the graph means while the program waits for clicks.
enum class ClickMode {
  kNone,
  kCut,            // "Cut the Cadre (Zoom)": two clicks give the new window
  kMakeInterval,   // "Make the Interval": the same, and the cut becomes the analysed interval
  kModelBounds,    // "Mark the Peak Model": two clicks give the bounds of the measured model
  kManualMarking,  // "Mark the Peaks ": every click marks a peak until OK
  kCheckPeak,      // "Check for Peak and Add": one click
};

// The buttons of the main window that the analysis reacts to.
enum class WindowButton {
  kOk,
  kCancel,
  kNextCadre,
  kPreviousCadre,
  kNext,              // "Next ": the next interval of the interval fit
  kPrevious,          // "Previous "
  kChange,            // "Change": the corrections menu of the interval fit
  kFitToBitmap,       // "Fit -> BMP"
  kGraphSinglePeaks,  // "Graph Single Peaks"
};

struct Program {
  Program(Workspace& workspace, UiPort& uiPort) : ws(workspace), port(uiPort) {}

  Workspace& ws;
  UiPort& port;
  // Local time for the output file name and its stamps; tests pass a fixed one.
  std::function<std::tm()> now;

  std::string outputFileOverride;  // when set, replaces the output file name of the title dialog
  bool outputReady = false;        // the output file was created at start-up
  bool menuEnabled = true;         // false while a click mode waits: only Calibration and Test respond
  bool ended = false;              // "&Exit" was confirmed
  std::set<std::string> disabledCommands;  // normalised captions disabled for the whole run

  // The full graph surface of the main window (600 x 424 design pixels) and the left surface the
  // interval fit draws on (320 x 264); none: graphs are not drawn.
  ImageCanvas* graphSurface = nullptr;
  ImageCanvas* fitSurface = nullptr;
  // The interval fit in dialog mode, created by its first command.
  std::unique_ptr<IntervalFitSession> fitSession;
  // The fit surface seen in design pixels, whatever the screen scale made of it.
  std::unique_ptr<DesignView> fitView;

  ClickMode clickMode = ClickMode::kNone;
  int firstClick = 0;             // channel of the first of two clicks, 0 before it
  int graphModeBeforeClicks = 1;  // the graph a two-click mode started from, restored by Esc

  // The last "Automatic Analysis", drawn over the spectrum graph until a command changes what it showed.
  std::unique_ptr<AutomaticResult> automatic;

  // The measured peak model's settings and work space, kept for the run.
  MeasuredModelSettings modelSettings;
  std::unique_ptr<MeasuredModelWork> modelWork;
};

// The current local time.
std::tm LocalNow();

// The output file name of the title dialog's second entry: "a", day of month, hour and minute, ".res".
std::string TimedOutputFileName(const std::tm& t);

// The start-up sequence: title dialog (Cancel ends the program: false), window layout, the commands
// disabled for the run, the settings file "orvant.fn", the output file with its start line, the
// instrument definition and the defaults of the analysis state.
bool ProgramEntry(Program& p);

// "&Exit": asks "Results not saved. Quit?" when results are unsaved (anything but Yes keeps the
// program running: false), then writes the finish line, closes the output file and writes the
// settings file. `ask` false ends without the question (a run that can no longer answer).
bool ExitCommand(Program& p, bool ask = true);

}  // namespace orv
