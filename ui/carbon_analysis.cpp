#include "ui/carbon_analysis.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/carbon_line.h"
#include "analysis/spectrum_input.h"
#include "core/dialog.h"
#include "core/numtext.h"
#include "graphics/memory_canvas.h"
#include "graphics/plot.h"

namespace orv {

namespace {

constexpr int kCarbonChannels = 350;  // the detector's spectra hold this many channels
constexpr int kPlotWidth = 530, kPlotHeight = 370;

std::string Fixed(double value, int decimals) {
  return FormatFixed(value, 1, decimals);
}

// A listed name is taken relative to the folder of the list file, so that a list travels with its
// spectra; an absolute name stands as it is.
std::string ListedPath(const std::string& listFile, const std::string& name) {
  const std::filesystem::path p(name);
  if (p.is_absolute()) return name;
  return (std::filesystem::path(listFile).parent_path() / p).string();
}

// Reads one listed spectrum as the spectrum under analysis. A failed reading leaves the loaded
// spectrum, its bounds and its marking exactly as they were.
bool ReadListedSpectrum(Workspace& ws, UiPort& port, const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    port.ShowMessage("No file " + path);
    return false;
  }
  TSpectrum& s = ws.spectrum;
  const SpectrumChoice before(s);
  s.fileName = path;
  s.fileType = 4;
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = kCarbonChannels;
  if (!LoadSpectrum(ws, port)) {
    before.RestoreTo(s);
    port.ShowMessage("Spectrum " + path + " is wrong; it is skipped");
    return false;
  }
  // The marking belonged to the spectrum just replaced.
  ws.marking.peakCount = 0;
  ws.marking.intervalCount = 0;
  return true;
}

std::vector<std::string> ResultLines(const TSpectrum& s, const CarbonLineResult& r, double ec1, double ec2,
                                     const std::string& name) {
  return {
      "Max = " + Fixed(RoundHalfEven(s.maxValue), 0) + "  Min = " + Fixed(RoundHalfEven(s.minValue), 0),
      "   a1=" + Fixed(s.x[s.a1], 2) + "(" + std::to_string(s.a1) + ")" + "  a2=" + Fixed(s.x[s.a2], 2) +
          "(" + std::to_string(s.a2) + ")",
      "region   ec1=" + FormatNumberCompact(10, ec1) + "   ec2=" + FormatNumberCompact(10, ec2) + " Kev",
      "  Spectrum = " + name,
      "(i1-i2)=" + std::to_string(r.first) + " - " + std::to_string(r.last) + "  S= " + Fixed(r.S, 0),
      "    Backgr=" + Fixed(r.background, 1),
      "   Crit=" + Fixed(r.criterion, 2),
  };
}

DialogImage CarbonPicture(const Workspace& ws, UiPort& port) {
  // The graph is always drawn as a line; the user's own pixel mode is kept for the other graphs.
  AnalysisState look = ws.state;
  look.pointStyle = 2;
  const std::vector<double> values = CarbonLineCurves(ws.spectrum);
  MemoryCanvas canvas(kPlotWidth, kPlotHeight);
  PlotCurves(canvas, look, port, values, 2, static_cast<int>(values.size() / 2), kPlotWidth);
  return DialogImage{5, 0, kPlotWidth, kPlotHeight, canvas.pixels()};
}

}  // namespace

void CarbonAnalysisCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;

  DialogRequest ask = PrepareDialog("Carbon analysis", 0, 420, 420);
  // Offered but without effect: the measurement takes its flat background from the region edges.
  ShowCheckList(ask, 20, 20, 260, 25, {"Subtract the background"});
  ShowParameterGrid(
      ask, 20, 70, 2, 10, 1, {"Left bound of carbon line(KeV)", "RightLeft bound of carbon line(KeV)"},
      {std::array<double, 10>{kCarbonRegionLow}, std::array<double, 10>{kCarbonRegionHigh}}, {120, 100});
  if (!port.ShowDialog(ask)) return;
  int accepted = 1;
  const double ec1 = ReadGridValue(ask, 0, 0, accepted);
  const double ec2 = ReadGridValue(ask, 1, 0, accepted);
  if (accepted == 0) return;

  FileOpenRequest f;
  f.title = "  Select the file";
  f.folder = st.lastDir;
  f.filter = "All|*.*;|D(*.dat)|*.dat;|SPC(*.spc)|*.spc;|Txt(*.txt)|*.txt";
  const auto chosen = port.ChooseFileToOpen(f);
  if (!chosen) return;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*chosen, ec)) {
    port.ShowMessage("No file " + *chosen);
    return;
  }
  st.lastDir = std::filesystem::path(*chosen).parent_path().string();

  // The spectra of this analysis are X, Y, error lines whose first item is a line number.
  st.input.lineIndicators = {2, 3, 4};

  std::ifstream in(*chosen);
  if (!in) {
    port.ShowMessage("Failure, file= " + *chosen);
    return;
  }
  const std::vector<std::string> names = ReadCarbonNameList(in);
  port.ShowMessage(std::to_string(names.size()) + " spectrum names read");

  const int total = static_cast<int>(names.size());
  for (int done = 0; done < total; ++done) {
    const std::string& name = names[done];
    port.ShowProgress("Carbon analysis", done, total);
    if (!ReadListedSpectrum(ws, port, ListedPath(*chosen, name))) continue;
    const CarbonLineResult r = MeasureCarbonLine(ws.spectrum, ec1, ec2);
    DialogRequest show = PrepareDialog("Carbon analysis", 0, 800, 430);
    ShowListBox(show, 545, 10, 245, 350, ResultLines(ws.spectrum, r, ec1, ec2, name));
    show.image = CarbonPicture(ws, port);
    if (!port.ShowDialog(show)) break;
  }
  port.ShowProgress("Carbon analysis", total, total);
}

}  // namespace orv
