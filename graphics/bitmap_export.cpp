#include "graphics/bitmap_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/numtext.h"
#include "graphics/plot.h"

namespace orv {
namespace {

constexpr const char* kBitmapCaption = "The screen image -> a BMP-file";
constexpr const char* kBitmapPrompt = "Put the BMP file name";

bool SameColor(Rgb a, Rgb b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// SelectFile titles its dialog with the prompt; this port gives the dialog the command's own caption
// and passes everything else through.
class CaptionedPort : public UiPort {
 public:
  CaptionedPort(UiPort& port, std::string caption) : port_(port), caption_(std::move(caption)) {}
  bool ShowDialog(DialogRequest& request) override {
    request.caption = caption_;
    return port_.ShowDialog(request);
  }
  void ShowMessage(const std::string& text) override { port_.ShowMessage(text); }
  bool AskYesNo(const std::string& question) override { return port_.AskYesNo(question); }
  bool AskOkCancel(const std::string& question) override { return port_.AskOkCancel(question); }
  void ShowStatus(const std::string& line1, const std::string& line2) override {
    port_.ShowStatus(line1, line2);
  }
  void ShowPrompt(const std::string& text) override { port_.ShowPrompt(text); }
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest& request) override {
    return port_.ChooseFileToOpen(request);
  }
  std::optional<std::vector<std::string>> ChooseFilesToOpen(const FileOpenRequest& request) override {
    return port_.ChooseFilesToOpen(request);
  }
  void ShowText(const std::vector<std::string>& lines) override { port_.ShowText(lines); }
  void EnableMainMenu(bool on) override { port_.EnableMainMenu(on); }
  void ClearForm() override { port_.ClearForm(); }
  void LayoutWindows(double screenScale, int fontSize) override {
    port_.LayoutWindows(screenScale, fontSize);
  }

 private:
  UiPort& port_;
  std::string caption_;
};

// The name of a new bitmap file; asks before overwriting. False when cancelled.
bool SelectBitmapName(UiPort& port, std::string& name) {
  CaptionedPort captioned(port, kBitmapCaption);
  return SelectFile(captioned, name, 1, kBitmapPrompt);
}

// Bitmaps go to the current working folder; a name with a folder of its own keeps it.
std::string FullName(const std::string& name) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  return ec ? name : (folder / name).string();
}

bool SavePicture(UiPort& port, const ImageCanvas& canvas, const std::string& path) {
  if (canvas.SaveBitmap(path)) return true;
  port.ShowMessage("Error, the file " + path + " cannot be written");
  return false;
}

std::string IoError(const std::string& path, int code) {
  return path + ": I/O error " + std::to_string(code) + " (" + std::strerror(code) + ")";
}

}  // namespace

void ReverseColors(ImageCanvas& canvas, std::span<const Rgb> papers) {
  auto paper = [papers](Rgb c) {
    return SameColor(c, kBlack) ||
           std::any_of(papers.begin(), papers.end(), [c](Rgb p) { return SameColor(c, p); });
  };
  for (int y = 0; y < canvas.height(); ++y)
    for (int x = 0; x < canvas.width(); ++x)
      canvas.SetPixel(x, y, paper(canvas.PixelAt(x, y)) ? kWhite : kBlack);
}

std::string GraphDataFileName(const std::string& bmpName) {
  const std::size_t dot = bmpName.rfind('.');
  const std::size_t slash = bmpName.find_last_of("/\\");
  const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  std::string name = hasDot ? bmpName.substr(0, dot + 1) + "gph" : bmpName + "gph";
  if (name == bmpName) name += ".gph";
  return name;
}

bool WriteGraphData(const Workspace& ws, const std::string& path, std::string* error) {
  const IntervalFitState& fs = ws.fit;
  const TParameter& e = ws.engine;
  const int n = fs.n;
  if (n < 0 || n > kMaxPeaks || static_cast<int>(e.params.size()) <= WidthVariableIndex(n)) {
    if (error) *error = "Error, no fitted interval";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    if (error) *error = IoError(path, errno);
    return false;
  }
  // Only channels the spectrum holds; an interval reaching outside it has nothing more to show.
  const int first = std::max(fs.startChannel, 1);
  const int last = std::min(fs.endChannel, static_cast<int>(ws.spectrum.sp.size()) - 1);
  const TPeakModel& model = ws.model();
  std::vector<double> peaks(static_cast<std::size_t>(n) + 1, 0.0);
  bool ok = true;
  for (int ch = first; ch <= last && ok; ++ch) {
    // The fitted interval function, summed as the model procedure sums it during the fit.
    const double background = IntervalBackground(ws, ch);
    const double x = fs.Coordinate(ch);
    const double wx = e.params[WidthIndex(n)].value + e.params[WidthVariableIndex(n)].value * x;
    const double inverseWidth = wx != 0 ? 1 / wx : 0;
    double total = background;
    for (int k = 1; k <= n; ++k) {
      double m, m1, m2;
      model.Evaluate((ch - e.params[PositionIndex(n, k)].value) * inverseWidth, m, m1, m2);
      peaks[k] = e.params[AmplitudeIndex(k)].value * m;
      total += peaks[k];
    }
    std::string line =
        FormatNumber(6, 0, ch) + FormatNumber(8, 0, ws.spectrum.CountAt(ch)) + FormatNumber(8, 0, total);
    for (int k = 1; k <= n; ++k) line += FormatNumber(8, 0, background + peaks[k]);
    line += '\n';
    ok = std::fputs(line.c_str(), file) >= 0;
  }
  int code = ok ? 0 : errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (!ok && error) *error = IoError(path, code != 0 ? code : EIO);
  return ok;
}

bool SaveSpectrumBitmap(Workspace& ws, UiPort& port, const ImageCanvas& canvas) {
  if (ws.state.graphMode == 0) return false;
  std::string name = "sp.bmp";
  if (!SelectBitmapName(port, name)) return false;
  return SavePicture(port, canvas, FullName(name));
}

bool SaveFitBitmap(Workspace& ws, UiPort& port, ImageCanvas& canvas) {
  std::string name = "a.bmp";
  if (!SelectBitmapName(port, name)) return false;
  if (port.AskYesNo("Reverse the colors?")) {
    const std::array<Rgb, 2> papers{ColorFromInt(ws.state.colorBackground),
                                    ColorFromInt(ws.state.colorTextBackground)};
    ReverseColors(canvas, papers);
  }
  const std::string path = FullName(name);
  if (!SavePicture(port, canvas, path)) return false;
  std::string error;
  if (WriteGraphData(ws, GraphDataFileName(path), &error)) return true;
  port.ShowMessage(error);
  return false;
}

}  // namespace orv
