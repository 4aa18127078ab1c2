// orvant-batch: the headless program. Verbs:
//   read FILE --type N [options]   read a spectrum and print its summary
//   run SCRIPT [--log F]            run a script of menu commands and answers
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "analysis/spectrum_input.h"
#include "analysis/workspace.h"
#include "core/numtext.h"
#include "spectrum/readers.h"
#include "ui/console_port.h"
#include "ui/script/script_port.h"

namespace {

using namespace orv;

void PrintSummary(const Workspace& ws, std::ostream& out) {
  const TSpectrum& s = ws.spectrum;
  double sum = 0.0;
  int maxChannel = s.a1;
  for (int i = s.a1; i <= s.a2; ++i) {
    sum += s.sp[i];
    if (s.sp[i] > s.sp[maxChannel]) maxChannel = i;
  }
  out << "File           : " << s.fileName << '\n'
      << "Type           : " << s.fileType << " (" << kFileTypeCaptions[s.fileType - 1] << ")\n"
      << "Channels       : " << s.a1 << " .. " << s.a2 << "  (" << (s.a2 - s.a1 + 1) << " channels)\n"
      << "Interval       : " << s.b1 << " .. " << s.b2 << '\n'
      << "Sum of counts  : " << FormatFixed(sum, 0, 0) << '\n'
      << "Maximum        : " << FormatNumberCompact(12, s.maxValue) << "  at channel " << maxChannel << '\n'
      << "Minimum        : " << FormatNumberCompact(12, s.minValue) << '\n';
  if (s.fileType == 4)
    out << "Abscissa       : " << FormatNumberCompact(12, s.xFirst) << " .. "
        << FormatNumberCompact(12, s.xLast) << "  step " << FormatNumberCompact(12, s.xStep) << '\n';
}

bool OpenOutput(Workspace& ws, const std::string& path) {
  if (path.empty()) return true;
  ws.state.outputFileName = path;
  ConsolePort port(std::cerr);
  return CreateOutputFile(ws, port);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ORVANT headless gamma and X-ray spectrum analysis"};
  app.require_subcommand(1);

  std::string file, output, script, logFile;
  int type = 1, firstChannel = 1;
  bool skipHeader = false, reverseBytes = false, fromX = false, keepBounds = false;
  std::string columns = "1 2 3";

  auto* read = app.add_subcommand("read", "Read a spectrum file and print its summary");
  read->add_option("FILE", file, "Spectrum file")->required();
  read->add_option("--type", type,
                   "1 binary 16-bit, 2 binary 32-bit, 3 ASCII free field, 4 ASCII X,Y,[error]")
      ->check(CLI::Range(1, 4));
  read->add_flag("--skip-header", skipHeader, "Binary types: drop the first 1024 bytes");
  read->add_flag("--reverse-bytes", reverseBytes, "Type 2: exchange the 16-bit halves of each value");
  read->add_flag("--first-channel-from-x", fromX, "Type 4: the X of the first line is the first channel");
  read->add_option("--columns", columns, "Type 4: positions of X, Y and error in a line, e.g. \"1 3 2\"");
  read->add_option("--first-channel", firstChannel, "Types 3 and 4: channel of the first value")
      ->check(CLI::Range(1, kSpectrumCapacity));
  read->add_flag("--whole-spectrum", keepBounds,
                 "Analyse from the first to the last channel instead of the inner channels");
  read->add_option("--output", output, "Output file for the run's notes");

  auto* run = app.add_subcommand("run", "Run a script of menu commands and dialog answers");
  run->add_option("SCRIPT", script, "Script file")->required()->check(CLI::ExistingFile);
  run->add_option("--log", logFile, "Log file (default: standard output)");
  run->add_option("--output", output, "Output file for the run's results (default: a.res)");

  CLI11_PARSE(app, argc, argv);

  Workspace ws(std::filesystem::current_path().string());
  ResetAnalysisState(ws);

  if (*read) {
    if (!OpenOutput(ws, output)) return 1;
    ConsolePort port(std::cerr);
    ws.spectrum.fileName = file;
    ws.spectrum.fileType = type;
    ws.spectrum.a1 = firstChannel;
    ws.state.input.skipHeader = skipHeader;
    ws.state.input.reverseBytes = reverseBytes;
    ws.state.input.startAtOne = !fromX;
    std::vector<double> numbers;
    if (ParseNumberList(columns, numbers) != 3) {
      std::cerr << "Error, --columns needs three positions\n";
      return 1;
    }
    for (int i = 0; i < 3; ++i) ws.state.input.lineIndicators[i] = RoundHalfEven(numbers[i]);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
      std::cerr << "No file " << file << '\n';
      return 1;
    }
    SetInputBounds(ws, true);
    if (!FinishSpectrumInput(ws, port)) {
      std::cerr << ws.state.reportLines[0] << '\n';
      return 1;
    }
    if (keepBounds) SetInterval(ws.state, ws.spectrum, ws.spectrum.a1, ws.spectrum.a2);
    PrintSummary(ws, std::cout);
    return 0;
  }

  std::ifstream in(script);
  std::stringstream text;
  text << in.rdbuf();
  std::ofstream logStream;
  if (!logFile.empty()) {
    logStream.open(logFile);
    if (!logStream) {
      std::cerr << "Cannot create the log file " << logFile << '\n';
      return 1;
    }
  }
  std::ostream& log = logFile.empty() ? std::cout : logStream;
  if (!OpenOutput(ws, output.empty() ? ws.state.outputFileName : output)) return 1;
  ScriptPort port(text.str(), log);
  int rc = RunScript(ws, port);
  if (rc != 0) std::cerr << port.error() << '\n';
  return rc;
}
