#include "spectrum/name_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::ChooseRadio;
using testing::FakePort;
using testing::TypeText;
using Names = std::vector<std::string>;

SpectrumNameList ListOf(const Names& names) {
  SpectrumNameList list;
  for (std::size_t k = 0; k < names.size(); ++k) list.names[k + 1] = names[k];
  return list;
}

Names InUse(const SpectrumNameList& list, int count) {
  return Names(list.names.begin() + 1, list.names.begin() + 1 + count);
}

TEST(NameList, ReadingAndRemoving) {
  SpectrumNameList list;
  std::istringstream three("  a.spc\n\nb.spc  \r\n   \n\tdir/c d.spc\n");
  ASSERT_EQ(ReadNameListFile(three, list), 3);
  EXPECT_EQ(InUse(list, 3), (Names{"a.spc", "b.spc", "dir/c d.spc"}));
  std::ostringstream many;
  for (int k = 1; k <= 150; ++k) many << "s" << k << ".spc\n";
  std::istringstream in(many.str());
  ASSERT_EQ(ReadNameListFile(in, list), 100);
  EXPECT_EQ(list.names[100], "s150.spc");

  // Removing keeps the order and the count.
  list = ListOf({"a.spc", "b.spc", "a.spc", "c.spc"});
  int count = 4;
  RemoveSpectrumName(list, count, "a.spc");
  RemoveSpectrumName(list, count, "missing.spc");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(InUse(list, 4), (Names{"b.spc", "c.spc", "", ""}));
  count = -5;  // a count out of range removes nothing and becomes sound
  RemoveSpectrumName(list, count, "b.spc");
  EXPECT_EQ(count, 0);
}

TEST(NameList, DialogModeKeepsTheFirst200) {
  AnalysisState state;
  SpectrumNameList list = ListOf({"old.spc"});
  state.nameCount = 1;
  FakePort port;
  Names chosen;
  for (int k = 1; k <= 250; ++k) chosen.push_back("/spectra/f" + std::to_string(k) + ".spc");
  port.fileGroups.push_back(chosen);
  port.fallback = [](DialogRequest&) { return true; };
  InputSpectrumNamesCommand(state, list, port);
  EXPECT_EQ(state.nameCount, 200);
  EXPECT_EQ(list.names[200] + list.names[201], "/spectra/f200.spc");
}

TEST(NameList, CancelAnywhereKeepsTheList) {
  AnalysisState state;
  SpectrumNameList list = ListOf({"old1.spc", "old2.spc"});
  state.nameCount = 2;
  FakePort port;
  port.answers = {testing::Refuse(), ChooseRadio(1), ChooseRadio(2),
                  testing::Refuse(), ChooseRadio(2), TypeText("/no/such/names.tab")};
  // Cancelled: the mode dialog, the file selection, the file name dialog; then a missing file.
  for (int k = 0; k < 4; ++k) InputSpectrumNamesCommand(state, list, port);
  EXPECT_EQ(port.messages, Names{"No file /no/such/names.tab"});
  EXPECT_EQ(state.nameCount, 2);
  EXPECT_EQ(InUse(list, 2), (Names{"old1.spc", "old2.spc"}));
  EXPECT_EQ(port.shown.size(), 6u);  // no report dialog
}

TEST(NameList, FileModeFindsTheListInTheStartFolder) {
  const auto dir = std::filesystem::temp_directory_path() / ("orv_name_list_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "spfn.tab") << "  one.spc\n\ntwo.spc\n\n three.spc  \n";
  std::ofstream(dir / "empty.tab").close();
  AnalysisState state;
  state.startDir = dir.string();
  SpectrumNameList list = ListOf({"old.spc"});
  state.nameCount = 1;
  FakePort port;
  port.answers = {ChooseRadio(2)};
  port.fallback = [](DialogRequest&) { return true; };  // the preset name, relative: in the start folder
  InputSpectrumNamesCommand(state, list, port);
  ASSERT_EQ(port.shown.size(), 3u);
  EXPECT_EQ(std::tuple(state.nameCount, state.nameListFile, port.shown[2].listBox->lines.back()),
            std::tuple(3, "spfn.tab", "  3 items"));
  EXPECT_EQ(InUse(list, 4), (Names{"one.spc", "two.spc", "three.spc", ""}));

  port.answers = {ChooseRadio(2), TypeText((dir / "empty.tab").string())};
  InputSpectrumNamesCommand(state, list, port);  // an empty list file
  EXPECT_EQ(std::tuple(state.nameCount, port.shown.back().listBox->lines.back(), port.messages.size()),
            std::tuple(0, "  0 items", 0u));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orv
