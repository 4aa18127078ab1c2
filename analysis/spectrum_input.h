// Bringing a spectrum file into the workspace: the input dialog, the reading with its checks, and
// the bookkeeping that follows a successful reading.
#pragma once

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// Reads ws.spectrum.fileName with its fileType into a copy of the spectrum whose arrays start clean,
// and keeps it only when the reading succeeded; then sets the deviations (SetErrors, which keeps
// errors the file gave), keeps the interval inside the new bounds, finds the extremes and clears the
// per-spectrum counters and the unsaved mark. Reader messages go to the port. Returns the reader's
// success. Every way a spectrum file is read goes through here. The energy calibration a file brings
// is put in force unless `takeFileCalibration` is false (the fit loop keeps the calibration in force
// at its start).
bool LoadSpectrum(Workspace& ws, UiPort& port, bool takeFileCalibration = true);

// The menu command "Input the Spectrum": file selection, type and options dialog, reading.
// Returns false when cancelled or when the reading failed.
bool InputSpectrumCommand(Workspace& ws, UiPort& port);

// The reading and checks that follow the dialog (also used by headless tools that take the file and
// its options from elsewhere): loads, then accepts the spectrum only when it holds counts.
bool FinishSpectrumInput(Workspace& ws, UiPort& port);

// A new spectrum replaces the results of the old one: when they are unsaved, asks "Previous fit
// results not saved" (OK goes on, Cancel: false).
bool ConfirmDiscardResults(Workspace& ws, UiPort& port);

// The interval asked for before a reading: the whole current spectrum, or the bounds last given by the
// command file. The reading then keeps them inside the new spectrum.
void SetInputBounds(Workspace& ws, bool restoreIniBounds);

// The line-indicators question for type-4 files.
bool AskLineIndicators(Workspace& ws, UiPort& port);

}  // namespace orv
