// Batch fitting of every marked interval without questions, and the result table it fills.
#pragma once

#include "core/port.h"

namespace orv {

struct Workspace;

// Fits every interval of the marking. Mode 0 makes the result table the marking's: exactly its peaks,
// peak k in row k (rows of an earlier marking are cleared; a peak of a skipped interval keeps its
// marked position with no area), and the interval fit's rows follow from row 1; mode 1 writes each peak as a
// value line and an error line to `table` instead. Intervals without peaks or longer than maxInterval are
// reported and skipped. False only when a fit had to abandon the command (every weight zero).
bool SpectrumFit(Workspace& ws, UiPort& port, int mode, LineSink* table);

// The two loop-table lines of one result row: value line and error line, calibrated.
void WritePeakLines(const Workspace& ws, LineSink& table, const struct ResultRow& row);

// The menu commands "Spectrum  Fit" and "Fit for Graphs".
bool SpectrumFitCommand(Workspace& ws, UiPort& port);
bool FitForGraphsCommand(Workspace& ws, UiPort& port);

// An empty row inserted after row `after` (rows above move up), or row `row` removed (rows above move
// down); resultCount follows.
void InsertResultRow(Workspace& ws, int after);
void DeleteResultRow(Workspace& ws, int row);

}  // namespace orv
