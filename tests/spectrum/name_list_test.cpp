#include "spectrum/name_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::ChooseRadio;
using testing::FakePort;

SpectrumNameList ListOf(const std::vector<std::string>& names) {
  SpectrumNameList list;
  for (std::size_t k = 0; k < names.size(); ++k) list.names[k + 1] = names[k];
  return list;
}

std::vector<std::string> InUse(const SpectrumNameList& list, int count) {
  return std::vector<std::string>(list.names.begin() + 1, list.names.begin() + 1 + count);
}

FakePort::Answer TypeName(const std::string& name) {
  return [name](DialogRequest& r) {
    r.edit->text = name;
    return true;
  };
}

TEST(NameList, ReadingAListFile) {
  SpectrumNameList list;
  std::istringstream three("  a.spc\n\nb.spc  \r\n   \n\tdir/c d.spc\n");
  ASSERT_EQ(ReadNameListFile(three, list), 3);
  EXPECT_EQ(InUse(list, 3), (std::vector<std::string>{"a.spc", "b.spc", "dir/c d.spc"}));

  std::ostringstream many;
  for (int k = 1; k <= 150; ++k) many << "s" << k << ".spc\n";
  std::istringstream in(many.str());
  ASSERT_EQ(ReadNameListFile(in, list), 100);
  EXPECT_EQ(list.names[99], "s99.spc");
  EXPECT_EQ(list.names[100], "s150.spc");

  std::istringstream empty("\n \n");
  EXPECT_EQ(ReadNameListFile(empty, list), 0);
}

TEST(NameList, RemovingANameKeepsTheOrderAndTheCount) {
  SpectrumNameList list = ListOf({"a.spc", "b.spc", "a.spc", "c.spc"});
  int count = 4;
  RemoveSpectrumName(list, count, "a.spc");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(InUse(list, 2), (std::vector<std::string>{"b.spc", "c.spc"}));
  EXPECT_TRUE(list.names[3].empty() && list.names[4].empty());
  RemoveSpectrumName(list, count, "missing.spc");
  EXPECT_EQ(count, 2);
  RemoveSpectrumName(list, count, "c.spc");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(list.names[1], "b.spc");
  count = -5;  // a count out of range removes nothing and becomes sound
  RemoveSpectrumName(list, count, "b.spc");
  EXPECT_EQ(count, 0);
}

TEST(NameList, DialogModeKeepsTheFirst200) {
  AnalysisState state;
  SpectrumNameList list = ListOf({"old.spc"});
  state.nameCount = 1;
  FakePort port;
  std::vector<std::string> chosen;
  for (int k = 1; k <= 250; ++k) chosen.push_back("/spectra/f" + std::to_string(k) + ".spc");
  port.fileGroups.push_back(chosen);
  port.AcceptNext();
  port.AcceptNext();
  InputSpectrumNamesCommand(state, list, port);
  EXPECT_EQ(state.nameCount, 200);
  EXPECT_EQ(list.names[1], "/spectra/f1.spc");
  EXPECT_EQ(list.names[200], "/spectra/f200.spc");
  EXPECT_TRUE(list.names[201].empty());
  ASSERT_EQ(port.fileRequests.size(), 1u);
  EXPECT_EQ(port.fileRequests[0].title, "Select the file group");

  ASSERT_EQ(port.shown.size(), 2u);
  const DialogRequest& mode = port.shown[0];
  EXPECT_EQ(mode.caption, "Creation of Spectrum Name List");
  EXPECT_TRUE(mode.left == 250 && mode.width == 330 && mode.height == 430);
  ASSERT_TRUE(mode.radio1.has_value());
  EXPECT_EQ(mode.radio1->items,
            (std::vector<std::string>{"Get the list from DialogBox", "Enter the list from a file"}));
  EXPECT_EQ(mode.radio1->chosen, 1);
  ASSERT_TRUE(port.shown[1].listBox.has_value());
  EXPECT_EQ(port.shown[1].listBox->lines,
            (std::vector<std::string>{"Spectrum Name List", "has been created", "  200 items"}));
}

TEST(NameList, CancelAnywhereKeepsTheList) {
  AnalysisState state;
  SpectrumNameList list = ListOf({"old1.spc", "old2.spc"});
  state.nameCount = 2;
  FakePort port;
  InputSpectrumNamesCommand(state, list, port);  // the mode dialog cancelled
  port.AcceptNext();
  InputSpectrumNamesCommand(state, list, port);  // the file selection cancelled
  port.answers.push_back(ChooseRadio(2));
  InputSpectrumNamesCommand(state, list, port);  // the file name dialog cancelled
  port.answers.push_back(ChooseRadio(2));
  port.answers.push_back(TypeName("/no/such/names.tab"));
  InputSpectrumNamesCommand(state, list, port);
  EXPECT_EQ(port.messages, std::vector<std::string>{"No file /no/such/names.tab"});
  EXPECT_EQ(state.nameCount, 2);
  EXPECT_EQ(InUse(list, 2), (std::vector<std::string>{"old1.spc", "old2.spc"}));
  EXPECT_EQ(port.shown.size(), 6u);  // no report dialog
}

TEST(NameList, FileModeFindsTheListInTheStartFolder) {
  const auto dir = std::filesystem::temp_directory_path() / ("orv_name_list_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream f(dir / "spfn.tab");
    f << "  one.spc\n\ntwo.spc\n\n three.spc  \n";
    std::ofstream e(dir / "empty.tab");
  }
  AnalysisState state;
  state.startDir = dir.string();
  SpectrumNameList list = ListOf({"old.spc"});
  state.nameCount = 1;
  FakePort port;
  port.answers.push_back(ChooseRadio(2));
  port.AcceptNext();  // the preset name, relative: found in the start folder
  port.AcceptNext();
  InputSpectrumNamesCommand(state, list, port);
  ASSERT_EQ(port.shown.size(), 3u);
  ASSERT_TRUE(port.shown[1].edit.has_value());
  EXPECT_EQ(port.shown[1].edit->text, "spfn.tab");
  EXPECT_EQ(state.nameCount, 3);
  EXPECT_EQ(InUse(list, 3), (std::vector<std::string>{"one.spc", "two.spc", "three.spc"}));
  EXPECT_TRUE(list.names[4].empty());
  EXPECT_EQ(state.nameListFile, "spfn.tab");
  EXPECT_EQ(port.shown[2].listBox->lines.back(), "  3 items");

  port.answers.push_back(ChooseRadio(2));
  port.answers.push_back(TypeName((dir / "empty.tab").string()));
  port.AcceptNext();
  InputSpectrumNamesCommand(state, list, port);
  EXPECT_EQ(state.nameCount, 0);
  EXPECT_EQ(port.shown.back().listBox->lines.back(), "  0 items");
  EXPECT_TRUE(port.messages.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orv
