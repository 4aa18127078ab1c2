#include "ui/program.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

#include "analysis/settings_file.h"
#include "core/dialog.h"
#include "graphics/memory_canvas.h"
#include "graphics/plot.h"
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

// Where the title picture sits on the title dialog: right of the list, below the radio group.
constexpr int kTitleLeft = 360, kTitleTop = 100, kTitleWidth = 350, kTitleHeight = 265;

struct TitlePeak {
  double channel, height, sigma;
};

// The title picture: a fragment of a gamma-ray spectrum on a falling background, its measured
// points, the fitted curve over them and a tick under each fitted peak.
void DrawTitlePicture(Canvas& c, const AnalysisState& st) {
  const Rgb data = ColorFromInt(st.colorExpData), fit = ColorFromInt(st.colorFitData);
  const Rgb background = ColorFromInt(st.colorBackground);
  constexpr Rgb kAxis{160, 160, 160}, kBackgroundLine{0, 160, 0}, kTick{255, 255, 0};
  const int w = c.width(), h = c.height();
  const int base = h - 24, left = 8, right = w - 8;
  c.Fill(0, 0, w - 1, h - 1, background);
  c.Rectangle(0, 0, w - 1, h - 1, kAxis);
  c.Line(left, base, right, base, kAxis);

  constexpr int kChannels = 165;  // two pixels a channel
  constexpr std::array<TitlePeak, 5> kPeaks{
      {{28, 150, 2.2}, {63, 70, 2.6}, {71, 95, 2.6}, {108, 185, 2.9}, {142, 55, 3.2}}};
  auto backgroundAt = [](double ch) { return 45 * std::exp(-ch / 70) + 12; };
  auto model = [&](double ch) {
    double v = backgroundAt(ch);
    for (const TitlePeak& p : kPeaks)
      v += p.height * std::exp(-0.5 * std::pow((ch - p.channel) / p.sigma, 2));
    return v;
  };
  const double pixelsPerCount = (base - 30) / 250.0;
  auto x = [&](double ch) { return left + static_cast<int>(std::lround(ch * (right - left) / kChannels)); };
  auto y = [&](double v) { return base - static_cast<int>(std::lround(v * pixelsPerCount)); };

  // Counting noise from a fixed seed: the picture is the same on every run and platform.
  std::minstd_rand noise(2026);
  auto normal = [&] {
    double sum = 0;
    for (int i = 0; i < 12; ++i)
      sum += static_cast<double>(noise() - noise.min()) / (noise.max() - noise.min());
    return sum - 6;
  };
  for (int ch = 0; ch <= kChannels; ++ch) {
    const double v = model(ch);
    const int px = x(ch), py = y(v + std::sqrt(v) * normal());
    c.Fill(px - 1, py - 1, px + 1, py + 1, data);
  }
  for (int ch = 0; ch < kChannels; ++ch) {
    c.Line(x(ch), y(backgroundAt(ch)), x(ch + 1), y(backgroundAt(ch + 1)), kBackgroundLine);
    // Half-channel steps keep the narrow peaks smooth.
    for (int half = 0; half < 2; ++half) {
      const double a = ch + 0.5 * half, b = a + 0.5;
      c.Line(x(a), y(model(a)), x(b), y(model(b)), fit);
    }
  }
  for (const TitlePeak& p : kPeaks) c.Line(x(p.channel), base + 4, x(p.channel), base + 14, kTick);
}

DialogImage TitleImage(const AnalysisState& st) {
  MemoryCanvas canvas(kTitleWidth, kTitleHeight);
  DrawTitlePicture(canvas, st);
  return DialogImage{kTitleLeft, kTitleTop, kTitleWidth, kTitleHeight, canvas.pixels()};
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
  title.image = TitleImage(st);
  // A canvas without fonts cannot letter the picture: the name is a label over it.
  ShowLabel(title, 1, kTitleLeft + 200, kTitleTop + 12, " ORVANT ", kWhite, kMaroon);
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
