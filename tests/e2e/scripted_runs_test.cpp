#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "analysis/calibration.h"
#include "analysis/results.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"
#include "ui/commands.h"
#include "ui/script/script_port.h"

namespace orv {
namespace {

class ScriptedRun : public testing::WorkspaceTest {
 protected:
  ScriptedRun() : WorkspaceTest("orv_scripted_") {}
  // Runs `script` in a fresh program on the fixture's workspace; returns the exit status.
  int Run(const std::string& script) {
    log_.str("");
    ScriptPort port(script, log_);
    Program program(*ws_, port);
    const int rc = RunScript(program, port);
    error_ = port.error();
    return rc;
  }
  std::vector<std::string> Output() const { return testing::ReadLines(dir_ / "a.res"); }

  std::ostringstream log_;
  std::string error_;
};

std::string AnalyseTestSpectrum(int entry) {
  return "menu &Test\ndialog Set Test Spectra\nradio " + std::to_string(entry) +
         "\nok\nmenu Automatic Spectrum Marking\ndialog Find the Peaks\nok\nmenu Spectrum  Fit\n";
}

// A field of `width` characters holding a number right-aligned, read back.
double Field(const std::string& line, std::size_t& at, std::size_t width) {
  const double v = std::stod(line.substr(at, width));
  EXPECT_EQ(line[at], ' ') << "a field runs into the one before: " << line;
  at += width;
  return v;
}

TEST_F(ScriptedRun, SummaryTablesOfEveryTestSpectrum) {
  for (int entry = 1; entry <= 5; ++entry) {
    ASSERT_EQ(Run(AnalyseTestSpectrum(entry) + "menu Save the Fit Results\ndialog\nok\n"), 0) << log_.str();
    // Each run appends to a.res: this run's table is the last one, after the tables of the runs before.
    const std::vector<std::string> out = Output();
    const std::string title = "               SUMMARY TABLE.";
    EXPECT_EQ(std::count(out.begin(), out.end(), title), entry);
    const auto last = std::find(out.rbegin(), out.rend(), title);
    ASSERT_NE(last, out.rend()) << "entry " << entry;
    const auto head = std::prev(last.base());
    const int rows = std::stoi(head[2].substr(19, 3));
    ASSERT_GT(rows, 0);
    EXPECT_EQ(ws_->state.resultCount, 0);  // saved rows are gone: written only once
    EXPECT_FALSE(ws_->state.resultsUnsaved);
    // Without a calibration the energy is the channel and the intensity the area.
    for (int k = 0; k < rows; ++k) {
      const std::string& values = head[10 + 3 * k];
      const std::string& errors = head[11 + 3 * k];
      EXPECT_EQ(head[12 + 3 * k], "");
      ASSERT_EQ(values.size(), 72u) << values;
      ASSERT_GE(errors.size(), 72u) << errors;  // a value too wide for its field pushes the rest right
      std::size_t at = 0;
      const double channel = Field(values, at, 9);
      EXPECT_EQ(Field(values, at, 9), channel);
      const double area = Field(values, at, 9);
      EXPECT_EQ(Field(values, at, 14), area);
      EXPECT_GT(Field(values, at, 9), 0.0);  // width
      const std::string norm = values.substr(at + 2, 10);
      EXPECT_EQ(norm.size() - norm.find('.') - 1, std::stod(norm) < 0.01 ? 3u : 2u)
          << values;  // areas are signed
      at = 0;
      EXPECT_GE(Field(errors, at, 9), 0.0);
    }
  }
}

TEST_F(ScriptedRun, CalibrationSectionsReadBack) {
  ASSERT_EQ(Run("menu Save Energy Calibration\nmenu Save Efficiency Calibration\n"), 0) << log_.str();
  EXPECT_NE(log_.str().find("message: No calibration data"), std::string::npos);

  CalibrationTables& cal = ws_->calibration;
  AnalysisState& st = ws_->state;
  const double energy[3][3] = {{100.25, 59.54, 0.02}, {1500.5, 661.66, 0.05}, {3000.75, 1332.49, 0.1}};
  const double eff[2][3] = {{122.0, 0.0123456, 0.0001}, {1332.0, 0.0012345, 0.00002}};
  // A program already running: the tables are filled as the calibration commands would leave them.
  ScriptPort port("menu Save Energy Calibration\nmenu Save Efficiency Calibration\n", log_);
  Program program(*ws_, port);
  port.AllowPresetDialog();
  ASSERT_TRUE(ProgramEntry(program));
  for (int i = 0; i < 3; ++i) cal.energyItems[i + 1] = {energy[i][1], energy[i][0], energy[i][2]};
  for (int i = 0; i < 2; ++i) cal.efficiencyItems[i + 1] = {eff[i][1], eff[i][0], eff[i][2]};
  st.energyItemCount = 3;
  st.efficiencyItemCount = 2;
  ScriptPort::Line l;
  while (port.NextCommand(l)) RunCommand(program, l.rest);
  ASSERT_TRUE(ExitCommand(program));

  // The sections are read back by the calibration entry's own reader: comment lines are skipped.
  const std::string all = testing::ReadText(dir_ / "a.res");
  const auto e0 = all.find("Energy calibration data.");
  const auto f0 = all.find("Efficiency calibration data.");
  ASSERT_NE(e0, std::string::npos);
  ASSERT_NE(f0, std::string::npos);
  CalibrationList items;
  std::istringstream energySection(all.substr(e0, f0 - e0 - 22));
  ASSERT_EQ(ReadCalibrationItems(energySection, items), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(items[i + 1].argument, energy[i][0], 0.005);
    EXPECT_NEAR(items[i + 1].value, energy[i][1], 0.005);
  }
  std::istringstream efficiencySection(all.substr(f0, all.find("ORVANT FINISH") - f0));
  ASSERT_EQ(ReadCalibrationItems(efficiencySection, items), 2);
  EXPECT_NEAR(items[1].value, 0.0123456, 1e-7);
  EXPECT_NEAR(items[2].error, 0.00002, 1e-7);
}

TEST_F(ScriptedRun, IniFileRoundTripAndExitQuestions) {
  // Settings changed through the dialogs as a user would, saved, then restored by a new run.
  const std::string setup =
      "menu &Info about the Spectrum\ndialog Setting the spectrum data\ncell 1 1 1\ncell 2 1 4096\n"
      "cell 3 1 120\ncell 4 1 3900\ncell 10 1 2.5\ncell 11 1 5.25\nok\n"
      "menu Save the Init File\n";
  ASSERT_EQ(Run(setup), 0) << log_.str();
  const TSpectrum saved = ws_->spectrum;
  EXPECT_EQ(saved.b1, 120);
  EXPECT_EQ(saved.width2, 5.25);
  ResetAnalysisState(*ws_);
  EXPECT_NE(ws_->spectrum.b1, 120);
  ASSERT_EQ(Run("menu Enter the Ini File\nfile " + (dir_ / "a.ini").string() + "\n"), 0) << log_.str();
  EXPECT_EQ(ws_->spectrum.b1, 120);
  EXPECT_EQ(ws_->spectrum.b2, 3900);
  EXPECT_DOUBLE_EQ(ws_->spectrum.width1, saved.width1);
  EXPECT_DOUBLE_EQ(ws_->spectrum.width2, 5.25);
  EXPECT_EQ(ws_->spectrum.dback, saved.dback);

  // Unsaved results: No keeps the program running, Yes ends it; a stray line after the end stops.
  ASSERT_EQ(Run(AnalyseTestSpectrum(3) + "menu Exit\nno\nmenu Exit\nyes\n"), 0) << log_.str();
  EXPECT_NE(log_.str().find("question: Results not saved. Quit? -> no"), std::string::npos);
  EXPECT_NE(log_.str().find("question: Results not saved. Quit? -> yes\n"), std::string::npos);
  ASSERT_EQ(Run(AnalyseTestSpectrum(3) + "menu Exit\nyes\nmenu Clear the Form\n"), 1);
  EXPECT_NE(error_.find("lines after \"&Exit\""), std::string::npos);
}

TEST_F(ScriptedRun, CommandsDisabledForTheRun) {
  for (const char* caption : {"Fit Loop", "Fit for Graphs", "Assign the Spectrum Name",
                              "Input the Spectrum Names", "Draw Peak Indicator", "Show Sp.File Names"}) {
    EXPECT_EQ(Run(std::string("menu ") + caption + "\n"), 1);
    EXPECT_NE(error_.find("is disabled"), std::string::npos) << caption;
  }
  // Every other command can be started from a script: it runs or asks.
  for (const Command& c : CommandTable()) {
    if (!c.run || DisabledAtStartUp().count(NormaliseCaption(c.caption)) > 0) continue;
    Run("menu " + c.caption + "\n");
    EXPECT_EQ(error_.find("no menu command"), std::string::npos) << c.caption;
    EXPECT_EQ(error_.find("is disabled"), std::string::npos) << c.caption;
  }
}

// As a user would: raa marked automatically and fitted, then auto-calibration. The Eu-152 sample
// does not fit a Ra-226 spectrum and sets nothing; the Ra-226 sample gives raa's true calibration
// (0.70 keV per channel, 0.35 keV at channel 0), put in force when ticked.
TEST_F(ScriptedRun, AutoCalibrationOfAnAutomaticMarking) {
  const std::string calibrate = "menu Auto-Calibration\ndialog Auto-calibration\nradio ";
  ASSERT_EQ(Run(AnalyseTestSpectrum(1) + calibrate + "2\nok\n"), 0) << log_.str() << error_;
  EXPECT_NE(log_.str().find("message: No consistent match with the Eu-152 lines"), std::string::npos)
      << log_.str();
  const std::vector<std::string> first = Output();
  EXPECT_NE(std::find(first.begin(), first.end(), "No consistent match with the Eu-152 lines"), first.end());
  EXPECT_FALSE(ws_->state.energyCalibrated);

  ASSERT_EQ(Run(calibrate + "1\nok\ndialog Auto-calibration: Ra-226\nbox on\nok\n"), 0)
      << log_.str() << error_;
  ASSERT_TRUE(ws_->state.energyCalibrated);
  for (double channel : {265.5143, 502.2571, 3148.3})
    EXPECT_NEAR(ApplyCalibrations(ws_->state, ws_->calibration, channel, 0, 0, 0).energy,
                0.35 + 0.70 * channel, 0.1);
  const std::vector<std::string> out = Output();
  const auto pars = std::find_if(out.begin(), out.end(),
                                 [](const std::string& l) { return l.rfind("Short calibr pars ", 0) == 0; });
  ASSERT_NE(pars, out.end());
  EXPECT_NEAR(std::stod(pars->substr(18, 9)), 0.70, 2e-4);
}

}  // namespace
}  // namespace orv
