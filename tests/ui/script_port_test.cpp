#include "ui/script/script_port.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "core/dialog.h"
#include "tests/support/every_control_dialog.h"

namespace orv {
namespace {

TEST(ScriptPort, AnswersEveryControlOfADialog) {
  std::ostringstream log;
  ScriptPort port(
      "# answers\n"
      "dialog Fitting\n  radio 3\n  radio2 1\n  check 2 on\n  check \"Skip the header\" on\n  combo 2\n"
      "  select 2\n  edit new name.res\n  text first\n  text second\n  cell 2 1 0,5\n  box on\n"
      "  save\n  save\n  help\nok\n",
      log);
  DialogRequest r = testing::EveryControlDialog();
  int saves = 0;
  r.onSave = [&](const DialogRequest&) { ++saves; };
  ASSERT_TRUE(port.ShowDialog(r)) << log.str();
  EXPECT_EQ(std::tuple(r.radio1->chosen, r.radio2->chosen, r.combo->chosen, r.listBox->selected),
            std::tuple(3, 1, 2, 2));
  EXPECT_EQ(std::tuple(r.checkList->checked, r.edit->text, r.textArea->lines, r.checkBox->checked),
            std::tuple(std::vector<bool>{true, true}, "new name.res",
                       std::vector<std::string>{"first", "second"}, true));
  EXPECT_EQ(saves, 1);  // Save writes once, however often it is pressed
  int ok = 1;
  EXPECT_EQ(std::pair(ReadGridValue(r, 1, 0, ok), ReadGridValue(r, 0, 0, ok)), std::pair(0.5, 4.0));
  EXPECT_EQ(ok, 1);
  EXPECT_NE(log.str().find("dialog: Fitting data -> ok"), std::string::npos);
}

TEST(ScriptPort, QuestionsMessagesAndFiles) {
  std::ostringstream log;
  ScriptPort port("yes\ncancel\nfile data/x.spe\ncancel\ndialog\ncancel\n", log);
  EXPECT_TRUE(port.AskYesNo("Results not saved. Quit?"));
  EXPECT_FALSE(port.AskOkCancel("Previous fit results not saved"));
  EXPECT_EQ(port.ChooseFileToOpen({}).value_or(""), "data/x.spe");
  EXPECT_FALSE(port.ChooseFileToOpen({}).has_value());
  DialogRequest r = PrepareDialog("Any", 0, 600, 420);
  EXPECT_FALSE(port.ShowDialog(r));
  port.ShowMessage("Poor data scale, max < 1");
  port.ShowStatus(" Spectrum read in. ", "");
  EXPECT_FALSE(port.failed());
  for (const char* line : {"question: Results not saved. Quit? -> yes", "message: Poor data scale, max < 1",
                           "status:  Spectrum read in.  | "})
    EXPECT_NE(log.str().find(line), std::string::npos) << line;
}

TEST(ScriptPort, UnanswerableRequestStopsWithItsLine) {
  struct Case {
    const char* script;
    const char* expected;
  };
  const Case cases[] = {
      {"", "script ended without an answer"},
      {"\n\nmenu Input the Spectrum\n", "script line 3: expected an answer to dialog"},
      {"dialog Calibration\nok\n", "script line 1: expected dialog \"Calibration\""},
      {"dialog\nradio 9\nok\n", "script line 2: no entry 9"},
      {"dialog\ncheck 1 maybe\nok\n", "script line 2: check wants on or off"},
      {"dialog\ncombo 1\nok\n", "script line 2: the dialog shows no combo box"},
      {"dialog\nradio 1\n", "the script ended without an answer"},
      {"dialog\nyes\n", "script line 2: 'yes' is no answer inside a dialog"},
  };
  for (const auto& c : cases) {
    std::ostringstream log;
    ScriptPort port(c.script, log);
    DialogRequest r = PrepareDialog("Input the Spectrum", 0, 600, 420);
    ShowRadioGroup(r, 1, 1, 0, 100, 100, 0, {"1", "2"}, 1);
    ShowCheckList(r, 0, 0, 100, 100, {"a"});
    EXPECT_FALSE(port.ShowDialog(r)) << c.script;
    EXPECT_TRUE(port.failed()) << c.script;
    EXPECT_NE(port.error().find(c.expected), std::string::npos) << port.error();
    // Once stopped, every later request is refused without reading further, also at the end of the
    // script, where questions are otherwise answered yes.
    EXPECT_FALSE(port.AskYesNo("again?"));
    port.SetEndOfScript();
    EXPECT_FALSE(port.AskOkCancel("quit?"));
  }
}

TEST(Dialog, GridCellsAndFileSelection) {
  EXPECT_EQ(FormatGridCell(8, 4095.0), "    4095");
  EXPECT_EQ(FormatGridCell(8, 0.25), "0.250000");
  EXPECT_EQ(FormatGridCell(4, 123456.0), "1.234560E+05");  // whole but too wide: exponent form
  std::ostringstream log;
  ScriptPort port("dialog\nedit   \nok\ndialog\nedit out/b.res\nok\n", log);
  std::string name = "a.res";
  EXPECT_FALSE(SelectFile(port, name, 1, "Output file name"));
  EXPECT_NE(log.str().find("message: Empty string"), std::string::npos);
  EXPECT_TRUE(SelectFile(port, name, 2, "Name"));
  EXPECT_EQ(name, "out/b.res");
  ScriptPort open("file /nonexistent/q.ini\n", log);
  EXPECT_FALSE(SelectFile(open, name, 0));
  EXPECT_NE(log.str().find("message: No file /nonexistent/q.ini"), std::string::npos);

  // Paths keep their blanks: a chosen file opens, a typed name loses only the blanks around it.
  const auto folder = std::filesystem::temp_directory_path() / ("orv dialog " + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "my data");
  const std::string spaced = (folder / "my data" / "run 1.ini").string();
  std::ofstream(spaced) << "STOP\n";
  ScriptPort choose("file " + spaced + "\ndialog\nedit   my out/b 1.res \nok\n", log);
  EXPECT_TRUE(SelectFile(choose, name, 0));
  EXPECT_EQ(name, spaced);
  EXPECT_TRUE(SelectFile(choose, name, 1, "Output file name"));
  EXPECT_EQ(name, "my out/b 1.res");
  std::filesystem::remove_all(folder);
}

TEST(Dialog, HelpBlocks) {
  using Lines = std::vector<std::string>;
  const Lines block = {"one", "two", "odin", "dva"};
  EXPECT_EQ(LoadHelpText(2, block, false), (Lines{"one", "two"}));
  EXPECT_EQ(LoadHelpText(2, block, true), (Lines{"odin", "dva"}));
  EXPECT_EQ(LoadHelpText(-2, block, true), (Lines{"one", "two"}));
  EXPECT_EQ(LoadHelpText(9, block, true), (Lines{" "}));
}

TEST(ScriptPort, IndicesAreWholeNumbersInRange) {
  for (const char* answer : {"radio 1e20", "radio 1 2", "radio 1.5", "radio -1", "radio", "radio\t3"}) {
    std::ostringstream log;
    ScriptPort port(std::string("dialog\n") + answer + "\nok\n", log);
    DialogRequest r = PrepareDialog("Any", 0, 600, 420);
    ShowRadioGroup(r, 1, 1, 0, 100, 100, 0, {"a", "b", "c"}, 1);
    const bool tab = answer[5] == '\t';  // a tab separates like a blank
    EXPECT_EQ(port.ShowDialog(r), tab) << answer;
    EXPECT_EQ(r.radio1->chosen, tab ? 3 : 1) << answer;
  }
}

}  // namespace
}  // namespace orv
