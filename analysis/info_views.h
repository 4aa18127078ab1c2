// The read-only views of the Info menu: the result table (with Save to the output file), the spectrum
// name list of the fit loop and the marked intervals with their peaks, shown as lines of the list box
// of the generic dialog.
#pragma once

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// Rows shown by the result view; a larger table shows its first rows.
inline constexpr int kResultViewRows = 650;

// "Show Result Table": two lines per row (values, then errors with the background under "Bckg").
// The report text is emptied; Save writes the caption and every line to the output file and, only
// when all were written, clears resultsUnsaved and reports "Results saved". An empty table only shows
// " No fitted peaks".
void ShowResultTableView(Workspace& ws, UiPort& port);

// "Show Sp.File Names": one line per name, or "No spectrum names in the list".
void ShowNameListView(const Workspace& ws, UiPort& port);

// "Show Marked Peaks": per interval its bounds and peak count, then one line per peak position with
// its energy when the energy calibration is in force; "No marked intervals" without a marking.
void ShowMarkingView(const Workspace& ws, UiPort& port);

}  // namespace orv
