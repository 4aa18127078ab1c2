#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "graphics/automatic_graph.h"
#include "graphics/memory_canvas.h"
#include "graphics/plot.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"
#include "ui/commands.h"
#include "ui/script/script_port.h"

namespace orv {
namespace {

class AutomaticCommandTest : public testing::WorkspaceTest {
 protected:
  AutomaticCommandTest() : WorkspaceTest("orv_automatic_command_") {}

  // Lines of 2e3 to 2e6 counts on a continuum of about 20 per channel: more than two decades.
  void LoadLines() {
    TSpectrum& s = ws_->spectrum;
    std::vector<testing::TruePeak> lines;
    for (int k = 0; k < 8; ++k)
      lines.push_back({200.0 + 220 * k, 2e3 * std::pow(2.7, k), 3 + 0.002 * 220 * k});
    RandomGenerator g;
    for (int ch = 1; ch <= 2048; ++ch)
      s.sp[ch] = testing::PoissonDeviate(g, testing::ExpectedCount(ch, lines, 20, 0));
    s.a1 = 1;
    s.a2 = 2048;
    s.fileName = "lines.spe";
    SetInterval(ws_->state, s, 2, 2047);
    s.SetErrors(0);
    s.FindExtremes();
  }
};

TEST_F(AutomaticCommandTest, WindowCommandAsksNothingAndDrawsTheFit) {
  testing::FakePort port;
  Program program(*ws_, port);
  MemoryCanvas surface(kGraphWidth, kGraphHeight);
  program.graphSurface = &surface;
  LoadLines();

  // The last command of the Operation menu.
  const std::vector<Command>& table = CommandTable();
  const Command* last = nullptr;
  for (const Command& c : table)
    if (c.menu == "&Operation" && c.run) last = &c;
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->caption, "Automatic Analysis");

  ASSERT_EQ(RunCommand(program, "Automatic Analysis"), CommandStatus::kDone);
  EXPECT_TRUE(port.dialogs.empty());
  EXPECT_TRUE(port.questions.empty());
  ASSERT_NE(program.automatic, nullptr);
  EXPECT_GE(ws_->state.resultCount, 8);
  EXPECT_EQ(ws_->state.graphMode, 3);
  EXPECT_EQ(ws_->state.scaleMode, 2);  // counts over more than two decades
  EXPECT_TRUE(ws_->state.resultsUnsaved);
  EXPECT_EQ(port.statuses.back().rfind("Automatic analysis: ", 0), 0u) << port.statuses.back();
  // The fitted curve is on the graph in the fit colour.
  const Rgb fit = ColorFromInt(ws_->state.colorFitData);
  int fitPixels = 0;
  for (int y = 0; y < kChannelLabelRow; ++y)
    for (int x = kAxisLeft; x <= kAxisRight; ++x) {
      const Rgb c = surface.PixelAt(x, y);
      fitPixels += c.red == fit.red && c.green == fit.green && c.blue == fit.blue;
    }
  EXPECT_GT(fitPixels, 50);

  // The result table shows the rows; the picture stays. A new run asks before overwriting them.
  RunCommand(program, "Show Result Table");
  EXPECT_NE(program.automatic, nullptr);
  port.okCancel = false;
  RunCommand(program, "Automatic Analysis");
  ASSERT_EQ(port.questions.size(), 1u);
  EXPECT_EQ(port.questions[0], "Previous fit results not saved");
  // Another graph command leaves the picture.
  RunCommand(program, "Graph the Spectrum");
  EXPECT_EQ(program.automatic, nullptr);
}

TEST_F(AutomaticCommandTest, ScriptsRunItByItsCaption) {
  std::ostringstream log;
  ScriptPort port(
      "menu &Test\ndialog Set Test Spectra\nradio 1\nok\nmenu Automatic Analysis\nmenu Save the Fit Results\n"
      "dialog\nok\nmenu Exit\n",
      log);
  Program program(*ws_, port);
  ASSERT_EQ(RunScript(program, port), 0) << log.str() << port.error();
  const std::string out = testing::ReadText(dir_ / "a.res");
  EXPECT_NE(out.find("Width law FWHM(chan)= sqrt(a + b*chan): a= "), std::string::npos);
  EXPECT_NE(out.find("SUMMARY TABLE."), std::string::npos);
  EXPECT_NE(log.str().find("status: Automatic analysis: "), std::string::npos) << log.str();
}

TEST(AutomaticGraph, DecadesOfCounts) {
  TSpectrum s;
  for (int ch = 1; ch <= 100; ++ch) s.sp[ch] = 10;
  EXPECT_FALSE(SpansDecades(s, 1, 100));
  s.sp[50] = 1001;
  EXPECT_TRUE(SpansDecades(s, 1, 100));
  EXPECT_FALSE(SpansDecades(s, 1, 49));
  s.sp[20] = 0;  // empty channels do not count as the smallest
  EXPECT_FALSE(SpansDecades(s, 1, 49));
}

}  // namespace
}  // namespace orv
