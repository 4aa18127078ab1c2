// The small graphs shown inside the generic dialog: the energy calibration (channel against energy with
// the fitted curve and a table of deviations), the efficiency calibration (energy against coefficient
// with the interpolated curve) and the current peak model. Each picture is a plot box of 200 x 215
// design pixels drawn in memory; texts go into dialog labels because the memory canvas draws no font.
#pragma once

#include <string>

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// Size of the plot box and the base line of its value axis.
inline constexpr int kPlotBoxWidth = 200;
inline constexpr int kPlotBoxHeight = 215;
inline constexpr int kPlotBoxBase = 203;

// Colours of the calibration pictures (the grid is green, the model samples magenta).
inline constexpr Rgb kCalibrationCurveColor{255, 255, 0};  // yellow
inline constexpr Rgb kCalibrationPointColor{255, 64, 64};  // light red
inline constexpr Rgb kPeakModelColor{255, 0, 255};         // magenta

// Pixel x of an argument on a calibration graph: the first argument at 7, the last at 187.
int CalibrationPixelX(double argument, double first, double last);
// Pixel y of a value on a calibration graph: lo at the base line 203, hi 190 pixels higher.
int CalibrationPixelY(double value, double lo, double hi);
// Chi-square per degree of freedom of the energy table against its own calibration curve; an item
// with error 0 weighs as if its error were 0.000001.
double EnergyCalibrationChiSquare(const AnalysisState& state, const CalibrationTables& cal);

// The filled dialog requests, not shown (the calibration need not be in force).
DialogRequest BuildEnergyCalibrationGraph(const Workspace& ws, const std::string& captionSuffix);
DialogRequest BuildEfficiencyCalibrationGraph(const Workspace& ws);
DialogRequest BuildPeakModelGraph(const Workspace& ws);

// The result of auto-calibration: the matched pairs (channel against energy) with the line found,
// the line's numbers, how many of the sample's lines matched, the accuracy, the listing of the pairs
// and the check box "Put this calibration in force" (unticked).
inline constexpr const char* kPutInForce = "Put this calibration in force";
DialogRequest BuildAutoCalibrationGraph(const Workspace& ws);
// Shows it; OK with the box ticked puts the line in force as the energy calibration. True after OK.
bool GraphAutoCalibration(Workspace& ws, UiPort& port);

// The Graph menu commands; each returns whether the dialog ended with OK. A calibration out of force
// only shows "No energy calibration set up" or "No efficiency calibration set up" (false).
bool GraphEnergyCalibration(Workspace& ws, UiPort& port, const std::string& captionSuffix);
bool GraphEfficiencyCalibration(Workspace& ws, UiPort& port);
bool GraphPeakModel(Workspace& ws, UiPort& port);

}  // namespace orv
