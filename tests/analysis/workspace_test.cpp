#include "analysis/workspace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ui/console_port.h"

namespace orv {
namespace {

TEST(Workspace, StartUpDefaults) {
  Workspace ws(std::filesystem::temp_directory_path() / "orv_no_such_dir");
  ResetAnalysisState(ws);
  const auto& s = ws.spectrum;
  const auto& st = ws.state;
  EXPECT_EQ(s.a1, 1);
  EXPECT_EQ(s.a2, 4096);
  EXPECT_EQ(s.b1, 2);
  EXPECT_EQ(s.b2, 4095);
  EXPECT_EQ(s.dback, -3);
  EXPECT_EQ(s.fileType, 1);
  EXPECT_EQ(s.width1, 4.0);
  EXPECT_EQ(s.width2, 6.0);
  EXPECT_EQ(s.deltaWidth, 3.5);
  EXPECT_DOUBLE_EQ(st.kw1, 2.0 / 4095);
  EXPECT_DOUBLE_EQ(st.kw0, 4.0 - 2.0 / 4095);
  EXPECT_EQ(st.maxInterval, 256);
  EXPECT_EQ(st.iterationLimit, 7);
  EXPECT_EQ(st.fitStep, 0.99);
  EXPECT_EQ(st.fitDamper, 0.01);
  EXPECT_EQ(st.positionDeviation, 5.0);
  EXPECT_EQ(st.covar, 0.01);
  EXPECT_EQ(st.chibc, 1.25);
  EXPECT_EQ(st.blunderOrder, 10.0);
  EXPECT_EQ(st.smallStatistics, 7.0);
  EXPECT_EQ(st.compressionFactor, 2);
  EXPECT_EQ(st.nameListFile, "spfn.tab");
  EXPECT_EQ(st.loopTableFile, "orvant.tab");
  EXPECT_FALSE(st.resultsUnsaved);
  EXPECT_FALSE(ws.definitionRead);
}

TEST(Workspace, ResetKeepsLoadTimeSettingsAndTheInstrumentWidth) {
  auto dir = std::filesystem::temp_directory_path() / "orv_ws_def";
  std::filesystem::create_directories(dir);
  {
    std::ofstream f(dir / "orvant.def");
    f << "Test detector\n4\n0\n76\n21.13\n2.5\n1.54\n";
  }
  Workspace ws(dir.string());
  ws.state.covar = 0.05;  // set by the command file, not touched by a reset
  ws.state.resultCount = 12;
  ResetAnalysisState(ws);
  EXPECT_TRUE(ws.definitionRead);
  EXPECT_EQ(ws.state.covar, 0.05);
  EXPECT_EQ(ws.state.resultCount, 0);
  EXPECT_EQ(ws.spectrum.width1, 2.5);
  EXPECT_DOUBLE_EQ(ws.state.kw0 + ws.state.kw1 * 4096, 6.0);
  EXPECT_DOUBLE_EQ(ws.state.kw0 + ws.state.kw1 * 1, 2.5);
  std::filesystem::remove_all(dir);
}

TEST(Workspace, OutputLinesAreOnDiskAtOnce) {
  auto path = std::filesystem::temp_directory_path() / "orv_output_test.res";
  Workspace ws;
  EXPECT_TRUE(WriteOutputLine(ws, "dropped: no file open"));
  ASSERT_TRUE(ws.output.Create(path.string()));
  ASSERT_TRUE(WriteOutputLine(ws, "first"));
  ASSERT_TRUE(WriteOutputLine(ws, "second"));
  {
    std::ifstream in(path);  // read while the file is still open: nothing waits in a buffer
    std::string a, b;
    std::getline(in, a);
    std::getline(in, b);
    EXPECT_EQ(a, "first");
    EXPECT_EQ(b, "second");
  }
  ws.output.Close();
  EXPECT_FALSE(ws.output.WriteLine("after close"));
  EXPECT_FALSE(ws.output.Create("/nonexistent/dir/a.res"));
  EXPECT_NE(ws.output.lastError().find("I/O error"), std::string::npos);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

TEST(Workspace, OutputFileInTheStartDirectory) {
  auto dir = std::filesystem::temp_directory_path() / "orv_ws_out";
  std::filesystem::create_directories(dir);
  Workspace ws(dir.string());
  std::ostringstream messages;
  ConsolePort port(messages);
  ASSERT_TRUE(CreateOutputFile(ws, port));
  EXPECT_EQ(ws.output.path(), (dir / "a.res").string());
  ws.state.outputFileName = "/nonexistent/dir/a.res";
  EXPECT_FALSE(CreateOutputFile(ws, port));
  EXPECT_EQ(messages.str(), "Output file failure: possibly shared or read only\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orv
