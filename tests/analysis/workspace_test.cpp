#include "analysis/workspace.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdio>
#include <memory>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "tests/support/text_file.h"
#include "ui/console_port.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

TEST(Workspace, ResetKeepsLoadTimeSettingsAndTheInstrumentWidth) {
  const auto dir = fs::temp_directory_path() / "orv_ws_def";
  fs::create_directories(dir);
  std::ofstream(dir / "orvant.def") << "Test detector\n4\n0\n76\n21.13\n2.5\n1.54\n";
  Workspace ws(dir.string());
  ws.state.covar = 0.05;  // set by the command file, not touched by a reset
  ws.state.resultCount = 12;
  ResetAnalysisState(ws);
  EXPECT_EQ(std::tuple(ws.definitionRead, ws.state.covar, ws.state.resultCount, ws.spectrum.width1),
            std::tuple(true, 0.05, 0, 2.5));
  EXPECT_DOUBLE_EQ(ws.state.kw0 + ws.state.kw1 * 4096, 6.0);
  EXPECT_DOUBLE_EQ(ws.state.kw0 + ws.state.kw1 * 1, 2.5);
  fs::remove_all(dir);
}

TEST(Workspace, OutputFileLinesAreOnDiskAtOnce) {
  const auto dir = fs::temp_directory_path() / "orv_ws_out";
  fs::create_directories(dir);
  Workspace ws(dir.string());
  EXPECT_TRUE(WriteOutputLine(ws, "dropped: no file open"));
  std::ostringstream messages;
  ConsolePort port(messages);
  ASSERT_TRUE(CreateOutputFile(ws, port));  // a.res in the start folder
  const std::string path = (dir / "a.res").string();
  EXPECT_EQ(ws.output.path(), path);
  ASSERT_TRUE(WriteOutputLine(ws, "first") && WriteOutputLine(ws, "second"));
  // Read while the file is still open: nothing waits in a buffer.
  EXPECT_EQ(testing::ReadLines(path), (std::vector<std::string>{"first", "second"}));
  ws.output.Close();
  EXPECT_FALSE(ws.output.WriteLine("after close"));
  // A second run in the same folder adds to the file: the first run's lines stay.
  ASSERT_TRUE(CreateOutputFile(ws, port));
  ASSERT_TRUE(WriteOutputLine(ws, "third"));
  ws.output.Close();
  EXPECT_EQ(testing::ReadLines(path), (std::vector<std::string>{"first", "second", "third"}));
  // A line that does not reach the disk is remembered, so that the run can say its output is lost.
  if (fs::exists("/dev/full")) {
    ASSERT_TRUE(ws.output.Append("/dev/full"));
    EXPECT_FALSE(WriteOutputLine(ws, "lost"));
    ws.output.Close();
    EXPECT_TRUE(ws.output.writeFailed());
  }
  EXPECT_FALSE(ws.output.Create("/nonexistent/dir/a.res"));
  EXPECT_NE(ws.output.lastError().find("I/O error"), std::string::npos);
  ws.state.outputFileName = "/nonexistent/dir/a.res";
  EXPECT_FALSE(CreateOutputFile(ws, port));
  EXPECT_EQ(messages.str(), "Output file failure: possibly shared or read only\n");
  fs::remove_all(dir);
}

// A log reaches the disk whole lines at a time as each ends: a killed run keeps every line it logged and
// leaves no half line.
TEST(Workspace, LogLinesAreOnDiskAtOnce) {
  const auto path = fs::temp_directory_path() / ("orv_log_" + std::to_string(::getpid()));
  auto buffer = std::make_unique<LineFlushingBuffer>(std::fopen(path.string().c_str(), "w"));
  std::ostream log(buffer.get());
  log << "dialog: Input the Spectrum -> ok\n"
      << "status: " << 42;
  auto onDisk = [&] { return testing::ReadText(path); };
  EXPECT_EQ(onDisk(), "dialog: Input the Spectrum -> ok\n");
  log << " | \n";
  EXPECT_EQ(onDisk(), "dialog: Input the Spectrum -> ok\nstatus: 42 | \n");
  EXPECT_FALSE(buffer->failed());
  buffer.reset();
  fs::remove(path);
  if (!fs::exists("/dev/full")) return;
  LineFlushingBuffer full(std::fopen("/dev/full", "w"));
  std::ostream lost(&full);
  lost << "a line\n";
  EXPECT_TRUE(full.failed());
}

}  // namespace
}  // namespace orv
