// The sections the saving commands append to the run's output file: the summary table of the fitted
// peaks, the two calibration tables and the marking information. The calibration sections keep every
// text line behind "*" so that the calibration entry can read such a file back.
#pragma once

#include "core/port.h"

namespace orv {

struct Workspace;

// Appends the summary table of result rows 1..resultCount; nothing when resultCount < 1. The
// normalising value is the coefficient (normaliseByCoefficient) or the channel whose nearest row is
// the 100 % reference; the command passes normCoefficient. Clears resultsUnsaved and returns true only
// when every line reached an open output file.
bool WriteSummaryTable(Workspace& ws, double normalisingValue);

// The calibration tables as channel/energy/error and energy/coefficient/error lines. An empty table
// writes nothing and shows "No calibration data"; a write failure is shown. True when written.
bool WriteEnergyCalibration(Workspace& ws, UiPort& port);
bool WriteEfficiencyCalibration(Workspace& ws, UiPort& port);

// The marking settings of the analysis; the status then reads "Marking Info saved".
bool WriteMarkingInfo(Workspace& ws, UiPort& port);

// The menu command "Save the Fit Results": asks for the LIM option, writes the summary table, empties
// the result table and takes the spectrum off the name list. With neither result rows nor marked peaks
// (both are cleared by every spectrum input, and a fit needs marked peaks) nothing has been fitted:
// the status shows "Error! No peaks fitted". Rows present are always offered for saving. A failed
// write keeps every row and the unsaved mark.
void SaveFitResultsCommand(Workspace& ws, UiPort& port);

}  // namespace orv
