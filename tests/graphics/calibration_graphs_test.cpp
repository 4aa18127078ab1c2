#include "graphics/calibration_graphs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::FakePort;

std::uint32_t Packed(Rgb c) {
  return (static_cast<std::uint32_t>(c.red) << 16) | (static_cast<std::uint32_t>(c.green) << 8) |
         static_cast<std::uint32_t>(c.blue);
}

std::uint32_t At(const DialogRequest& r, int x, int y) {
  return r.image->pixels.at(static_cast<std::size_t>(y) * r.image->width + x);
}

bool MarkerAt(const DialogRequest& r, int x, int y) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (At(r, x + dx, y + dy) != Packed(kCalibrationPointColor)) return false;
  return true;
}

std::string LabelText(const DialogRequest& r, int index) {
  for (const DialogLabel& l : r.labels)
    if (l.index == index) return l.text;
  return "";
}

class CalibrationGraphs : public ::testing::Test {
 protected:
  CalibrationGraphs() : ws(std::filesystem::temp_directory_path().string()) { ResetAnalysisState(ws); }
  // Items as {value, argument, error}.
  void SetEnergy(std::vector<CalibrationItem> items, int mode) {
    ws.state.energyItemCount = static_cast<int>(items.size());
    std::copy(items.begin(), items.end(), ws.calibration.energyItems.begin() + 1);
    ws.state.energyCalibrated = true;
    ws.state.calibrationMode = mode;
    if (mode == 1) FitLinearEnergyCalibration(ws.state, ws.calibration);
  }
  Workspace ws;
  FakePort port;
};

TEST_F(CalibrationGraphs, LinearCalibrationPointsAndCurve) {
  SetEnergy({{50, 100, 0.1}, {100, 200, 0.1}}, 0);
  ws.state.energyCalibrated = false;  // out of force: only said so
  EXPECT_FALSE(GraphEnergyCalibration(ws, port, ""));
  EXPECT_FALSE(GraphEfficiencyCalibration(ws, port));
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{"No energy calibration set up", "No efficiency calibration set up"}));
  EXPECT_TRUE(port.shown.empty());
  SetEnergy({{50, 100, 0.1}, {100, 200, 0.1}, {150, 300, 0.1}}, 1);
  port.AcceptNext();
  EXPECT_TRUE(GraphEnergyCalibration(ws, port, "(auto)"));
  ASSERT_EQ(port.shown.size(), 1u);
  const DialogRequest& r = port.shown[0];
  // x = (c - 100) * 180 / 200 + 7, y = 203 - (E - 50) / 100 * 190.
  EXPECT_TRUE(MarkerAt(r, 7, 203));
  EXPECT_TRUE(MarkerAt(r, 97, 108));
  EXPECT_TRUE(MarkerAt(r, 187, 13));
  // The curve joins the points: halfway between the first two it passes y 155.5.
  const std::uint32_t curve = Packed(kCalibrationCurveColor);
  EXPECT_TRUE(At(r, 52, 155) == curve || At(r, 52, 156) == curve);
  EXPECT_EQ(r.textArea->lines.size(), 3u);

  // A wild curve far outside the range still draws, clipped.
  ws.calibration.linearSlope = 1e300;
  EXPECT_TRUE(MarkerAt(BuildEnergyCalibrationGraph(ws, ""), 97, 108));
}

TEST_F(CalibrationGraphs, ChiSquarePerDegreeOfFreedom) {
  // Two items on a line shifted by 0.001: the item with error 0 weighs as error 0.000001, and two
  // items leave one degree of freedom.
  SetEnergy({{50, 100, 0.5}, {100, 200, 0}}, 1);
  ws.calibration.linearIntercept += 0.001;
  EXPECT_NEAR(EnergyCalibrationChiSquare(ws.state, ws.calibration), 1e6 + 4e-6, 1e-3);
  EXPECT_EQ(LabelText(BuildEnergyCalibrationGraph(ws, ""), 2), "Chi^2/fd=1000000.00");
  // Four items: divided by two.
  SetEnergy({{50, 100, 1}, {60, 200, 1}, {70, 300, 1}, {80, 400, 1}}, 1);
  ws.calibration.linearIntercept += 1;
  EXPECT_NEAR(EnergyCalibrationChiSquare(ws.state, ws.calibration), 2.0, 1e-9);
}

TEST_F(CalibrationGraphs, EqualArgumentsDrawAtFirstColumn) {
  SetEnergy({{50, 100, 0.1}, {60, 100, 0.1}}, 0);
  const DialogRequest r = BuildEnergyCalibrationGraph(ws, "");
  EXPECT_TRUE(MarkerAt(r, 7, 203) && MarkerAt(r, 7, 13));

  ws.state.efficiencyCalibrated = true;
  ws.state.efficiencyItemCount = 2;
  ws.calibration.efficiencyItems[1] = {0.2, 500, 0.01};
  ws.calibration.efficiencyItems[2] = {0.4, 500, 0.01};
  const DialogRequest e = BuildEfficiencyCalibrationGraph(ws);
  EXPECT_TRUE(MarkerAt(e, 7, 203) && MarkerAt(e, 7, 13));
  // Every curve sample lies in the first column as well.
  for (int x = 10; x < 200; ++x)
    for (int y = 0; y < 215; ++y) ASSERT_NE(At(e, x, y), Packed(kCalibrationCurveColor));
}

TEST_F(CalibrationGraphs, FlatPeakModelOnBaseLine) {
  ws.model().samples.fill(0.25);
  const DialogRequest r = BuildPeakModelGraph(ws);
  const std::uint32_t magenta = Packed(kPeakModelColor);
  // The dotted verticals (x 7, 70, 133, 196) are drawn last, over the samples.
  for (int x = 5; x <= 197; ++x) {
    ASSERT_TRUE((x - 7) % 63 == 0 || At(r, x, 203) == magenta) << x;
    ASSERT_NE(At(r, x, 150), magenta);
  }
}

}  // namespace
}  // namespace orv
