// The one set of central objects of a run. Operations take the parts they need by reference, or the
// whole workspace when they touch several; tests make as many workspaces as they like.
#pragma once

#include <string>

#include "core/port.h"
#include "core/state.h"
#include "spectrum/output_file.h"
#include "spectrum/spectrum.h"

namespace orv {

struct Workspace {
  explicit Workspace(std::string startDirectory = ".");

  AnalysisState state;
  TSpectrum spectrum;
  OutputFile output;
  bool definitionRead = false;  // an instrument definition file was found at start-up
};

// The start-up values of the analysis state and the spectrum's settings, in their documented order;
// reads the instrument definition file "orvant.def" of the start directory when it exists.
void ResetAnalysisState(Workspace& ws);

// Creates the run's output file `state.outputFileName` in the start directory (a name with a folder
// of its own is taken as it stands). On failure shows "Output file failure: possibly shared or read
// only" and returns false; the run goes on without an output file.
bool CreateOutputFile(Workspace& ws, UiPort& port);

// Appends a line to the output file when one is open (headless tools may run without one); false
// when the write failed (ws.output.lastError() tells why).
bool WriteOutputLine(Workspace& ws, const std::string& line);

}  // namespace orv
