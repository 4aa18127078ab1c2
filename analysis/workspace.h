// The one set of central objects of a run. Operations take the parts they need by reference, or the
// whole workspace when they touch several; tests make as many workspaces as they like.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "analysis/auto_calibration.h"
#include "analysis/calibration.h"
#include "analysis/file_calibration.h"
#include "analysis/interval_fit.h"
#include "analysis/marking.h"
#include "analysis/marking_modes.h"
#include "analysis/peak_search.h"
#include "analysis/results.h"
#include "core/engine.h"
#include "core/numeric.h"
#include "core/peak_model.h"
#include "core/port.h"
#include "core/state.h"
#include "spectrum/name_list.h"
#include "spectrum/output_file.h"
#include "spectrum/spectrum.h"

namespace orv {

// A member added here must also be copied (or deliberately left out) by CopyWorkspaceForWorker.
struct Workspace {
  explicit Workspace(std::string startDirectory = ".");

  AnalysisState state;
  TSpectrum spectrum;
  OutputFile output;
  bool definitionRead = false;  // an instrument definition file was found at start-up

  // Peak shape models; slot 1 is the current one, the others receive measured models.
  std::array<TPeakModel, 7> models;
  int currentModel = 1;
  TPeakModel& model() { return models[1]; }
  const TPeakModel& model() const { return models[1]; }

  TParameter engine;  // the one least-squares engine, reused by every fit
  Marking marking;
  MarkingInput markingInput;
  ResultTable results;
  CalibrationTables calibration;
  FileCalibrationMark fileCalibration;  // the energy calibration a spectrum file put in force
  AutoCalibration autoCalibration;      // the best pairing of the last auto-calibration
  SpectrumNameList names;               // the spectrum series; state.nameCount entries in use
  // Large work arrays, allocated on first use and reused.
  std::unique_ptr<PeakSearchWork> searchWork;
  std::unique_ptr<SplineWork> splineWork;
  IntervalFitState fit;
  RandomGenerator random;
};

// The start-up values of the analysis state and the spectrum's settings, in their documented order;
// reads the instrument definition file "orvant.def" of the start directory when it exists.
void ResetAnalysisState(Workspace& ws);

// Opens the run's output file `state.outputFileName` in the start directory (a name with a folder
// of its own is taken as it stands) for appending, creating it when missing. On failure shows "Output file
// failure: possibly shared or read only" and returns false; the run goes on without an output file.
bool CreateOutputFile(Workspace& ws, UiPort& port);

// A new spectrum starts without results, marking count or graph marks, at the first interval; every
// setting stays.
void ClearSpectrumCounters(AnalysisState& state);

// Makes `to` an independent copy of `from` for a worker that analyses other spectra with the same
// settings: the analysis state, the spectrum, the peak models, the engine with its settings, the
// marking, the result table, the calibrations, the name list and the random generator. The open output
// file is not shared (to's own stays as it is), the engine's port is cleared and its sink points at
// to's output, and to's large work arrays are its own. Reuses to's allocations where sizes agree.
void CopyWorkspaceForWorker(const Workspace& from, Workspace& to);

// Appends a line to the output file when one is open (headless tools may run without one); false
// when the write failed (ws.output.lastError() tells why).
bool WriteOutputLine(Workspace& ws, const std::string& line);

}  // namespace orv
