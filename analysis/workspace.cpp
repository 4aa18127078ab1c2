#include "analysis/workspace.h"

#include <filesystem>

namespace orv {

Workspace::Workspace(std::string startDirectory) {
  state.startDir = std::move(startDirectory);
  state.lastDir = state.startDir;
  engine.Create(kEngineParameters, kEnginePoints, kEngineParameters);
  engine.ApplyStartupSettings();
  engine.sink = &output;
}

void ResetAnalysisState(Workspace& ws) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  s = TSpectrum(s.fileName);
  s.fileType = 1;
  double definitionWidth = 0.0;
  ws.definitionRead = false;
  std::filesystem::path def = std::filesystem::path(st.startDir) / "orvant.def";
  std::error_code ec;
  if (std::filesystem::is_regular_file(def, ec)) {
    // A zero in the file keeps a field, so a zero here afterwards means the file gave no width.
    s.width1 = 0.0;
    ws.definitionRead = s.ReadDefinition(def.string());
    definitionWidth = s.width1;
  }
  ws.models[1].Create();
  ws.currentModel = 1;
  ws.engine.ApplyStartupSettings();
  st.maxInterval = 256;
  st.normCoefficient = 1.0;
  s.a1 = 1;
  s.a2 = 4096;
  s.widthVariable = 0.0;
  s.deltaWidthVariable = 0.0;
  // The instrument's own starting width ("width0" of the definition file) wins over the built-in 4.0.
  s.width1 = definitionWidth != 0.0 ? definitionWidth : 4.0;
  s.width2 = 6.0;
  s.deltaWidth = 3.5;
  SetWidthLaw(st, s);
  s.fileType = 1;
  s.b1 = 2;
  s.b2 = 4095;
  s.dback = -3;
  s.fileName.clear();
  st.selectedFirst = 1;
  st.selectedLast = 4096;
  st.selectedLength = 4096;
  st.firstChannel = 1.0;
  st.lastChannel = 4096.0;
  st.amplitudeBoundFactor = 1.0;
  st.positionBoundFactor = 2.0;
  st.positionDeviation = 5.0;
  st.currentInterval = 1;
  st.compressionFactor = 2;
  st.iterationLimit = 7;
  st.fitStep = 0.99;
  st.fitDamper = 0.01;
  st.energyItemCount = 0;
  st.efficiencyItemCount = 0;
  st.sensitivity = 1.0;
  st.resolution = 1.0;
  st.scaleMode = 0;
  st.trimmingCoefficient = 0.5;
  st.resultCount = 0;
  st.resultsUnsaved = false;
  st.energyCalibrated = false;
  st.efficiencyCalibrated = false;
  st.markedCount = 0;
  st.nameCount = 0;
  st.nameListFile = "spfn.tab";
  st.loopTableFile = "orvant.tab";
}

void ClearSpectrumCounters(AnalysisState& state) {
  state.resultCount = 0;
  state.markedCount = 0;
  state.graphMarkCount = 0;
  state.currentInterval = 1;
  state.usedBackgroundDegree = 0;
}

bool CreateOutputFile(Workspace& ws, UiPort& port) {
  std::filesystem::path name(ws.state.outputFileName);
  std::filesystem::path path =
      name.has_parent_path() ? name : std::filesystem::path(ws.state.startDir) / name;
  // A second run in the same folder adds to the file: the results of the first are never lost.
  if (ws.output.Append(path.string())) return true;
  port.ShowMessage("Output file failure: possibly shared or read only");
  return false;
}

void CopyWorkspaceForWorker(const Workspace& from, Workspace& to) {
  if (&from == &to) return;
  to.state = from.state;
  to.spectrum = from.spectrum;
  to.definitionRead = from.definitionRead;
  to.models = from.models;
  to.currentModel = from.currentModel;
  to.engine = from.engine;
  // The copied pointers lead to the other workspace's port and file, which another thread may use.
  to.engine.port = nullptr;
  to.engine.sink = &to.output;
  to.marking = from.marking;
  to.markingInput = from.markingInput;
  to.results = from.results;
  to.calibration = from.calibration;
  to.fileCalibration = from.fileCalibration;
  to.autoCalibration = from.autoCalibration;
  to.names = from.names;
  to.fit = from.fit;
  to.random = from.random;
}

bool WriteOutputLine(Workspace& ws, const std::string& line) {
  return !ws.output.isOpen() || ws.output.WriteLine(line);
}

}  // namespace orv
