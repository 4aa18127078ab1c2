#include "ui/commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "analysis/auto_calibration.h"
#include "analysis/calibration.h"
#include "analysis/command_file.h"
#include "analysis/fit_loop.h"
#include "analysis/info_views.h"
#include "analysis/marking_modes.h"
#include "analysis/output_sections.h"
#include "analysis/spectrum_export.h"
#include "analysis/spectrum_fit.h"
#include "analysis/spectrum_input.h"
#include "analysis/test_spectra.h"
#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/peak_model.h"
#include "graphics/automatic_graph.h"
#include "graphics/bitmap_export.h"
#include "graphics/calibration_graphs.h"
#include "graphics/graphs.h"
#include "graphics/plot.h"
#include "spectrum/blunders.h"
#include "spectrum/compression.h"
#include "spectrum/name_list.h"
#include "spectrum/smoothing.h"
#include "ui/carbon_analysis.h"
#include "ui/settings_dialogs.h"

namespace orv {

namespace {

const char* const kNoGraph = "Error, no graph on the screen";

// Shows the report line a command left behind.
void Report(Program& p) {
  p.port.ShowStatus(p.ws.state.reportLines[0], "");
}

// A new graph ends what the status lines and the prompt told about the old one; the command that
// draws it reports afresh.
void ClearReports(Program& p) {
  p.port.ShowStatus("", "");
  p.port.ShowPrompt("");
}

// The whole spectrum in the graph, as after every command that changes the spectrum.
void ShowSpectrum(Program& p) {
  ClearReports(p);
  AnalysisState& st = p.ws.state;
  st.viewFirst = p.ws.spectrum.a1;
  st.viewLast = p.ws.spectrum.a2;
  st.viewWidth = st.viewLast - st.viewFirst + 1;
  st.cadreStepping = 0;
  st.graphMode = 1;
  RedrawCurrentGraph(p);
}

// The interval graph of the window viewFirst..viewLast.
void ShowInterval(Program& p) {
  ClearReports(p);
  AnalysisState& st = p.ws.state;
  st.viewWidth = st.viewLast - st.viewFirst + 1;
  st.cadreStepping = 1;
  st.graphMode = 3;
  RedrawCurrentGraph(p);
}

// The first step of the commands that wait for two clicks on the graph.
void BeginTwoClicks(Program& p, ClickMode mode) {
  AnalysisState& st = p.ws.state;
  if (st.graphMode == 0) {
    p.port.ShowStatus(kNoGraph, "");
    return;
  }
  st.graphMarkCount = 0;  // the marked-peak ticks are erased
  p.menuEnabled = false;
  p.port.EnableMainMenu(false);
  RedrawCurrentGraph(p);
  p.graphModeBeforeClicks = st.graphMode;
  st.graphMode = 13;
  p.clickMode = mode;
  p.firstClick = 0;
  p.port.ShowStatus(" Click on the beginning ", "");
}

void EndClickMode(Program& p) {
  p.clickMode = ClickMode::kNone;
  p.firstClick = 0;
  p.menuEnabled = true;
  p.port.EnableMainMenu(true);
}

void BuildMeasuredModel(Program& p, int left, int right) {
  Workspace& ws = p.ws;
  if (!ws.splineWork) ws.splineWork = std::make_unique<SplineWork>();
  if (!p.modelWork) p.modelWork = std::make_unique<MeasuredModelWork>();
  const int last = std::min(ws.spectrum.a2, static_cast<int>(ws.spectrum.sp.size()) - 1);
  const ModelSource source{ws.spectrum.sp.data(), ws.spectrum.err.data(), last, ws.state.smallStatistics};
  const MeasuredPeakView view = [&p](const double* net, const double* smoothed, int count, DialogRequest& r) {
    r.image = TuningPicture(p.ws.state, net, smoothed, count, kSplinePictureArea);
  };
  if (FormRealPeakModelCommand(ws.model(), p.modelSettings, source, left, right, *ws.splineWork, *p.modelWork,
                               p.port, &ws.output, view))
    p.port.ShowStatus(" Real peak model set up", "");
}

void SecondClick(Program& p, int channel) {
  AnalysisState& st = p.ws.state;
  const int first = std::min(p.firstClick, channel);
  const int last = std::max(p.firstClick, channel);
  const ClickMode mode = p.clickMode;
  EndClickMode(p);
  st.graphMode = 1;
  p.port.ShowStatus("", "");
  if (mode == ClickMode::kModelBounds) {
    BuildMeasuredModel(p, first, last);
    return;
  }
  st.viewFirst = first;
  st.viewLast = last;
  st.viewWidth = last - first + 1;
  if (mode == ClickMode::kMakeInterval) SetInterval(st, p.ws.spectrum, first, last);
  ShowInterval(p);
}

// Marking in one of the four modes; the status shows what was found, or nothing after a Cancel.
void Mark(Program& p, int mode) {
  p.ws.state.markingMode = mode;
  if (!MarkSpectrum(p.ws, p.port)) {
    p.port.ShowStatus("", "");
    return;
  }
  ShowSpectrum(p);
  p.port.ShowStatus(p.ws.state.reportLines[0], p.ws.state.reportLines[1]);
}

IntervalFitSession& FitSession(Program& p) {
  if (!p.fitSession) p.fitSession = std::make_unique<IntervalFitSession>(p.ws, p.port);
  if (p.fitSurface && !p.fitView) p.fitView = std::make_unique<DesignView>(*p.fitSurface, kFitSurfaceWidth);
  p.fitSession->fitCanvas = p.fitView.get();
  return *p.fitSession;
}

void SmoothOrBackground(Program& p, int mode) {
  Workspace& ws = p.ws;
  if (!ws.splineWork) ws.splineWork = std::make_unique<SplineWork>();
  const bool applied = SmoothOrBackgroundCommand(
      mode, ws.spectrum, ws.state, *ws.splineWork, p.port, [&p](const SplineCurves& c, DialogRequest& r) {
        r.image = TuningPicture(p.ws.state, c.original, c.processed, c.count, kSplinePictureArea);
      });
  if (applied) {
    ws.spectrum.FindExtremes();
    ShowSpectrum(p);
  }
  Report(p);
}

// Compression changes what a channel means: the marking, the results and a calibration in channels no
// longer fit, so they go (after the question about unsaved results).
void CompressSpectrum(Program& p) {
  Workspace& ws = p.ws;
  AnalysisState& st = ws.state;
  if (st.resultsUnsaved && !p.port.AskOkCancel("Previous fit results not saved")) return;
  if (CompressCommand(ws.spectrum, st, p.port)) {
    ws.marking.peakCount = 0;
    ws.marking.intervalCount = 0;
    ws.markingInput.count = 0;
    ClearSpectrumCounters(st);
    st.resultsUnsaved = false;
    if (st.energyCalibrated) {
      st.energyCalibrated = false;
      p.port.ShowMessage(
          "The energy calibration is in channels of the uncompressed spectrum: it is out of force");
    }
    ShowSpectrum(p);
  }
  Report(p);
}

void Calibrate(Program& p, int kind) {
  Workspace& ws = p.ws;
  const bool set =
      EnterCalibration(kind, ws.state, ws.calibration, ws.marking, ws.results, p.port, &ws.output);
  // The entry puts the old calibration out of force first: the axis energies follow either way.
  RedrawCurrentGraph(p);
  if (set) p.port.ShowStatus(kind == 0 ? " Energy calibration set up" : " Efficiency calibration set up", "");
}

std::uint64_t ClockSeed(const Program& p) {
  if (p.now) {
    const std::tm t = p.now();
    return static_cast<std::uint64_t>(t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec);
  }
  return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

std::vector<Command> BuildTable() {
  std::vector<Command> t;
  std::string menu;
  auto add = [&](const std::string& caption, std::function<void(Program&)> run) {
    t.push_back({menu, caption, std::move(run)});
  };
  auto separator = [&](const std::string& caption) { t.push_back({menu, caption, nullptr}); };

  menu = "&File";
  add("Input the Spectrum", [](Program& p) {
    if (InputSpectrumCommand(p.ws, p.port)) ShowSpectrum(p);
    Report(p);
  });
  add("Correct for Blunders", [](Program& p) {
    if (BlunderCommand(p.ws.spectrum, p.ws.state, p.port, &p.ws.output)) ShowSpectrum(p);
    Report(p);
  });
  add("Compress the Spectrum", CompressSpectrum);
  add("Smooth the Spectrum", [](Program& p) { SmoothOrBackground(p, kSplineSmoothing); });
  add("Build the Background", [](Program& p) { SmoothOrBackground(p, kSplineBackground); });
  add("Simulate the Spectrum", [](Program& p) {
    SimulateCommand(p.ws, ClockSeed(p), p.port);
    p.ws.marking.peakCount = 0;
    p.ws.marking.intervalCount = 0;
    p.ws.state.markedCount = 0;
    ShowSpectrum(p);
  });
  separator("------------------------------");
  add("Enter the Ini File", [](Program& p) {
    std::string name = "a.ini";
    if (!SelectFile(p.port, name, 0)) return;
    ReadCommandFile(p.ws, p.port, name);
    // The line left by "Save the Init File" no longer tells what the settings came from.
    p.port.ShowStatus("Ini file read: " + name, "");
  });
  add("Enter the Spectrum Series Names", [](Program& p) {
    CarbonAnalysisCommand(p.ws, p.port);
    ShowSpectrum(p);  // the last spectrum of the series is the one loaded now
  });
  separator("-------------------------------");
  add("Save Marking Info", [](Program& p) { WriteMarkingInfo(p.ws, p.port); });
  add("&Save the Fit Results", [](Program& p) {
    if (p.ws.marking.peakCount == 0) {
      p.port.ShowStatus("Error! No peaks fitted", "");
      return;
    }
    const int rows = p.ws.state.resultCount;
    SaveFitResultsCommand(p.ws, p.port);
    // Saved rows are cleared: the reminders to save them are over.
    if (rows > 0 && p.ws.state.resultCount == 0) {
      p.port.ShowStatus("Results saved: " + std::to_string(rows) + " peaks", "");
      p.port.ShowPrompt("");
    }
  });
  add("Save Energy Calibration", [](Program& p) { WriteEnergyCalibration(p.ws, p.port); });
  add("Save Efficiency Calibration", [](Program& p) { WriteEfficiencyCalibration(p.ws, p.port); });
  add("Save the Init File", [](Program& p) { SaveInitFileCommand(p.ws, p.port); });
  add("Write the Spectrum", [](Program& p) {
    if (WriteSpectrumCommand(p.ws, p.port)) Report(p);
  });
  separator("________________");
  add("&Exit", [](Program& p) { ExitCommand(p); });

  menu = "&Settings";
  add("Clear the Form", [](Program& p) { ClearForm(p); });
  add("Set  Width Dependence", [](Program& p) {
    WidthDependenceCommand(p.ws);
    p.port.ShowStatus(p.ws.state.reportLines[0], p.ws.state.reportLines[1]);
  });
  add("Set Graph Scale", [](Program& p) {
    if (GraphScaleCommand(p.ws, p.port)) RedrawCurrentGraph(p);
  });
  add("Assign the Spectrum Name", [](Program& p) {
    if (AssignSpectrumNameCommand(p.ws, p.port)) ShowSpectrum(p);
  });
  add("Input the Spectrum Names",
      [](Program& p) { InputSpectrumNamesCommand(p.ws.state, p.ws.names, p.port); });
  add("Set Form and Font Sizes", [](Program& p) {
    if (!FormSizesCommand(p.ws, p.port)) return;
    p.port.LayoutWindows(p.ws.state.screenScale, p.ws.state.fontSize);
    const int mode = p.ws.state.graphMode;
    ClearForm(p);
    p.ws.state.graphMode = mode;  // the graph shown before is drawn again in the new layout
    RedrawCurrentGraph(p);
  });

  menu = "&Graph";
  add("Graph the Spectrum", [](Program& p) {
    ClearForm(p);
    ShowSpectrum(p);
  });
  add("Graph the Interval", [](Program& p) {
    ClearForm(p);
    p.ws.state.viewFirst = p.ws.spectrum.b1;
    p.ws.state.viewLast = p.ws.spectrum.b2;
    ShowInterval(p);
  });
  add("Cut the Cadre (Zoom)", [](Program& p) { BeginTwoClicks(p, ClickMode::kCut); });
  add("Graph Peak Model", [](Program& p) { GraphPeakModel(p.ws, p.port); });
  add("Graph Energy Calibration", [](Program& p) { GraphEnergyCalibration(p.ws, p.port, ""); });
  add("Graph Efficiency Calibration", [](Program& p) { GraphEfficiencyCalibration(p.ws, p.port); });
  add("Spectrum -> BMP file", [](Program& p) {
    if (p.graphSurface) SaveSpectrumBitmap(p.ws, p.port, *p.graphSurface);
  });
  separator("------------------------------");
  add("Draw Peak Indicator", [](Program& p) { RedrawCurrentGraph(p); });

  menu = "&Mark";
  add("Make the Interval", [](Program& p) { BeginTwoClicks(p, ClickMode::kMakeInterval); });
  add("Mark the Peaks ", [](Program& p) {
    const int mode = p.ws.state.graphMode;
    if (mode != 1 && mode != 3) {
      p.port.ShowStatus(kNoGraph, "");
      return;
    }
    BeginManualMarking(p.ws, p.port);
    p.clickMode = ClickMode::kManualMarking;
    p.menuEnabled = false;
    p.port.EnableMainMenu(false);
  });
  add("Mark the Peak Model", [](Program& p) { BeginTwoClicks(p, ClickMode::kModelBounds); });
  add("Check for Peak and Add", [](Program& p) {
    p.ws.markingInput.checkActive = true;
    p.clickMode = ClickMode::kCheckPeak;
    p.port.ShowPrompt("Click on the peak top");
  });

  menu = "&Operation";
  add("Make a Special Peak Model", [](Program& p) { SpecialModelCommand(p.ws.model(), p.port); });
  add("Automatic Spectrum Marking", [](Program& p) { Mark(p, 0); });
  add("Spectrum Marking by Energies", [](Program& p) { Mark(p, 2); });
  add("Mark by Data Set", [](Program& p) { Mark(p, 3); });
  add("Manual Spectrum Marking", [](Program& p) { Mark(p, 1); });
  separator("------------------------------");
  add("Interval  Fit", [](Program& p) { FitSession(p).Command(); });
  add("Continue Fit", [](Program& p) { FitSession(p).Continue(); });
  add("Spectrum  Fit", [](Program& p) {
    // The batch fit walks every interval itself: the interval fit's display would show one it no
    // longer stands at, so its dialog mode ends and the spectrum with the fitted peaks is shown.
    // Refused or cancelled before it began, it leaves everything as it was.
    const int before = p.ws.state.currentInterval;
    const bool fitted = SpectrumFitCommand(p.ws, p.port);
    if (!fitted && p.ws.state.currentInterval == before) return;
    if (p.fitSession) p.fitSession->End();
    p.ws.state.viewFirst = p.ws.spectrum.b1;
    p.ws.state.viewLast = p.ws.spectrum.b2;
    ShowInterval(p);
    if (fitted) p.port.ShowStatus(p.ws.state.reportLines[0], p.ws.state.reportLines[1]);
  });
  add("Fit Loop", [](Program& p) { FitLoopCommand(p.ws, p.port); });
  add("Fit for Graphs", [](Program& p) { FitForGraphsCommand(p.ws, p.port); });
  add("Automatic Analysis", [](Program& p) {
    // The analysis walks every interval itself, as the spectrum fit does: the interval fit's dialog
    // mode ends, and the analysed interval is shown with the fitted curves.
    auto result = std::make_unique<AutomaticResult>();
    if (!AutomaticAnalysisCommand(p.ws, p.port, *result)) return;
    if (p.fitSession) p.fitSession->End();
    AnalysisState& st = p.ws.state;
    st.viewFirst = p.ws.spectrum.b1;
    st.viewLast = p.ws.spectrum.b2;
    if (SpansDecades(p.ws.spectrum, st.viewFirst, st.viewLast)) st.scaleMode = 2;
    p.automatic = std::move(result);
    ShowInterval(p);
    p.port.ShowStatus(st.reportLines[0], st.reportLines[1]);
  });

  menu = "&Calibration";
  add("Energy Calibration", [](Program& p) { Calibrate(p, 0); });
  add("Efficiency Calibration", [](Program& p) { Calibrate(p, 1); });
  add("Auto-Calibration", [](Program& p) {
    // The closing graph shows the line found, whether or not a calibration is in force; only its
    // check box puts the line in force.
    p.ws.state.reportLines[1].clear();
    AutoCalibrationCommand(p.ws, p.port, [&p] { return GraphAutoCalibration(p.ws, p.port); });
    RedrawCurrentGraph(p);  // the energies under the channel axis follow a calibration put in force
    p.port.ShowStatus(p.ws.state.reportLines[0], p.ws.state.reportLines[1]);
  });

  menu = "&Info";
  add("&Info about the Spectrum", [](Program& p) {
    if (!InfoAboutSpectrumCommand(p.ws, p.port)) return;
    p.ws.state.viewFirst = p.ws.spectrum.b1;
    p.ws.state.viewLast = p.ws.spectrum.b2;
    ShowInterval(p);
  });
  add("Show Sp.File Names", [](Program& p) { ShowNameListView(p.ws, p.port); });
  add("Show Marked Peaks", [](Program& p) { ShowMarkingView(p.ws, p.port); });
  add("Show Result Table", [](Program& p) {
    ShowResultTableView(p.ws, p.port);
    Report(p);  // "Results saved" after Save; otherwise the empty report hides the status lines
  });

  menu = "&Help";
  add("Common Help", [](Program& p) { p.port.ShowText(HelpText(HelpId::kCommon, p.ws.state.russianHelp)); });
  add("Get Started",
      [](Program& p) { p.port.ShowText(HelpText(HelpId::kGettingStarted, p.ws.state.russianHelp)); });

  menu = "&Test";
  add("&Test", [](Program& p) {
    if (TestSpectraCommand(p.ws, p.port)) ShowSpectrum(p);
  });
  return t;
}

}  // namespace

const std::vector<Command>& CommandTable() {
  static const std::vector<Command> table = BuildTable();
  return table;
}

std::string NormaliseCaption(const std::string& caption) {
  std::string out;
  for (char c : caption) {
    if (c == '&') continue;
    const bool blank = c == ' ' || c == '\t';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::set<std::string> DisabledAtStartUp() {
  return {"Fit Loop",
          "Fit for Graphs",
          "Assign the Spectrum Name",
          "Input the Spectrum Names",
          "Draw Peak Indicator",
          "Show Sp.File Names"};
}

CommandStatus RunCommand(Program& p, const std::string& caption) {
  const std::string wanted = NormaliseCaption(caption);
  for (const Command& c : CommandTable()) {
    if (!c.run || NormaliseCaption(c.caption) != wanted) continue;
    const bool alwaysOn = c.menu == "&Calibration" || c.menu == "&Test";
    if (p.disabledCommands.count(wanted) > 0 || (!p.menuEnabled && !alwaysOn))
      return CommandStatus::kDisabled;
    // The picture of an automatic analysis stays only while the commands leave what it shows alone.
    static const std::set<std::string> keepPicture = {"Automatic Analysis", "Show Result Table",
                                                      "Set Graph Scale",    "Show Marked Peaks",
                                                      "Common Help",        "Get Started"};
    if (keepPicture.count(wanted) == 0) p.automatic.reset();
    c.run(p);
    return CommandStatus::kDone;
  }
  return CommandStatus::kUnknown;
}

void ClearForm(Program& p) {
  p.port.ClearForm();
  p.ws.state.graphMode = 0;
}

void RedrawCurrentGraph(Program& p) {
  if (!p.graphSurface) return;
  DesignView view(*p.graphSurface, kGraphWidth);
  AnalysisState& st = p.ws.state;
  if (p.automatic && (st.graphMode == 1 || st.graphMode == 3)) {
    const ChannelWindow w = FitWindowToSpectrum(st.viewFirst, st.viewLast, st.viewWidth, p.ws.spectrum);
    st.viewFirst = w.first;
    st.viewLast = w.last;
    st.viewWidth = w.width;
    DrawAutomaticGraph(p.ws, view, *p.automatic);
    return;
  }
  DrawCurrentGraph(p.ws, view);
}

void GraphClick(Program& p, int channel) {
  AnalysisState& st = p.ws.state;
  if (p.fitSession && p.fitSession->WaitingFor() != FitClickMode::kNone) {
    p.fitSession->Click(channel);
    return;
  }
  switch (p.clickMode) {
    case ClickMode::kNone:
      return;
    case ClickMode::kCut:
    case ClickMode::kMakeInterval:
    case ClickMode::kModelBounds:
      if (p.firstClick == 0) {
        p.firstClick = std::max(channel, 1);
        p.port.ShowStatus(" Click on the beginning ", " Click on the end ");
      } else {
        SecondClick(p, std::max(channel, 1));
      }
      return;
    case ClickMode::kManualMarking:
      ManualMarkingClick(p.ws, p.port, channel, st.viewWidth);
      return;
    case ClickMode::kCheckPeak:
      p.clickMode = ClickMode::kNone;
      p.port.ShowPrompt("");
      CheckPeakAndAdd(p.ws, p.port, channel, st.viewFirst, st.viewLast);
      return;
  }
}

void EscapeClickMode(Program& p) {
  AnalysisState& st = p.ws.state;
  if (p.fitSession && p.fitSession->WaitingFor() != FitClickMode::kNone) {
    p.fitSession->CancelClick();
    return;
  }
  switch (p.clickMode) {
    case ClickMode::kNone:
      return;
    case ClickMode::kManualMarking:
      PressButton(p, WindowButton::kOk);
      return;
    case ClickMode::kCheckPeak:
      p.ws.markingInput.checkActive = false;
      p.clickMode = ClickMode::kNone;
      p.port.ShowPrompt("");
      return;
    case ClickMode::kCut:
    case ClickMode::kMakeInterval:
    case ClickMode::kModelBounds:
      // The cut is abandoned: the graph it started from comes back with the menus.
      EndClickMode(p);
      st.graphMode = p.graphModeBeforeClicks == 13 ? 1 : p.graphModeBeforeClicks;
      ClearReports(p);
      RedrawCurrentGraph(p);
      return;
  }
}

void GraphClickAt(Program& p, int x, int y) {
  const int channel = ClickToChannel(p.ws.state, x, y);
  if (channel == kNoChannel) return;
  // Outside the click modes a click on a drawn spectrum reads out the peak estimated there.
  const int mode = p.ws.state.graphMode;
  if (p.clickMode == ClickMode::kNone && mode >= 1 && mode <= 5 && p.graphSurface) {
    DesignView view(*p.graphSurface, kGraphWidth);
    ShowClickedPeak(p.ws, view, channel);
  } else
    GraphClick(p, channel);
}

void PressButton(Program& p, WindowButton button) {
  AnalysisState& st = p.ws.state;
  switch (button) {
    case WindowButton::kOk:
      if (p.clickMode != ClickMode::kManualMarking) return;
      FinishManualMarking(p.ws);
      EndClickMode(p);
      p.port.ShowPrompt("");
      return;
    case WindowButton::kCancel:
      if (p.clickMode != ClickMode::kManualMarking) return;
      UndoManualMarkingClick(p.ws, p.port);
      return;
    case WindowButton::kNext:
    case WindowButton::kPrevious:
    case WindowButton::kChange:
    case WindowButton::kFitToBitmap:
    case WindowButton::kGraphSinglePeaks: {
      // The buttons of the interval fit act only while it runs.
      if (!p.fitSession || !p.fitSession->Active()) return;
      IntervalFitSession& f = *p.fitSession;
      if (button == WindowButton::kNext) f.Next();
      if (button == WindowButton::kPrevious) f.Previous();
      if (button == WindowButton::kChange) f.Change();
      if (button == WindowButton::kFitToBitmap && p.fitSurface) f.FitToBitmap(*p.fitSurface);
      if (button == WindowButton::kGraphSinglePeaks && p.fitView) f.GraphSinglePeaks(*p.fitView);
      return;
    }
    case WindowButton::kNextCadre:
    case WindowButton::kPreviousCadre:
      if (st.cadreStepping != 1 || p.clickMode != ClickMode::kNone) return;
      if (button == WindowButton::kNextCadre) {
        st.viewFirst = st.viewLast + 1;
        st.viewLast = st.viewFirst + st.viewWidth - 1;
      } else {
        st.viewLast = st.viewFirst - 1;
        st.viewFirst = st.viewLast - (st.viewWidth - 1);
      }
      ShowInterval(p);
      return;
  }
}

}  // namespace orv
