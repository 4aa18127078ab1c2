#include "ui/program.h"

#include <cstdio>
#include <filesystem>

#include "analysis/settings_file.h"
#include "core/dialog.h"
#include "ui/commands.h"

namespace orv {

namespace {

// Date and time of the start and finish stamps: a fixed, sortable form on every platform.
std::string Stamp(const std::tm& t) {
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::tm Now(const Program& p) {
  return p.now ? p.now() : LocalNow();
}

std::string SettingsPath(const Workspace& ws) {
  return (std::filesystem::path(ws.state.startDir) / "orvant.fn").string();
}

}  // namespace

std::tm LocalNow() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::string TimedOutputFileName(const std::tm& t) {
  char text[48];
  std::snprintf(text, sizeof text, "a%02d%02d%02d.res", t.tm_mday % 100, t.tm_hour % 100, t.tm_min % 100);
  return text;
}

bool ProgramEntry(Program& p) {
  AnalysisState& st = p.ws.state;
  st.screenScale = 1.0;
  st.fontSize = 10;

  DialogRequest title = PrepareDialog(kBanner, 0, 720, 480);
  ShowListBox(title, 10, 10, 330, 200,
              {" Gamma Spectrum Decomposition ", " X-Ray Spectrum Decomposition ",
               " Band Spectrum Decomposition ", " Spectrum Calibration ", " Automatic Detector Calibration ",
               " Spectrum Simulation ", " Spectrum Smoothing ", " Background Building "});
  ShowRadioGroup(title, 1, 1, 360, 80, 340, 10,
                 {" Output file = a.res ", " Output file = a day hour min .res "}, 1,
                 "--------Select the output file name--------");
  if (!p.port.ShowDialog(title)) return false;
  st.outputFileName = title.radio1->chosen == 2 ? TimedOutputFileName(Now(p)) : "a.res";
  if (!p.outputFileOverride.empty()) st.outputFileName = p.outputFileOverride;

  p.port.LayoutWindows(1.0, st.fontSize);
  st.screenScale = 1.25;
  p.disabledCommands = DisabledAtStartUp();
  ClearForm(p);

  st.lastDir = st.startDir;
  st.russianHelp = false;
  std::error_code ec;
  if (std::filesystem::is_regular_file(SettingsPath(p.ws), ec)) {
    ReadSettingsFile(st, SettingsPath(p.ws));
    if (st.screenScale != 1.0) p.port.LayoutWindows(st.screenScale, st.fontSize);
  }

  // Without an output file the objects are still created, so every command stays safe; results
  // simply cannot be written.
  p.outputReady = CreateOutputFile(p.ws, p.port);
  if (p.outputReady) WriteOutputLine(p.ws, std::string(20, ' ') + "ORVANT START  " + Stamp(Now(p)));
  ResetAnalysisState(p.ws);
  return true;
}

bool ExitCommand(Program& p, bool ask) {
  if (ask && p.ws.state.resultsUnsaved && !p.port.AskYesNo("Results not saved. Quit?")) return false;
  if (p.ws.output.isOpen()) {
    WriteOutputLine(p.ws, std::string(20, ' ') + "ORVANT FINISH  " + Stamp(Now(p)));
    p.ws.output.Close();
  }
  WriteSettingsFile(p.ws.state, SettingsPath(p.ws));
  p.ended = true;
  return true;
}

}  // namespace orv
