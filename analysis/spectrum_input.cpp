#include "analysis/spectrum_input.h"

#include <filesystem>
#include <utility>

#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"
#include "spectrum/formats/formats.h"
#include "spectrum/readers.h"

namespace orv {

namespace {

// Reads the file named by the spectrum settings into a clean copy; the workspace changes only when
// `accept` approves the copy, so a failed or refused reading leaves the spectrum exactly as it was,
// and a shorter spectrum keeps nothing of the longer one before it. Every way in (dialog, command
// file, loop, series) gets the same deviations.
template <typename Accept>
bool ReadIntoCopy(Workspace& ws, UiPort& port, Accept accept) {
  TSpectrum copy = ws.spectrum;
  copy.ClearData();
  ReadOutcome r = ReadSpectrumFile(copy, ws.state.input);
  for (const auto& m : r.messages) port.ShowMessage(m);
  if (!r.ok) return false;
  copy.FindExtremes();
  if (!accept(copy)) return false;
  copy.SetErrors(ws.state.covar);
  ws.spectrum = std::move(copy);
  SetInterval(ws.state, ws.spectrum, ws.spectrum.b1, ws.spectrum.b2);
  ClearSpectrumCounters(ws.state);
  // The results of the previous spectrum are gone with it; nothing is left to save.
  ws.state.resultsUnsaved = false;
  return true;
}

// The file's own energy calibration replaces one that an earlier file put in force.
void UseFileCalibration(Workspace& ws) {
  TakeFileCalibration(ws.state, ws.calibration, ws.fileCalibration, ws.spectrum,
                      ws.output.isOpen() ? &ws.output : nullptr);
}

}  // namespace

bool LoadSpectrum(Workspace& ws, UiPort& port, bool takeFileCalibration) {
  const bool ok = ReadIntoCopy(ws, port, [](const TSpectrum&) { return true; });
  if (ok && takeFileCalibration) UseFileCalibration(ws);
  return ok;
}

bool AskLineIndicators(Workspace& ws, UiPort& port) {
  DialogRequest r = PrepareDialog(" Enter indicators to ASCII spectrum line items ", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kAsciiIndicators, ws.state.russianHelp);
  const auto& ind = ws.state.input.lineIndicators;
  ShowTextArea(r, 5, 590,
               {std::to_string(ind[0]) + " " + std::to_string(ind[1]) + " " + std::to_string(ind[2])});
  if (!port.ShowDialog(r)) return false;
  std::vector<double> numbers;
  std::string first = r.textArea && !r.textArea->lines.empty() ? r.textArea->lines[0] : "";
  if (ParseNumberList(first, numbers) < 3) {
    port.ShowMessage("Error, three indicators are needed: X, Y and error positions");
    return false;
  }
  std::array<int, 3> parsed{};
  for (int i = 0; i < 3; ++i) {
    parsed[i] = RoundHalfEven(numbers[i]);
    if (parsed[i] < 1 || parsed[i] > 100) {
      port.ShowMessage("Error, indicators are item positions from 1 to 100");
      return false;
    }
  }
  ws.state.input.lineIndicators = parsed;
  return true;
}

void SetInputBounds(Workspace& ws, bool restoreIniBounds) {
  TSpectrum& s = ws.spectrum;
  s.b1 = restoreIniBounds ? ws.state.iniB1 : s.a1;
  s.b2 = restoreIniBounds ? ws.state.iniB2 : s.a2;
}

bool FinishSpectrumInput(Workspace& ws, UiPort& port) {
  // A spectrum without a single non-zero count is no reading at all.
  bool ok = ReadIntoCopy(ws, port, [](const TSpectrum& copy) { return copy.maxValue != 0.0; });
  if (!ok) {
    ws.state.reportLines[0] = "++++ Error, wrong reading";
    return false;
  }
  TSpectrum& s = ws.spectrum;
  if (s.maxValue < 1.0) {
    port.ShowMessage("Poor data scale, max < 1");
    s.maxValue = 1.0;
  }
  ws.state.reportLines[0] = " Spectrum read in. ";
  if (!WriteOutputLine(ws, s.fileName + ws.state.reportLines[0])) port.ShowMessage(ws.output.lastError());
  if (const std::string times = MeasurementTimesLine(s.measurement); !times.empty())
    WriteOutputLine(ws, times);
  UseFileCalibration(ws);
  return true;
}

bool ConfirmDiscardResults(Workspace& ws, UiPort& port) {
  return !ws.state.resultsUnsaved || port.AskOkCancel("Previous fit results not saved");
}

bool InputSpectrumCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  if (!ConfirmDiscardResults(ws, port)) return false;
  FileOpenRequest f;
  f.title = "  Select the file";
  f.initialName = s.fileName;
  f.folder = st.lastDir;
  f.filter =
      "All|*.*;|D(*.dat)|*.dat;|SPC(*.spc)|*.spc;|Txt(*.txt)|*.txt;|SPE(*.spe)|*.spe;|CHN(*.chn)|*.chn;|"
      "N42(*.n42;*.xml)|*.n42;*.xml;|MCA(*.mca)|*.mca;|CSV(*.csv;*.tsv)|*.csv;*.tsv";
  auto chosen = port.ChooseFileToOpen(f);
  if (!chosen) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*chosen, ec)) {
    port.ShowMessage("No file " + *chosen);
    return false;
  }
  st.lastDir = std::filesystem::path(*chosen).parent_path().string();

  DialogRequest r = PrepareDialog("Input the Spectrum", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kSpectrumFileTypes, st.russianHelp);
  ShowLabel(r, 1, 10, 10, "Select the file type:");
  // A file whose content shows its format presets that type; the word and number types are the user's.
  const int detected = DetectSpectrumFormat(*chosen).type;
  const int preset = IsFormatType(detected) ? detected : std::clamp(s.fileType, 1, kLastFileType);
  ShowRadioGroup(r, 1, 1, 10, 30 * kLastFileType, 280, 30, kFileTypeCaptions, preset);
  ShowLabel(r, 2, 310, 10, "Select the spectrum type:");
  ShowCheckList(
      r, 310, 30, 260, 100,
      {" Skip the header ", " Reverse the bytes ", " Restore ini-bounds ", " Starting channel = 1"});
  r.checkList->checked = {st.input.skipHeader, st.input.reverseBytes, true, st.input.startAtOne};
  ShowCheckBox(r, " Specify ASCII line structure ", false);
  if (!port.ShowDialog(r)) return false;

  // The dialog's choices describe the file to come; a reading that fails puts the old ones back.
  const std::string oldName = s.fileName;
  const int oldType = s.fileType, oldB1 = s.b1, oldB2 = s.b2;
  auto restore = [&] {
    s.fileName = oldName;
    s.fileType = oldType;
    s.b1 = oldB1;
    s.b2 = oldB2;
    return false;
  };
  s.fileName = *chosen;
  s.fileType = std::clamp(r.radio1->chosen, 1, kLastFileType);
  auto checked = r.checkList->checked;
  checked.resize(4, false);
  st.input.skipHeader = checked[0];
  st.input.reverseBytes = checked[1];
  st.input.startAtOne = checked[3];
  SetInputBounds(ws, checked[2]);
  if (r.checkBox && r.checkBox->checked && !AskLineIndicators(ws, port)) return restore();
  return FinishSpectrumInput(ws, port) || restore();
}

}  // namespace orv
