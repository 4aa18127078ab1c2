#include "graphics/bitmap_export.h"
#include "graphics/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/interval_fit.h"
#include "core/numtext.h"
#include "graphics/memory_canvas.h"
#include "tests/support/fake_port.h"
#include "tests/support/recording_canvas.h"
#include "tests/support/synthetic.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using testing::FakePort;
using testing::ReadLines;
constexpr auto Same = &testing::SameColor;

// The in-memory picture; it records where it was saved and can refuse, as a full disk would.
class MemoryCanvas : public orv::MemoryCanvas {
 public:
  using orv::MemoryCanvas::MemoryCanvas;
  bool SaveBitmap(const std::string& path) const override {
    saved.push_back(path);
    return !refuse && orv::MemoryCanvas::SaveBitmap(path);
  }
  bool refuse = false;
  mutable std::vector<std::string> saved;
};

// The colours the graphs draw with on their dark background, both common shades of light cyan and
// of green.
inline constexpr std::array<Rgb, 7> kDrawingColors{{
    {255, 255, 0},    // yellow
    {0, 255, 255},    // light cyan
    {128, 255, 255},  // light cyan, paler shade
    {255, 0, 255},    // magenta
    {255, 0, 0},      // red
    {0, 128, 0},      // green
    {0, 255, 0},      // bright green
}};

TEST(BitmapExport, ReverseColorsTurnsTheGraphIntoAPrintablePicture) {
  MemoryCanvas c(12, 2);  // starts black
  const Rgb others[] = {kWhite, kBlue, kMaroon, {254, 255, 0}, {0, 127, 0}, {128, 128, 128}};
  for (std::size_t i = 0; i < kDrawingColors.size(); ++i) c.Pixel(static_cast<int>(i), 0, kDrawingColors[i]);
  for (int i = 0; i < 6; ++i) c.Pixel(i, 1, others[i]);
  const std::array<Rgb, 1> papers{kMaroon};  // the text cells
  ReverseColors(c, papers);
  // Every stroke prints black, the white ticks and the text on its maroon cell too.
  for (std::size_t i = 0; i < kDrawingColors.size(); ++i)
    EXPECT_TRUE(Same(c.PixelAt(static_cast<int>(i), 0), kBlack)) << i;
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(Same(c.PixelAt(i, 1), i == 2 ? kWhite : kBlack)) << i;
  EXPECT_TRUE(Same(c.PixelAt(11, 1), kWhite));  // the black background becomes white, to the last pixel
  ReverseColors(c);                             // a second pass turns the picture over again
  EXPECT_TRUE(Same(c.PixelAt(0, 0), kWhite) && Same(c.PixelAt(11, 1), kBlack));
  MemoryCanvas empty(0, 0);
  ReverseColors(empty);
}

TEST(BitmapExport, GraphDataFileNameReplacesTheExtension) {
  EXPECT_EQ(GraphDataFileName("x.y.bmp"), "x.y.gph");  // only the last extension
  EXPECT_EQ(GraphDataFileName("sp"), "spgph");         // no "." at all: appended to the whole name
  // A dot of a folder is no extension: the table stays beside the picture.
  EXPECT_EQ(GraphDataFileName("run.1\\pic"), "run.1\\picgph");
  EXPECT_EQ(GraphDataFileName("x.gph"), "x.gph.gph");  // a picture named like a table is not overwritten
}

class GraphDataTest : public testing::WorkspaceTest {
 protected:
  GraphDataTest() : WorkspaceTest("orv_graph_data_") {}
};

TEST_F(GraphDataTest, ColumnsFollowTheFittedDoublet) {
  Workspace& ws = *ws_;
  testing::FillSpectrum(ws.spectrum, 1000, {{300.0, 40000, 4.0}, {312.0, 20000, 4.0}}, 100, 0.1, nullptr);
  ws.fit = IntervalFitState{};
  std::tie(ws.fit.startChannel, ws.fit.endChannel, ws.fit.n, ws.fit.wInt) = std::tuple(285, 330, 2, 4.0);
  const double marks[] = {0, 300, 312};
  ASSERT_TRUE(FitInterval(ws, marks, 0));

  const std::string path = (dir_ / "fit.gph").string();
  ASSERT_TRUE(WriteGraphData(ws, path));
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 46u);
  for (std::size_t j = 0; j < lines.size(); ++j) {
    // Channel, counts, the fitted total and each peak on the background; without noise the total
    // matches the counts and the peaks add up to it over the background.
    std::vector<double> v;
    ASSERT_EQ(ParseNumberList(lines[j], v), 5) << lines[j];
    EXPECT_EQ(v[0], 285 + static_cast<double>(j));
    EXPECT_EQ(v[1], std::round(ws.spectrum.sp[285 + j]));
    EXPECT_NEAR(v[2], v[1], 0.01 * v[1] + 2) << lines[j];
    const double background = 100 + 0.1 * v[0];
    EXPECT_NEAR(v[3] + v[4] - background, v[2], 0.01 * v[2] + 3) << lines[j];
  }
}

TEST_F(GraphDataTest, BackgroundOnlyIntervalAndBadInput) {
  Workspace& ws = *ws_;
  for (int ch = 1; ch <= 100; ++ch) ws.spectrum.sp[ch] = 50;
  ws.fit = IntervalFitState{};
  std::tie(ws.fit.startChannel, ws.fit.endChannel, ws.fit.xScale, ws.fit.xOffset) =
      std::tuple(11, 21, 2.0 / 10, -32.0 / 10);
  ws.engine.params[1].value = 100;  // T0
  ws.engine.params[2].value = 10;   // T1: from -1 at the start to +1 at the end
  const std::string path = (dir_ / "bg.gph").string();
  ASSERT_TRUE(WriteGraphData(ws, path));
  std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines.front(), "    11      50      90");
  EXPECT_EQ(lines[5], "    16      50     100");
  EXPECT_EQ(lines.back(), "    21      50     110");

  // An interval reaching past the spectrum is written for the channels it holds.
  ws.fit.startChannel = kSpectrumCapacity - 1;
  ws.fit.endChannel = kSpectrumCapacity + 100;
  ASSERT_TRUE(WriteGraphData(ws, path));
  EXPECT_EQ(ReadLines(path).size(), 2u);

  // A folder that does not exist: refused with the reason.
  std::string error;
  EXPECT_FALSE(WriteGraphData(ws, (dir_ / "missing" / "x.gph").string(), &error));
  EXPECT_NE(error.find("I/O error"), std::string::npos) << error;
  // A peak count the engine has no records for.
  ws.fit.n = kMaxPeaks + 1;
  EXPECT_FALSE(WriteGraphData(ws, path, &error));
}

// Runs each test inside the workspace folder: the bitmaps go to the current working folder.
class BitmapCommandTest : public GraphDataTest {
 protected:
  void SetUp() override {
    GraphDataTest::SetUp();
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    GraphDataTest::TearDown();
  }
  fs::path previous_;
};

TEST_F(BitmapCommandTest, SpectrumBitmapAsksForANewFile) {
  Workspace& ws = *ws_;
  MemoryCanvas canvas(600, 424);
  FakePort port;
  port.AcceptNext();
  EXPECT_FALSE(SaveSpectrumBitmap(ws, port, canvas));  // no graph: nothing asked, nothing saved
  EXPECT_TRUE(port.shown.empty());

  ws.state.graphMode = 1;
  ASSERT_TRUE(SaveSpectrumBitmap(ws, port, canvas));
  ASSERT_TRUE(port.shown.size() == 1 && canvas.saved.size() == 1);
  EXPECT_EQ(fs::path(canvas.saved[0]), dir_ / "sp.bmp");
  EXPECT_FALSE(fs::exists(dir_ / "sp.gph"));  // the spectrum picture has no table

  // The file exists now: No to the overwrite question, or Cancel, saves nothing.
  port.AcceptNext();
  port.yesNoAnswers = {false};
  EXPECT_FALSE(SaveSpectrumBitmap(ws, port, canvas));
  EXPECT_EQ(port.questions.back(), "File sp.bmp already exists. Overwrite?");
  EXPECT_FALSE(SaveSpectrumBitmap(ws, port, canvas));
  EXPECT_EQ(canvas.saved.size(), 1u);

  // A picture that cannot be written is reported, not claimed as saved.
  canvas.refuse = true;
  port.answers.push_back(testing::TypeText("other.bmp"));
  EXPECT_FALSE(SaveSpectrumBitmap(ws, port, canvas));
  ASSERT_FALSE(port.messages.empty());
  EXPECT_NE(port.messages.back().find("other.bmp"), std::string::npos);
}

TEST_F(BitmapCommandTest, FitBitmapWritesPictureAndTable) {
  Workspace& ws = *ws_;
  for (int ch = 1; ch <= 100; ++ch) ws.spectrum.sp[ch] = 7;
  ws.fit = IntervalFitState{};
  std::tie(ws.fit.startChannel, ws.fit.endChannel) = std::tuple(40, 49);
  ws.engine.params[1].value = 7;
  MemoryCanvas canvas(4, 1);
  canvas.Pixel(1, 0, kDrawingColors[0]);
  canvas.Pixel(2, 0, kBlue);
  canvas.Pixel(3, 0, ColorFromInt(ws.state.colorTextBackground));

  // No to "Reverse the colors?": the picture stays as it is.
  FakePort port;
  port.AcceptNext();
  port.yesNoAnswers = {false};
  ASSERT_TRUE(SaveFitBitmap(ws, port, canvas));
  EXPECT_EQ(port.questions, (std::vector<std::string>{"Reverse the colors?"}));
  EXPECT_TRUE(Same(canvas.PixelAt(0, 0), kBlack));
  EXPECT_EQ(fs::path(canvas.saved.back()), dir_ / "a.bmp");
  EXPECT_EQ(ReadLines(dir_ / "a.gph").size(), 10u);

  // Yes: recoloured before saving, under the typed name, with its table beside it.
  port.answers.push_back(testing::TypeText("fit"));
  port.yesNoAnswers = {true};
  ASSERT_TRUE(SaveFitBitmap(ws, port, canvas));
  // Any ink prints black; the background and the text cells are paper.
  for (auto [x, colour] : {std::pair{0, kWhite}, {1, kBlack}, {2, kBlack}, {3, kWhite}})
    EXPECT_TRUE(Same(canvas.PixelAt(x, 0), colour)) << x;
  EXPECT_EQ(fs::path(canvas.saved.back()), dir_ / "fit");
  const std::vector<std::string> table = ReadLines(dir_ / "fitgph");
  ASSERT_EQ(table.size(), 10u);
  EXPECT_EQ(table[0], "    40       7       7");

  // Cancel at the name ends before the question; a refused picture writes no table.
  const std::size_t asked = port.questions.size();
  EXPECT_FALSE(SaveFitBitmap(ws, port, canvas));
  EXPECT_EQ(port.questions.size(), asked);
  canvas.refuse = true;
  port.answers.push_back(testing::TypeText("b.bmp"));
  port.yesNoAnswers = {false};
  EXPECT_FALSE(SaveFitBitmap(ws, port, canvas));
  EXPECT_FALSE(fs::exists(dir_ / "b.gph"));
}

}  // namespace
}  // namespace orv
