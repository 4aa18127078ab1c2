#include "analysis/command_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <istream>
#include <utility>
#include <vector>

#include "analysis/spectrum_input.h"
#include "core/dialog.h"
#include "core/numtext.h"

namespace orv {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxCommandLetters = 11;
constexpr std::size_t kMaxFileNameLength = 255;
// No setting means anything beyond these, and whatever is computed from one must stay finite.
constexpr double kRealLimit = 1e30;
constexpr double kIntegerLimit = 1e9;

constexpr const char* kIniFileName = "a.ini";

// A line as read, without the CR that files written on other platforms end their lines with.
void DropCarriageReturn(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

// A line of blanks looks empty to whoever edits the file, so it counts as one.
bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

// A token as a message quotes it: a long one is cut.
std::string Shortened(const std::string& token) {
  return token.size() <= 40 ? token : token.substr(0, 40) + "...";
}

class CommandReader {
 public:
  CommandReader(Workspace& ws, UiPort& port, std::istream& in, const CommandFileOptions& options)
      : ws_(ws), port_(port), in_(in), options_(options), stream_(in) {}

  void Run() {
    std::string line;
    while (!stopped_ && NextLine(line)) {
      const std::string word = CommandWord(line);
      if (word == "STOP") break;
      if (!Execute(word)) port_.ShowMessage("Invalid command in INI-file:" + word);
    }
  }

 private:
  // The next line that is neither empty nor a comment.
  bool NextLine(std::string& line) {
    while (std::getline(in_, line)) {
      ++linesRead_;
      DropCarriageReturn(line);
      if (!IsBlank(line) && line[0] != '*') return true;
    }
    line.clear();
    return false;
  }

  // p1..p(count) from the free-field numbers; those not found keep the buffer's earlier values. A
  // mistyped number would let the next command's numbers slip into this one: the file is refused
  // from there on, naming the line and the token, and the command changes nothing.
  bool Numbers(int count) {
    stream_.Read(buffer_, 1, count);
    if (stream_.badToken().empty()) return true;
    const int line = linesRead_ + stream_.badTokenLine();
    port_.ShowMessage("Error in the command file " + options_.sourceName + ", line " + std::to_string(line) +
                      ": \"" + Shortened(stream_.badToken()) + "\" is not a number; reading stopped");
    stopped_ = true;
    return false;
  }
  double P(int i) const {
    const double v = buffer_[i];
    return std::isnan(v) ? 0.0 : std::clamp(v, -kRealLimit, kRealLimit);
  }
  int Rounded(int i) const { return RoundHalfEven(std::clamp(P(i), -kIntegerLimit, kIntegerLimit)); }
  // A channel bound: kept inside the spectrum arrays so that no later loop over it can overrun them.
  int Channel(int i) const { return std::clamp(Rounded(i), 1, kSpectrumCapacity); }

  bool Execute(const std::string& w) {
    AnalysisState& st = ws_.state;
    TSpectrum& s = ws_.spectrum;
    if (w == "IS") {
      InputSpectrum();
    } else if (w == "DMS") {
      if (!Numbers(3)) return true;
      st.markingMode = Rounded(1);
      st.sensitivity = P(2);
      st.resolution = P(3);
    } else if (w == "SAB") {
      SetBounds();
    } else if (w == "EWI") {
      if (!Numbers(3)) return true;
      s.width1 = P(1);
      s.width2 = P(2);
      s.deltaWidth = P(3);
      SetWidthLaw(st, s);
    } else if (w == "EVWI") {
      if (!Numbers(2)) return true;
      s.widthVariable = P(1);
      s.deltaWidthVariable = P(2);
    } else if (w == "MAXINT" || w == "MI") {
      if (!Numbers(1)) return true;
      st.maxInterval = Rounded(1);
    } else if (w == "FS") {
      if (!Numbers(2)) return true;  // an old setting: its numbers are passed over
    } else if (w == "COVAR") {
      if (!Numbers(1)) return true;
      st.covar = P(1);
    } else if (w == "SMAST") {
      if (!Numbers(1)) return true;
      st.smallStatistics = Rounded(1);
    } else if (w == "ORDER") {
      if (!Numbers(1)) return true;
      st.blunderOrder = P(1);
    } else if (w == "CHIO") {
      if (!Numbers(1)) return true;
      st.chibc = P(1);
    } else if (w == "DPOS") {
      if (!Numbers(1)) return true;
      st.positionDeviation = P(1);
    } else if (w == "DBACK" || w == "DB") {
      if (!Numbers(1)) return true;
      s.dback = Rounded(1);
    } else if (w == "STEP") {
      if (!Numbers(1)) return true;
      st.fitStep = P(1);
    } else if (w == "DAMP") {
      if (!Numbers(1)) return true;
      st.fitDamper = P(1);
    } else if (w == "NITER") {
      if (!Numbers(1)) return true;
      st.iterationLimit = LimitIterations(P(1), port_);
    } else if (w == "SGM") {
      if (!Numbers(1)) return true;
      st.scaleMode = Rounded(1);
    } else if (w == "EDENC") {
      Calibration(kEnergyCalibration);
    } else if (w == "EDEFC") {
      Calibration(kEfficiencyCalibration);
    } else {
      return false;
    }
    return true;
  }

  void InputSpectrum() {
    TSpectrum& s = ws_.spectrum;
    if (!Numbers(3)) return;
    int a1 = Channel(1), a2 = Channel(2);
    // Reversed bounds describe the same channels; later code relies on a1 <= a2.
    if (a1 > a2) std::swap(a1, a2);
    std::string name;
    NextLine(name);
    if (name.size() > kMaxFileNameLength) name.resize(kMaxFileNameLength);
    // The name, type and bounds describe the spectrum in hand: they change with its counts or not at
    // all, so a file that is missing or cannot be read leaves the old spectrum under its own name.
    const SpectrumChoice before(s);
    s.a1 = a1;
    s.a2 = a2;
    s.fileType = Rounded(3);
    bool loaded = false;
    if (name.empty()) {
      port_.ShowMessage("No file ");
    } else {
      ws_.state.lastDir = fs::path(name).parent_path().string();
      s.fileName = name;
      // Only a plain file is loaded: a directory, a device or a pipe is no spectrum and could block.
      std::error_code ec;
      if (!fs::is_regular_file(name, ec) || (options_.mayLoad && !options_.mayLoad(name))) {
        port_.ShowMessage("No file " + name);
      } else if (ConfirmDiscardResults(ws_, port_)) {
        loaded = LoadSpectrum(ws_, port_);
        if (!loaded) port_.ShowMessage("Spectrum input failure");
      }
    }
    if (!loaded) before.RestoreTo(s);
    // The width law follows the bounds, which the command or the reading has just set.
    SetWidthLaw(ws_.state, ws_.spectrum);
  }

  void SetBounds() {
    AnalysisState& st = ws_.state;
    TSpectrum& s = ws_.spectrum;
    if (!Numbers(2)) return;
    int b1 = Channel(1), b2 = Channel(2);
    // Reversed bounds would give an interval of negative length.
    if (b1 > b2) std::swap(b1, b2);
    s.b1 = st.intervalFirst = st.iniB1 = b1;
    s.b2 = st.intervalLast = st.iniB2 = b2;
    st.intervalLength = b2 - b1 + 1;
  }

  void Calibration(CalibrationKind kind) {
    AnalysisState& st = ws_.state;
    CalibrationTables& cal = ws_.calibration;
    if (!Numbers(2)) return;
    const int npt = std::clamp(Rounded(1), 0, kCommandFileCalibrationItems);
    const int mode = Rounded(2);
    CalibrationList items{};
    int count = 0;
    for (int k = 0; k < npt; ++k) {
      if (!Numbers(3)) return;
      // A line of zeros is no item; the next item takes its place.
      if (IsValidCalibrationItem(P(1), P(2), P(3))) items[++count] = {P(2), P(1), P(3)};
    }
    SortCalibrationItems(items, count);
    // Every interpolation and line needs two distinct nodes: a shorter table is kept but not put in
    // force.
    const bool inForce = count >= 2 && CheckCalibrationSpread(items, count, port_);
    if (kind == kEnergyCalibration) {
      cal.energyItems = items;
      st.energyItemCount = count;
      st.calibrationMode = mode;
      st.energyCalibrated = inForce;
      if (mode == 1) FitLinearEnergyCalibration(st, cal);
    } else {
      cal.efficiencyItems = items;
      st.efficiencyItemCount = count;
      st.efficiencyMode = mode;
      st.efficiencyCalibrated = inForce;
    }
    if (npt > 0 && count < 2)
      port_.ShowMessage("Warning, number of calibration items < 2; calibration not set up");
  }

  Workspace& ws_;
  UiPort& port_;
  std::istream& in_;
  const CommandFileOptions options_;
  NumberStream stream_;
  int linesRead_ = 0;  // by the command reader itself; the number stream counts its own
  bool stopped_ = false;
  std::vector<double> buffer_ = std::vector<double>(4, 0.0);  // p1..p3, kept between commands
};

std::string Fields(std::initializer_list<std::string> fields) {
  return JoinFields(fields);
}

// A value that is not a number would read back as nothing and shift every later number. A value that
// its field's decimals would round (a coefficient of 0.0045 in three decimals) is written with the
// shortest digits that read back equal, so that saving and reading changes no setting.
std::string Real(double value, int width, int decimals) {
  if (!std::isfinite(value)) value = 0.0;
  const std::string fixed = FormatFixed(value, width, decimals);
  const auto back = ParseNumberToken(fixed.substr(fixed.find_first_not_of(' ')));
  if (back && *back == value) return fixed;
  std::array<char, 64> buf;
  const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), value).ptr;
  std::string exact(buf.data(), end);
  return std::string(std::max<int>(0, width - static_cast<int>(exact.size())), ' ') + exact;
}

void AppendCalibration(std::vector<std::string>& lines, const std::string& caption, int count, int mode,
                       const CalibrationList& items) {
  if (count <= 0) return;
  count = std::min(count, kCommandFileCalibrationItems);
  lines.push_back(caption);
  lines.push_back("*      npt  mode   pri");
  lines.push_back(Fields({FormatInt(count, 5), FormatInt(mode, 3), "  1"}));
  for (int i = 1; i <= count; ++i)
    lines.push_back(
        Fields({Real(items[i].argument, 9, 3), Real(items[i].value, 9, 3), Real(items[i].error, 9, 3)}));
}

std::vector<std::string> CommandFileLines(const Workspace& ws) {
  const AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  std::vector<std::string> lines;
  // Without a spectrum there is no name line: an empty one would be skipped on reading and the next
  // command taken for the name.
  if (!s.fileName.empty()) {
    lines.push_back(".......Input the Spectrum");
    lines.push_back("* a1   a2   mode  /mode:1-2byte,2-4,3-text");
    lines.push_back("* spectrum file name");
    lines.push_back(Fields({FormatInt(s.a1, 5), FormatInt(s.a2, 8), FormatInt(s.fileType, 3)}));
    lines.push_back(s.fileName);
  }
  lines.push_back(".......Set the Analysis Bounds");
  lines.push_back(Fields({FormatInt(s.b1, 8), FormatInt(s.b2, 8)}));
  lines.push_back(".......Enter the Width Information");
  lines.push_back("*      w1   w2  DeltaW");
  lines.push_back(Fields({Real(s.width1, 9, 3), Real(s.width2, 9, 4), Real(s.deltaWidth, 9, 3)}));
  lines.push_back(".......Degree of the Background");
  lines.push_back("*  0 <= dback <= 3");
  lines.push_back(FormatInt(s.dback, 5));
  AppendCalibration(lines, ".......Enter Data for ENergy Calibration", st.energyItemCount, st.calibrationMode,
                    ws.calibration.energyItems);
  AppendCalibration(lines, ".......Enter Data for EFiciency Calibration", st.efficiencyItemCount,
                    st.efficiencyMode, ws.calibration.efficiencyItems);
  lines.push_back(".......Data for Marking the Spectrum");
  lines.push_back("* mode   sens    resol ");
  lines.push_back(
      Fields({FormatInt(st.markingMode, 5), Real(st.sensitivity, 8, 2), Real(st.resolution, 8, 2)}));
  lines.push_back(".......Maximum Interval");
  lines.push_back(FormatInt(st.maxInterval, 5));
  lines.push_back(".......COVAR");
  lines.push_back(Real(st.covar, 9, 3));
  lines.push_back(".......STOP");
  return lines;
}

}  // namespace

std::string CommandWord(const std::string& line) {
  std::string word;
  for (char c : line) {
    if (c < 'A' || c > 'Z') continue;
    word += c;
    if (word.size() == kMaxCommandLetters) break;
  }
  return word;
}

void ReadCommandStream(Workspace& ws, UiPort& port, std::istream& in) {
  ReadCommandStream(ws, port, in, CommandFileOptions{});
}

void ReadCommandStream(Workspace& ws, UiPort& port, std::istream& in, const CommandFileOptions& options) {
  CommandReader(ws, port, in, options).Run();
}

void ReadCommandFile(Workspace& ws, UiPort& port, const std::string& fileName) {
  std::error_code ec;
  if (!fs::is_regular_file(fileName, ec)) {
    port.ShowMessage("No file " + fileName);
    return;
  }
  std::ifstream in(fileName);
  if (!in) {
    port.ShowMessage("Cannot read " + fileName);
    return;
  }
  CommandFileOptions options;
  options.sourceName = fileName;
  ReadCommandStream(ws, port, in, options);
}

bool WriteCommandFile(const Workspace& ws, UiPort& port) {
  const fs::path path = fs::path(ws.state.startDir) / kIniFileName;
  // The reader takes no more items per table, so more are never written; the user hears of it.
  for (auto [count, kind] :
       {std::pair{ws.state.energyItemCount, "energy"}, {ws.state.efficiencyItemCount, "efficiency"}})
    if (count > kCommandFileCalibrationItems)
      port.ShowMessage("Warning, only the first " + std::to_string(kCommandFileCalibrationItems) + " of " +
                       std::to_string(count) + " " + kind + " calibration items are saved in " +
                       kIniFileName);
  std::ofstream out(path, std::ios::trunc);
  if (out) {
    for (const std::string& line : CommandFileLines(ws)) out << line << '\n';
    out.close();
  }
  if (!out) {
    port.ShowMessage("Cannot write " + path.string());
    return false;
  }
  return true;
}

void EnterIniFileCommand(Workspace& ws, UiPort& port) {
  std::string name = kIniFileName;
  if (!SelectFile(port, name, 0)) return;
  ReadCommandFile(ws, port, name);
}

void SaveInitFileCommand(Workspace& ws, UiPort& port) {
  if (WriteCommandFile(ws, port)) port.ShowStatus("Ini file saved as a.ini", "");
}

}  // namespace orv
