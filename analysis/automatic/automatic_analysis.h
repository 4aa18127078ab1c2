// The automatic analysis of the analysed interval: the width law (estimated from the spectrum unless
// widths were given), the program's peak search run piecewise with the local chord of the law, fitting
// intervals formed with the law, and each interval fitted and refined: peaks the fit shows are not
// there are dropped, a peak the residuals ask for is added when a likelihood-ratio test passes. The
// kept peaks become the marking and fill the result table as a spectrum fit does.
#pragma once

#include <string>
#include <vector>

#include "analysis/automatic/width_law.h"
#include "core/port.h"

namespace orv {

struct Workspace;

struct AutomaticOptions {
  // False: the spectrum's width1, width2 and deltaWidth are the law, no estimate is made.
  bool estimateWidths = true;
  // Where the spectrum's widths came from, for the output line when they are used as the fallback.
  std::string widthSource = "the start-up widths";
  int maxRounds = 3;  // refinement rounds per interval
};

// The fitted curve of one interval, for the pictures: per channel start..end the total and the
// background of the final fit.
struct FittedInterval {
  int start = 0, end = 0;
  int firstRow = 1, lastRow = 0;  // its peaks in the result table
  std::vector<double> total, background;
};

struct AutomaticResult {
  bool ran = false;  // false: nothing to analyse, or a fit abandoned the command
  WidthLaw law;
  std::vector<FittedInterval> intervals;
  int searched = 0;  // peaks the search found
  int added = 0;     // peaks the refinement added
  int dropped = 0;   // peaks the refinement dropped
  int edges = 0;     // of them, those a smeared step of the continuum explains as well
  int peaks = 0;     // rows in the result table
};

// The false-alarm rate of an added peak at the position the residuals point to: its likelihood-ratio
// statistic (χ² with 2 degrees of freedom: amplitude and position) must exceed -2 ln(0.001). A peak
// within 1.5 widths of another is held to the same: the fit without it must be worse by as much.
inline constexpr double kAddPeakFalseAlarm = 0.001;

// Runs the analysis over ws.spectrum.b1..b2, fills ws.marking, the result table (rows 1..peaks) and
// `out`; writes the width-law line and a closing line to the output file. The law found becomes the
// spectrum's width settings.
bool AutomaticAnalysis(Workspace& ws, UiPort& port, const AutomaticOptions& options, AutomaticResult& out);

// The menu command "Automatic Analysis": asks "Previous fit results not saved" when results are
// unsaved, then runs the analysis with the spectrum's widths as the fallback and reports on the status
// lines.
bool AutomaticAnalysisCommand(Workspace& ws, UiPort& port, AutomaticResult& out);

}  // namespace orv
