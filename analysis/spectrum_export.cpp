#include "analysis/spectrum_export.h"

#include <cctype>
#include <filesystem>

#include "analysis/file_calibration.h"
#include "core/dialog.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kFormats = {" IAEA SPE (.spe)", " ANSI N42.42 (.n42)"};

// A name without an extension, or with the other format's, gets the chosen format's.
std::string WithExtension(const std::string& name, bool n42) {
  fs::path p(name);
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext.empty() || ext == ".spe" || ext == ".n42" || ext == ".xml")
    p.replace_extension(n42 ? ".n42" : ".spe");
  return p.string();
}

// The spectrum's own name as SPE, never the file it was read from.
std::string SuggestedName(const std::string& source) {
  if (source.empty()) return "spectrum.spe";
  fs::path p(source);
  p.replace_extension(".spe");
  if (p.string() == source) p.replace_filename(p.stem().string() + "_orvant.spe");
  return p.string();
}

}  // namespace

bool WriteSpectrumCommand(Workspace& ws, UiPort& port) {
  const TSpectrum& s = ws.spectrum;
  DialogRequest r = PrepareDialog("Write the Spectrum", 0, 600, 420);
  ShowLabel(r, 1, 10, 10, "File name:");
  ShowEditField(r, 10, 40, SuggestedName(s.fileName), 560);
  ShowLabel(r, 2, 10, 80, "Select the format:");
  ShowRadioGroup(r, 1, 1, 10, 60, 280, 100, kFormats, 1);
  if (!port.ShowDialog(r)) return false;
  const bool n42 = r.radio1 && r.radio1->chosen == 2;
  std::string name(r.edit ? r.edit->text : "");
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(name.begin());
  if (name.empty()) {
    port.ShowMessage("Empty string");
    return false;
  }
  name = WithExtension(name, n42);
  std::error_code ec;
  if (fs::exists(name, ec) && !port.AskYesNo("File " + name + " already exists. Overwrite?")) return false;
  const std::vector<double> calibration = EnergyPolynomial(ws.state, ws.calibration, ws.fileCalibration);
  std::string error;
  const bool ok = n42 ? WriteN42(s, calibration, name, &error) : WriteIaeaSpe(s, calibration, name, &error);
  if (!ok) {
    port.ShowMessage(error);
    return false;
  }
  ws.state.reportLines = {" Spectrum written to " + name, ""};
  WriteOutputLine(ws, "Spectrum written to " + name + (n42 ? " (ANSI N42.42)" : " (IAEA SPE)") +
                          (calibration.empty() ? "" : " with " + PolynomialText(calibration)));
  return true;
}

}  // namespace orv
