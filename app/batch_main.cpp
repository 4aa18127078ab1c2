// orvant-batch: the headless program. Verbs:
//   read FILE [--type N] [options]      read a spectrum and print its summary (type by content when absent)
//   analyse (FILE [--type N] | --test T | --ini F)  the automatic analysis (width law from the
//                                        spectrum, search, fits refined per interval); save and print
//                                        the peaks of criterion > 3. --plain: search, mark and fit only
//   run SCRIPT [--log F] [--dir D]       run a script of menu commands and answers
//   loop NAMES --marking F [--type N]    fit a series of spectra with one marking into orvant.tab
// Graphs are drawn on an offscreen image, so headless runs make the same pictures as the windows.
#include <CLI/CLI.hpp>
#include <QBuffer>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "analysis/automatic/automatic_analysis.h"
#include "analysis/command_file.h"
#include "analysis/file_calibration.h"
#include "analysis/fit_loop.h"
#include "analysis/marking.h"
#include "analysis/marking_modes.h"
#include "analysis/output_sections.h"
#include "analysis/spectrum_fit.h"
#include "analysis/spectrum_input.h"
#include "analysis/test_spectra.h"
#include "analysis/workspace.h"
#include "core/numtext.h"
#include "graphics/automatic_graph.h"
#include "graphics/graphs.h"
#include "graphics/qt/qt_canvas.h"
#include "spectrum/formats/formats.h"
#include "spectrum/readers.h"
#include "ui/console_port.h"
#include "ui/program.h"
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
      << "Type           : " << s.fileType << " ("
      << (s.fileType >= 1 && s.fileType <= kLastFileType ? kFileTypeCaptions[s.fileType - 1] : "") << ")\n"
      << "Channels       : " << s.a1 << " .. " << s.a2 << "  (" << (s.a2 - s.a1 + 1) << " channels)\n"
      << "Interval       : " << s.b1 << " .. " << s.b2 << '\n'
      << "Sum of counts  : " << FormatFixed(sum, 0, 0) << '\n'
      << "Maximum        : " << FormatNumberCompact(12, s.maxValue) << "  at channel " << maxChannel << '\n'
      << "Minimum        : " << FormatNumberCompact(12, s.minValue) << '\n';
  if (s.fileType == 4)
    out << "Abscissa       : " << FormatNumberCompact(12, s.xFirst) << " .. "
        << FormatNumberCompact(12, s.xLast) << "  step " << FormatNumberCompact(12, s.xStep) << '\n';
  // What the file knows about its measurement.
  const SpectrumMeasurement& m = s.measurement;
  if (m.HasTimes()) out << "Times          : " << MeasurementTimesLine(m) << '\n';
  if (!m.startTime.empty()) out << "Start          : " << m.startTime << '\n';
  if (!m.description.empty()) out << "Description    : " << m.description << '\n';
  if (!m.note.empty()) out << "Taken          : " << m.note << '\n';
  if (!m.energyCoefficients.empty())
    out << "Calibration    : " << PolynomialText(m.energyCoefficients) << '\n';
}

// The type of --type (a number 1..9 or spe, chn, n42, mca, csv), or the one the file's content shows;
// 0 with the reason on standard error when there is none.
int ResolveType(const std::string& typeText, const std::string& file) {
  if (!typeText.empty()) return FileTypeFromName(typeText);
  const FormatGuess guess = DetectSpectrumFormat(file);
  if (guess.type == 0) std::cerr << guess.message << '\n';
  return guess.type;
}

// CLI check of --type.
std::string CheckTypeName(const std::string& text) {
  return FileTypeFromName(text) != 0 ? "" : "--type takes 1..9 or spe, chn, n42, mca, csv";
}

// Accepts every dialog as the program presets it, choosing `radio` in a radio group when given: the
// headless analysis takes the settings of the spectrum and its options.
class PresetPort : public ConsolePort {
 public:
  using ConsolePort::ConsolePort;
  int radio = 0;
  bool ShowDialog(DialogRequest& r) override {
    if (radio > 0 && r.radio1) r.radio1->chosen = radio;
    return r.accepted = true;
  }
  bool AskOkCancel(const std::string&) override { return true; }
};

// The result rows; rows of criterion <= 3 are left out unless `every`, each printed row keeping its
// number. With a width law its width at each peak is the last CSV column. The count left out.
int PrintResults(const Workspace& ws, std::ostream& out, std::ostream* csv, bool every, const WidthLaw* law) {
  const AnalysisState& st = ws.state;
  // Counts per second of live time, when the file gave the live time.
  const double live = ws.spectrum.measurement.liveTime;
  const bool calibrated = st.energyCalibrated || st.efficiencyCalibrated;
  out << "    N   Channel    Error         Area      Error    Width    Error   Crit.     Backgr.";
  if (calibrated) out << "     Energy    Error    Intensity      Error";
  out << '\n';
  if (csv) {
    *csv << "peak,channel,channel_error,area,area_error,width,width_error,criterion,background";
    if (calibrated) *csv << ",energy,energy_error,intensity,intensity_error";
    if (live > 0.0) *csv << ",rate,rate_error";
    if (law) *csv << ",law_width";
    *csv << '\n';
  }
  int leftOut = 0;
  for (int k = 1; k <= st.resultCount; ++k) {
    const ResultRow& r = ws.results[k];
    if (!every && !(r.criterion > 3)) {
      ++leftOut;
      continue;
    }
    // Fields of asterisks (values that do not fit) keep a blank between them.
    std::string row =
        JoinFields({FormatNumber(5, 0, k), FormatNumber(10, 2, r.channel), FormatNumber(9, 3, r.channelError),
                    FormatNumber(13, 0, r.area), FormatNumber(11, 0, r.areaError),
                    FormatNumber(9, 2, r.width), FormatNumber(9, 3, r.widthError),
                    FormatNumber(8, 1, r.criterion), FormatNumber(12, 0, r.background)});
    const CalibratedPeak c =
        ApplyCalibrations(st, ws.calibration, r.channel, r.channelError, r.area, r.areaError);
    if (calibrated)
      row = JoinFields({row, FormatNumber(11, 2, c.energy), FormatNumber(9, 3, c.energyError),
                        FormatNumber(13, 0, c.intensity), FormatNumber(11, 0, c.intensityError)});
    out << row << '\n';
    if (csv) {
      char line[512];
      std::snprintf(line, sizeof line, "%d,%.4f,%.4f,%.2f,%.2f,%.4f,%.4f,%.3f,%.2f", k, r.channel,
                    r.channelError, r.area, r.areaError, r.width, r.widthError, r.criterion, r.background);
      *csv << line;
      if (calibrated) {
        std::snprintf(line, sizeof line, ",%.4f,%.4f,%.4g,%.4g", c.energy, c.energyError, c.intensity,
                      c.intensityError);
        *csv << line;
      }
      if (live > 0.0) {
        std::snprintf(line, sizeof line, ",%.6g,%.6g", r.area / live, r.areaError / live);
        *csv << line;
      }
      if (law) {
        std::snprintf(line, sizeof line, ",%.4f", law->At(r.channel));
        *csv << line;
      }
      *csv << '\n';
    }
  }
  return leftOut;
}

// "W1,W2[,DW]": the widths at the start and end of the analysed interval and their accuracy (10 %
// of the larger width when not given). False when the text is not that.
bool ParseWidths(const std::string& text, double& w1, double& w2, double& dw) {
  std::string list = text;
  std::replace(list.begin(), list.end(), ',', ' ');
  std::vector<double> v;
  const int count = ParseNumberList(list, v);
  if (count < 2 || count > 3 || !(v[0] > 0) || !(v[1] > 0) || (count == 3 && !(v[2] >= 0))) return false;
  w1 = v[0];
  w2 = v[1];
  dw = count == 3 ? v[2] : 0.1 * std::max(w1, w2);
  return true;
}

// The fit loop's port: the final report is the program's result and goes to standard output; status
// lines (progress and files that were skipped) go with the messages to standard error.
class LoopPort : public PresetPort {
 public:
  using PresetPort::PresetPort;
  void ShowStatus(const std::string& line1, const std::string& line2) override {
    if (!line1.empty() || !line2.empty()) std::cerr << line1 << (line2.empty() ? "" : "  ") << line2 << '\n';
  }
  void ShowText(const std::vector<std::string>& lines) override {
    for (const auto& l : lines) std::cout << l << '\n';
  }
};

// A script or list named on the command line: an ordinary file of bounded size, read whole. A device,
// a pipe or a file beyond the bound is refused (reading /dev/zero would never end, a pipe may block).
constexpr std::uintmax_t kMaxListBytes = 64u << 20;
bool ReadListFile(const std::string& path, std::string& text) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    std::cerr << "Error, " << path << " is not an ordinary file\n";
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxListBytes) {
    std::cerr << "Error, " << path << " is larger than " << (kMaxListBytes >> 20) << " MiB\n";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  if (!in) {
    std::cerr << "Cannot read " << path << '\n';
    return false;
  }
  text = all.str();
  return true;
}

// The spectrum names of a names file; a relative name is taken from `base`.
bool ReadLoopNames(const std::string& namesFile, const std::filesystem::path& base, SpectrumNameList& list,
                   int& count) {
  std::string text, error;
  if (!ReadListFile(namesFile, text)) return false;
  std::istringstream in(text);
  if (!ReadLoopNameList(in, base.string(), list, count, error)) {
    std::cerr << error << " in " << namesFile << '\n';
    return false;
  }
  return true;
}

// Encodes the picture in memory and writes it, so that a full disk or a broken device is seen: false
// with the reason on standard error when any byte did not reach the file.
bool WriteImage(const QImage& image, const char* format, const std::string& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  bool ok = !image.isNull() && image.save(&buffer, format);
  std::FILE* f = ok ? std::fopen(path.c_str(), "wb") : nullptr;
  ok = f && std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), f) ==
                static_cast<std::size_t>(bytes.size());
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) std::cerr << "Cannot write " << path << '\n';
  return ok;
}

// Any line the output file lost is a failed run.
bool OutputWritten(const Workspace& ws) {
  if (!ws.output.writeFailed()) return true;
  std::cerr << "Error, the output file " << ws.output.path()
            << " could not be written: " << ws.output.lastError() << '\n';
  return false;
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
  std::string typeText;
  int type = 1, firstChannel = 1;
  bool skipHeader = false, reverseBytes = false, fromX = false, keepBounds = false;
  std::string columns = "1 2 3";

  auto* read = app.add_subcommand("read", "Read a spectrum file and print its summary");
  read->add_option("FILE", file, "Spectrum file")->required();
  const char* typeHelp =
      "1 binary 16-bit, 2 binary 32-bit, 3 ASCII free field, 4 ASCII X,Y,[error], 5|spe IAEA SPE, "
      "6|chn ORTEC CHN, 7|n42 ANSI N42.42, 8|mca Amptek MCA, 9|csv CSV with a header row (default: told "
      "by the content; types 1 and 2 are never guessed)";
  read->add_option("--type", typeText, typeHelp)->check(CheckTypeName);
  read->add_flag("--skip-header", skipHeader, "Binary types: drop the first 1024 bytes");
  read->add_flag("--reverse-bytes", reverseBytes, "Type 2: exchange the 16-bit halves of each value");
  read->add_flag("--first-channel-from-x", fromX, "Type 4: the X of the first line is the first channel");
  read->add_option("--columns", columns, "Type 4: positions of X, Y and error in a line, e.g. \"1 3 2\"");
  read->add_option("--first-channel", firstChannel, "Types 3 and 4: channel of the first value")
      ->check(CLI::Range(1, kSpectrumCapacity));
  read->add_flag("--whole-spectrum", keepBounds,
                 "Analyse from the first to the last channel instead of the inner channels");
  read->add_option("--output", output, "Output file for the run's notes");

  std::string testName, csvFile, iniFile, dir;
  auto* analyse =
      app.add_subcommand("analyse", "Search, mark and fit the whole spectrum; print the result table");
  analyse->add_option("FILE", file, "Spectrum file");
  analyse->add_option("--type", typeText, typeHelp)->check(CheckTypeName);
  analyse->add_option("--test", testName, "A built-in test spectrum instead of a file")
      ->check(CLI::IsMember({"raa", "negr", "front", "euu", "bpeak"}));
  analyse->add_flag("--skip-header", skipHeader, "Binary types: drop the first 1024 bytes");
  analyse->add_flag("--reverse-bytes", reverseBytes, "Type 2: exchange the 16-bit halves of each value");
  analyse->add_flag("--first-channel-from-x", fromX, "Type 4: the X of the first line is the first channel");
  analyse->add_option("--columns", columns, "Type 4: positions of X, Y and error in a line");
  analyse->add_option("--ini", iniFile, "A command file to run first (settings, and a spectrum by IS)")
      ->check(CLI::ExistingFile);
  std::string bmpFile, pngFile;
  analyse->add_option("--csv", csvFile, "Also write the result rows as CSV");
  analyse->add_option("--bmp", bmpFile, "Write the spectrum graph with the fitted peaks as a BMP file");
  analyse->add_option("--png", pngFile, "The same picture as a PNG file");
  analyse->add_option("--output", output, "Output file of the run (default: a.res)");
  std::string widthsText;
  double sensitivity = 0;
  bool plain = false, every = false;
  analyse->add_option(
      "--widths", widthsText,
      "W1,W2[,DW]: peak widths (FWHM, channels) at the start and end of the analysed interval "
      "and their accuracy; the width law is then not estimated from the spectrum");
  analyse
      ->add_option("--sensitivity", sensitivity,
                   "Sensitivity of the peak search (0.5 .. 3; smaller finds weaker)")
      ->check(CLI::Range(0.5, 3.0));
  analyse->add_flag("--plain", plain,
                    "Only the search, marking and fit with the given widths; every row printed");
  analyse->add_flag("--all", every, "Print every row of the result table, criterion <= 3 included");

  auto* run = app.add_subcommand("run", "Run a script of menu commands and dialog answers");
  run->add_option("SCRIPT", script, "Script file")->required()->check(CLI::ExistingFile);
  run->add_option("--log", logFile, "Log file (default: standard output)");
  run->add_option("--output", output, "Output file for the run's results (default: the title dialog's)");
  run->add_option("--dir", dir, "Start the program in this folder (relative names are taken from it)")
      ->check(CLI::ExistingDirectory);

  std::string namesFile, markingFile;
  int jobs = 1;
  auto* loop = app.add_subcommand(
      "loop", "Fit every spectrum of a list with one marking; write the peaks to the loop table orvant.tab");
  loop->add_option("NAMES", namesFile,
                   "Text file of spectrum file names, one per line (lines beginning with * are comments). "
                   "Relative names are taken from the folder of NAMES, or from --dir when it is given")
      ->required()
      ->check(CLI::ExistingFile);
  loop->add_option("--marking", markingFile, "Marking data set file, as read by \"Mark by Data Set\"")
      ->required()
      ->check(CLI::ExistingFile);
  loop->add_option("--type", typeText,
                   "Type of the binary word files: 1 binary 16-bit, 2 binary 32-bit (text types 3 and 4 are "
                   "refused); files of types 5..9 are read in the format their content shows")
      ->check(CheckTypeName);
  loop->add_flag("--skip-header", skipHeader, "Drop the first 1024 bytes of every file");
  loop->add_flag("--reverse-bytes", reverseBytes, "Type 2: exchange the 16-bit halves of each value");
  loop->add_option("--dir", dir,
                   "Work in this folder: relative spectrum names are taken from it and the loop table, the "
                   "output file and the settings file are written there (default: the current folder)")
      ->check(CLI::ExistingDirectory);
  loop->add_option("--jobs", jobs, "Spectra fitted at the same time; the table is the same for any number")
      ->check(CLI::Range(1, 64));
  loop->add_option("--ini", iniFile,
                   "A command file to run first: width law, fit settings, calibrations (default: the "
                   "start-up settings)")
      ->check(CLI::ExistingFile);
  loop->add_option("--output", output, "Output file of the run (default: a.res)");

  // A command line the parser refuses is a usage error: status 2, as command-line tools give it, apart
  // from the program's own refusals (status 1). Help asked for is no error.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  // The graph surface needs a GUI application; without windows it runs on the offscreen platform.
  // A headless run has no session folder, which Qt would warn about on every run.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg || message.startsWith("QStandardPaths:")) return;
    std::cerr << message.toStdString() << '\n';
  });
  int qtArgc = 1;
  QGuiApplication gui(qtArgc, argv);
  QtCanvas surface(600, 424);
  QtCanvas fitSurface(320, 264);

  // The script and the files named on the command line are found before the program moves to its
  // start folder.
  std::error_code ec;
  if (!script.empty()) script = std::filesystem::absolute(script, ec).string();
  if (!logFile.empty()) logFile = std::filesystem::absolute(logFile, ec).string();
  if (*loop) {
    namesFile = std::filesystem::absolute(namesFile, ec).string();
    markingFile = std::filesystem::absolute(markingFile, ec).string();
    if (!iniFile.empty()) iniFile = std::filesystem::absolute(iniFile, ec).string();
  }
  if (!dir.empty()) {
    std::filesystem::current_path(dir, ec);
    if (ec) {
      std::cerr << "Cannot work in " << dir << ": " << ec.message() << '\n';
      return 1;
    }
  }
  Workspace ws(std::filesystem::current_path().string());
  ResetAnalysisState(ws);

  // Reads FILE with the type options of the command line through the same path as the input dialog.
  auto readFile = [&](UiPort& port) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
      std::cerr << "No file " << file << '\n';
      return false;
    }
    type = ResolveType(typeText, file);
    if (type == 0) return false;
    ws.spectrum.fileName = file;
    ws.spectrum.fileType = type;
    ws.spectrum.a1 = firstChannel;
    ws.state.input.skipHeader = skipHeader;
    ws.state.input.reverseBytes = reverseBytes;
    ws.state.input.startAtOne = !fromX;
    std::vector<double> numbers;
    if (ParseNumberList(columns, numbers) != 3) {
      std::cerr << "Error, --columns needs three positions\n";
      return false;
    }
    for (int i = 0; i < 3; ++i) ws.state.input.lineIndicators[i] = RoundHalfEven(numbers[i]);
    SetInputBounds(ws, true);
    if (!FinishSpectrumInput(ws, port)) {
      std::cerr << ws.state.reportLines[0] << '\n';
      return false;
    }
    return true;
  };

  if (*analyse) {
    if (!file.empty() && !testName.empty()) {
      std::cerr << "Give either a spectrum FILE or --test NAME\n";
      return 1;
    }
    if (file.empty() && testName.empty() && iniFile.empty()) {
      std::cerr << "Give a spectrum FILE, --test NAME or --ini FILE\n";
      return 1;
    }
    PresetPort port(std::cerr);
    Program program(ws, port);
    program.outputFileOverride = output;
    program.graphSurface = &surface;
    if (!ProgramEntry(program) || !program.outputReady) return 1;
    // An ini file that changes the widths (its EWI) gives them.
    const double startWidths[3] = {ws.spectrum.width1, ws.spectrum.width2, ws.spectrum.deltaWidth};
    if (!iniFile.empty()) ReadCommandFile(ws, port, iniFile);
    const bool iniWidths = startWidths[0] != ws.spectrum.width1 || startWidths[1] != ws.spectrum.width2 ||
                           startWidths[2] != ws.spectrum.deltaWidth;
    if (!testName.empty()) {
      const auto& records = TestSpectrumRecords();
      for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].name.rfind(testName, 0) == 0) port.radio = static_cast<int>(i) + 1;
      if (!TestSpectraCommand(ws, port)) return 1;
    } else if (!file.empty() && !readFile(port)) {
      return 1;
    } else if (file.empty() && ws.spectrum.fileName.empty()) {
      std::cerr << "The command file " << iniFile << " loads no spectrum\n";
      return 1;
    }
    // A command file sets the analysed interval itself; otherwise the whole spectrum is analysed.
    if (iniFile.empty()) SetInterval(ws.state, ws.spectrum, ws.spectrum.a1, ws.spectrum.a2);
    TSpectrum& s = ws.spectrum;
    if (!widthsText.empty()) {
      if (!ParseWidths(widthsText, s.width1, s.width2, s.deltaWidth)) {
        std::cerr << "Error, --widths takes W1,W2[,DW] with widths above 0\n";
        return 1;
      }
      SetWidthLaw(ws.state, s);
    }
    if (sensitivity > 0) ws.state.sensitivity = sensitivity;
    ws.state.markingMode = 0;
    port.radio = 0;
    AutomaticResult automatic;
    if (plain) {
      if (!MarkSpectrum(ws, port)) return 1;
    } else {
      AutomaticOptions options;
      options.estimateWidths = widthsText.empty() && !iniWidths;
      options.widthSource = !widthsText.empty() ? "the widths of --widths"
                            : iniWidths         ? "the ini file's widths"
                            : !testName.empty() ? "the test spectrum's widths"
                                                : "the start-up widths";
      if (!AutomaticAnalysis(ws, port, options, automatic)) return 1;
    }
    if (ws.marking.peakCount == 0) {
      std::cout << "No peaks found in " << s.fileName << '\n';
      ExitCommand(program, false);
      return 0;
    }
    if (plain && !SpectrumFit(ws, port, 0, &ws.output)) return 1;
    ws.state.resultsUnsaved = true;
    std::cout << "Spectrum " << s.fileName << ": channels " << s.a1 << " .. " << s.a2 << ", "
              << ws.marking.peakCount << " peaks in " << ws.marking.intervalCount << " intervals\n";
    std::ofstream csv;
    if (!csvFile.empty()) {
      csv.open(csvFile);
      if (!csv) {
        std::cerr << "Cannot create " << csvFile << '\n';
        return 1;
      }
    }
    const int leftOut = PrintResults(ws, std::cout, csvFile.empty() ? nullptr : &csv, plain || every,
                                     plain ? nullptr : &automatic.law);
    if (!csvFile.empty()) {
      csv.close();
      if (!csv) {
        std::cerr << "Cannot write " << csvFile << '\n';
        return 1;
      }
    }
    if (!plain) {
      std::cout << leftOut << " of " << ws.state.resultCount << " peaks of criterion <= 3 left out"
                << (leftOut > 0 ? " (--all prints them)" : "") << '\n';
      std::cout << WidthLawLine(automatic.law) << '\n';
    }
    if (!bmpFile.empty() || !pngFile.empty()) {
      // The whole spectrum with the fitted peaks marked, as "Graph the Spectrum" shows it (after an
      // automatic analysis with the fitted curve of every interval).
      ws.state.viewFirst = ws.spectrum.a1;
      ws.state.viewLast = ws.spectrum.a2;
      ws.state.viewWidth = ws.spectrum.a2 - ws.spectrum.a1 + 1;
      ws.state.graphMode = 1;
      // Several channels share a pixel column here; a connected line reads better than crosses.
      ws.state.pointStyle = 2;
      if (plain) {
        DrawCurrentGraph(ws, surface);
      } else {
        // The fitted curves over the data; counts over more than two decades on the log scale.
        if (SpansDecades(ws.spectrum, ws.state.viewFirst, ws.state.viewLast)) ws.state.scaleMode = 2;
        DrawAutomaticGraph(ws, surface, automatic);
      }
      if (!bmpFile.empty() && !WriteImage(surface.image(), "BMP", bmpFile)) return 1;
      if (!pngFile.empty() && !WriteImage(surface.image(), "PNG", pngFile)) return 1;
    }
    // Saved as "Save the Fit Results" saves them, so the output file holds the summary table.
    WriteSummaryTable(ws, ws.state.normCoefficient);
    const std::string outputPath = ws.output.path();
    ExitCommand(program, false);
    if (!OutputWritten(ws)) return 1;
    std::cout << "Output file: " << outputPath << '\n';
    return 0;
  }

  if (*loop) {
    LoopPort port(std::cerr);
    Program program(ws, port);
    program.outputFileOverride = output;
    // Without an output file the loop still writes its table; the port has said why.
    if (!ProgramEntry(program)) return 1;
    if (!iniFile.empty()) ReadCommandFile(ws, port, iniFile);
    if (skipHeader) ws.state.input.skipHeader = true;
    if (reverseBytes) ws.state.input.reverseBytes = true;
    int count = 0;
    const std::filesystem::path base =
        dir.empty() ? std::filesystem::path(namesFile).parent_path() : std::filesystem::path();
    if (!LoadMarkingFile(markingFile, ws.marking, ws.state, port) ||
        !ReadLoopNames(namesFile, base, ws.names, count)) {
      ExitCommand(program, false);
      return 1;
    }
    ws.state.nameCount = count;
    // Without --type the files must show their format; the first one's stands for the series (each
    // file is still read in its own).
    type = count > 0 ? ResolveType(typeText, ws.names.names[1]) : FileTypeFromName(typeText);
    if (type == 0 && typeText.empty() && count > 0) {
      std::cerr << "Give --type 1 or 2 for binary word files\n";
      ExitCommand(program, false);
      return 1;
    }
    ws.spectrum.fileType = type;
    const FitLoopOutcome out = FitLoopCommand(ws, port, jobs);
    ExitCommand(program, false);
    if (!out.ran || !OutputWritten(ws)) return 1;
    std::cout << "Loop table: " << out.tablePath << '\n';
    const bool anyFitted = out.summary.processed > out.summary.failed;
    return anyFitted && out.summary.tableWritten ? 0 : 1;
  }

  if (*read) {
    if (!OpenOutput(ws, output)) return 1;
    ConsolePort port(std::cerr);
    if (!readFile(port)) return 1;
    if (keepBounds) SetInterval(ws.state, ws.spectrum, ws.spectrum.a1, ws.spectrum.a2);
    PrintSummary(ws, std::cout);
    ws.output.Close();
    return OutputWritten(ws) ? 0 : 1;
  }

  std::string text;
  if (!ReadListFile(script, text)) return 1;
  std::unique_ptr<LineFlushingBuffer> logBuffer;
  if (!logFile.empty()) {
    std::FILE* f = std::fopen(logFile.c_str(), "w");
    if (!f) {
      std::cerr << "Cannot create the log file " << logFile << '\n';
      return 1;
    }
    logBuffer = std::make_unique<LineFlushingBuffer>(f);
  }
  std::ostream logStream(logBuffer.get());
  std::ostream& log = logFile.empty() ? std::cout : logStream;
  ScriptPort port(text, log);
  Program program(ws, port);
  program.outputFileOverride = output;
  program.graphSurface = &surface;
  program.fitSurface = &fitSurface;
  int rc = RunScript(program, port);
  if (rc != 0) std::cerr << port.error() << '\n';
  if (logBuffer && logBuffer->failed()) {
    std::cerr << "Error, the log file " << logFile << " could not be written\n";
    rc = 1;
  }
  return rc;
}
