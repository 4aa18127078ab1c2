#include "analysis/file_calibration.h"

#include <gtest/gtest.h>

#include <fstream>

#include "analysis/command_file.h"
#include "analysis/fit_loop.h"
#include "analysis/spectrum_export.h"
#include "analysis/spectrum_input.h"
#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"
#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

class FileCalibrationTest : public testing::WorkspaceTest {
 protected:
  FileCalibrationTest() : WorkspaceTest("orv_filecal_") {}
  std::string Write(const std::string& name, const std::string& text) {
    const auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  // A 101-channel SPE file with a peak, 250 s live time and the given $MCA_CAL coefficients.
  std::string Spe(const std::string& name, const std::string& calibration) {
    std::string text = "$MEAS_TIM:\n250 260\n$DATA:\n0 100\n";
    for (int i = 0; i <= 100; ++i) text += std::to_string(20 + (i == 50 ? 900 : i % 5)) + "\n";
    return Write(name, text + "$MCA_CAL:\n3\n" + calibration + " keV\n");
  }
  bool Read(const std::string& file, int type) {
    ws_->spectrum.fileName = file;
    ws_->spectrum.fileType = type;
    SetInputBounds(*ws_, false);
    return FinishSpectrumInput(*ws_, port_);
  }
  double Energy(double channel) { return EnergyOfChannel(ws_->state, ws_->calibration, channel); }
  testing::FakePort port_;
};

TEST_F(FileCalibrationTest, PutInForceByTheReadingAndOutByTheNext) {
  ASSERT_TRUE(ws_->output.Create((dir_ / "a.res").string()));
  const AnalysisState& st = ws_->state;
  // A straight line: linear mode, two items at the spectrum's ends. File channel 0 is our channel 1.
  const std::string line = Spe("line.spe", "10 0.5 0");
  ASSERT_TRUE(Read(line, kIaeaSpeType));
  EXPECT_TRUE(EnergyCalibrationInForce(st));
  EXPECT_EQ(std::tuple(st.calibrationMode, st.energyItemCount), std::tuple(1, 2));
  EXPECT_EQ(std::tuple(ws_->calibration.energyItems[1].argument, ws_->calibration.energyItems[2].argument),
            std::tuple(1.0, 101.0));
  EXPECT_NEAR(Energy(51), 10 + 0.5 * 50, 1e-9);
  EXPECT_NEAR(ApplyCalibrations(st, ws_->calibration, 51, 0.2, 100, 10).energy, 35.0, 1e-9);

  // A parabola: non-linear mode, an item every 1/16 of the spectrum.
  const std::string curve = Spe("curve.spe", "10 0.5 0.001");
  ASSERT_TRUE(Read(curve, kIaeaSpeType));
  EXPECT_EQ(std::tuple(st.calibrationMode, st.energyItemCount), std::tuple(0, 17));
  for (double c : {1.0, 7.25, 51.0, 101.0})
    EXPECT_NEAR(Energy(c), 10 + 0.5 * (c - 1) + 0.001 * (c - 1) * (c - 1), 1e-3);

  // A file without a calibration takes the file's calibration out of force.
  const std::string plain = Write("plain.txt", "1 2 3 40 3 2 1\n");
  ASSERT_TRUE(Read(plain, 3));
  EXPECT_FALSE(st.energyCalibrated);

  // A calibration the user entered or changed since stays in force.
  ASSERT_TRUE(Read(line, kIaeaSpeType));
  const std::string ini = Write("cal.ini", "EDENC\n2 1\n1 10 0.1\n101 60 0.1\n");
  ReadCommandFile(*ws_, port_, ini);
  ASSERT_TRUE(Read(plain, 3));
  EXPECT_TRUE(EnergyCalibrationInForce(st));
  EXPECT_NEAR(Energy(51), 35.0, 1e-9);

  EXPECT_EQ(ws_->spectrum.measurement.liveTime, 0.0);  // the text file knows no times
  // The output file tells the times right after the read-in note, then where the calibration came from.
  const std::string res = testing::ReadText(dir_ / "a.res");
  EXPECT_NE(
      res.find(line + " Spectrum read in. \nLive time = 250 s  Real time = 260 s\nEnergy calibration of " +
               line + " in force: E(ch) = 9.5 + 0.5*ch (linear)\n"),
      std::string::npos)
      << res;
  EXPECT_NE(res.find("Energy calibration of " + curve + " out of force\n"), std::string::npos) << res;

  // The command file keeps the type code in its IS line and reads the file back by it.
  ASSERT_TRUE(Read(curve, kIaeaSpeType));
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  const auto ini2 = testing::ReadLines(dir_ / "a.ini");
  ASSERT_GT(ini2.size(), 4u);
  EXPECT_EQ(ini2[3], "    1     101  5");
  ASSERT_TRUE(Read(plain, 3));
  ReadCommandFile(*ws_, port_, (dir_ / "a.ini").string());
  EXPECT_EQ(std::tuple(ws_->spectrum.fileType, ws_->spectrum.a2, ws_->spectrum.measurement.liveTime),
            std::tuple(kIaeaSpeType, 101, 250.0));
}

TEST_F(FileCalibrationTest, RefusedFileLeavesSpectrumAndCalibration) {
  const std::string line = Spe("line.spe", "10 0.5 0");
  ASSERT_TRUE(Read(line, kIaeaSpeType));
  const std::string bad = Write("bad.spe", "$DATA:\n0 5\n1 2 3\n");
  EXPECT_FALSE(Read(bad, kIaeaSpeType));
  EXPECT_EQ(ws_->state.reportLines[0], "++++ Error, wrong reading");
  EXPECT_EQ(port_.messages.back(), "Error, " + bad + ": $DATA: 6 channels declared, 3 counts found");
  EXPECT_EQ(std::tuple(ws_->spectrum.a2, ws_->spectrum.sp[51], ws_->spectrum.measurement.liveTime),
            std::tuple(101, 920.0, 250.0));
  EXPECT_TRUE(EnergyCalibrationInForce(ws_->state));
}

TEST_F(FileCalibrationTest, WriteTheSpectrumReadsBackTheSame) {
  const std::string curve = Spe("curve.spe", "10 0.5 0.001");
  ASSERT_TRUE(Read(curve, kIaeaSpeType));
  const TSpectrum original = ws_->spectrum;
  for (int format : {1, 2}) {
    const std::string target = (dir_ / (format == 1 ? "out" : "out.n42")).string();
    port_.answers.push_back([&](DialogRequest& r) {
      EXPECT_EQ(r.caption, "Write the Spectrum");
      // The spectrum's own name as SPE, never the file it came from.
      if (format == 1) {
        EXPECT_EQ(r.edit->text, (dir_ / "curve_orvant.spe").string());
      }
      r.edit->text = target;
      r.radio1->chosen = format;
      return true;
    });
    ASSERT_TRUE(WriteSpectrumCommand(*ws_, port_));
    const std::string written = format == 1 ? target + ".spe" : target;  // the format's extension added
    EXPECT_EQ(DetectSpectrumFormat(written).type, format == 1 ? kIaeaSpeType : kN42Type);
    ASSERT_TRUE(Read(written, DetectSpectrumFormat(written).type));
    // The writers' exactness is their own tests'; here: the spectrum in hand, its times and its
    // calibration in force went out.
    const TSpectrum& back = ws_->spectrum;
    EXPECT_EQ(std::tuple(back.a2, back.sp[51], back.measurement.liveTime, back.measurement.realTime),
              std::tuple(original.a2, original.sp[51], 250.0, 260.0));
    EXPECT_NEAR(Energy(51), 10 + 0.5 * 50 + 0.001 * 50 * 50, 1e-3);
  }
  // A user's straight line goes out as that line.
  ReadCommandFile(*ws_, port_, Write("cal.ini", "EDENC\n2 1\n1 10 0.1\n101 60 0.1\n"));
  const std::vector<double> p = EnergyPolynomial(ws_->state, ws_->calibration, ws_->fileCalibration);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_NEAR(formats::EvaluatePolynomial(p, 51), 35.0, 1e-9);
  // Cancel writes nothing; an existing file is kept when the user says no.
  port_.answers.push_back([](DialogRequest&) { return false; });
  EXPECT_FALSE(WriteSpectrumCommand(*ws_, port_));
  port_.yes = false;
  port_.answers.push_back([&](DialogRequest& r) {
    r.edit->text = curve;
    return true;
  });
  EXPECT_FALSE(WriteSpectrumCommand(*ws_, port_));
  EXPECT_EQ(port_.questions.back(), "File " + curve + " already exists. Overwrite?");
}

TEST_F(FileCalibrationTest, InputDialogPresetsTheFormatAndLoopIgnoresFileCalibrations) {
  const std::string mca =
      Write("a.dat", "<<PMCA SPECTRUM>>\nLIVE_TIME - 5\n<<DATA>>\n1\n2\n30\n2\n1\n<<END>>\n");
  port_.files.push_back(mca);
  port_.AcceptNext();
  ASSERT_TRUE(InputSpectrumCommand(*ws_, port_));
  ASSERT_FALSE(port_.shown.empty());
  EXPECT_EQ(port_.shown.back().radio1->items.size(), 9u);
  EXPECT_EQ(port_.shown.back().radio1->chosen, kAmptekMcaType);
  EXPECT_EQ(ws_->spectrum.fileType, kAmptekMcaType);
  EXPECT_NE(port_.fileRequests.back().filter.find("MCA(*.mca)|*.mca"), std::string::npos);
  // The loop reads with the calibration in force at its start: none.
  const std::string spe = Spe("line.spe", "10 0.5 0");
  ws_->state.energyCalibrated = false;
  ws_->marking.peakCount = 1;
  ws_->marking.intervalCount = 1;
  ws_->marking.peakList[1] = 51;
  ws_->marking.intervalTable[1] = {45, 57, 1, 1};
  ws_->names.names[1] = spe;
  ws_->state.nameCount = 1;
  ws_->spectrum.fileType = kIaeaSpeType;
  const FitLoopOutcome out = FitLoopCommand(*ws_, port_);
  EXPECT_TRUE(out.ran);
  EXPECT_EQ(out.summary.failed, 0);
  EXPECT_FALSE(ws_->state.energyCalibrated);
  EXPECT_EQ(ws_->spectrum.measurement.liveTime, 250.0);  // the loop's last spectrum is kept
}

}  // namespace
}  // namespace orv
